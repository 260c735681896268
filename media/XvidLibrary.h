#pragma once

// The Xvid library, bound at run time from xvidcore.dll in the executable's own folder, never from
// the search path: a codec picked up from elsewhere could write files nobody can vouch for, and a
// missing DLL must be reported in words rather than by the system loader. The binding is made once
// per process, on first use, and never changes afterwards, so any thread may call through it.

#include "framework/Handles.h"

#include <string>

class CXvidLibrary {
public:
    // The version of the library's interface the program writes into every call's structures.
    static constexpr int kWrittenVersion = 0x010302;

    enum class Problem { None, Missing, NotLoadable, FunctionMissing, TooOld };
    using Function = int (*)(void* handle, int opt, void* param1, void* param2);

    // The process's binding, made from ExecutableDirectory() the first time it is asked for.
    static const CXvidLibrary& Shared();
    // Binds the DLL of the given folder (the tests use this for folders of their own).
    explicit CXvidLibrary(const std::wstring& folder);

    [[nodiscard]] Problem GetProblem() const { return m_problem; }
    [[nodiscard]] bool HasDecoder() const { return m_pfnDecore != nullptr; }
    // The version the library reports (0 when it was not asked or could not say).
    [[nodiscard]] int ActualVersion() const { return m_nActualVersion; }
    // Says in Chinese what is wrong and where the DLL must go; "" when nothing is.
    [[nodiscard]] std::wstring ProblemText() const;

    // Calls into the library; XVID_ERR_FAIL (-1) when it is not bound.
    int Global(void* handle, int opt, void* param1, void* param2) const;
    int Encore(void* handle, int opt, void* param1, void* param2) const;
    int Decore(void* handle, int opt, void* param1, void* param2) const;

private:
    std::wstring m_strFolder;
    lumeno::UniqueModule m_module;
    Problem m_problem = Problem::Missing;
    unsigned long m_dwLoadError = 0;
    const wchar_t* m_pszMissingFunction = L"";
    int m_nActualVersion = 0;
    Function m_pfnGlobal = nullptr;
    Function m_pfnEncore = nullptr;
    Function m_pfnDecore = nullptr;
};
