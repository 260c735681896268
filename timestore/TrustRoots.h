#pragma once

// Roots a time-stamp token may chain to besides the system's own: a private authority's root, or
// a test's. Read from files in DER or PEM (a PEM file may hold several certificates).
// Threads: filled by one thread before use, then only read (the store is never changed again).

#include <string>
#include <string_view>

#include "framework/Handles.h"

class CTrustRoots {
public:
    CTrustRoots();

    // Adds every certificate of a DER or PEM file; false (nothing added) when it holds none.
    [[nodiscard]] bool AddFile(const std::wstring& path);
    [[nodiscard]] bool AddBytes(std::string_view bytes);
    [[nodiscard]] int Count() const { return m_nCount; }
    [[nodiscard]] HCERTSTORE Store() const { return m_hStore.Get(); }

private:
    lumeno::UniqueCertStore m_hStore;
    int m_nCount = 0;
};
