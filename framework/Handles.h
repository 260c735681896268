#pragma once

// RAII owners for Win32 handles, GDI objects and COM-style interfaces. Every CloseHandle,
// DeleteObject, DeleteDC, ReleaseDC and Release of the program lives in this header.

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <utility>

namespace lumeno {

// One move-only owner; Traits gives the invalid value and how to release a valid one.
template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() noexcept = default;
    explicit UniqueResource(Type value) noexcept : m_value(value) {}
    ~UniqueResource() { Reset(); }

    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    UniqueResource(UniqueResource&& other) noexcept : m_value(other.Release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    [[nodiscard]] Type Get() const noexcept { return m_value; }
    [[nodiscard]] bool IsValid() const noexcept { return m_value != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    // Gives up ownership without releasing.
    [[nodiscard]] Type Release() noexcept { return std::exchange(m_value, Traits::Invalid()); }

    void Reset(Type value = Traits::Invalid()) noexcept
    {
        Type old = std::exchange(m_value, value);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

    // For out-parameters of creating functions: releases what is held first.
    Type* Put() noexcept
    {
        Reset();
        return &m_value;
    }

private:
    Type m_value = Traits::Invalid();
};

struct KernelHandleTraits {  // events, threads, mutexes: NULL is invalid
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFileW results: INVALID_HANDLE_VALUE is invalid
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::FindClose(h); }
};
template <typename T>
struct GdiObjectTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};
struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteDC(h); }
};
struct MenuTraits {
    using Type = HMENU;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DestroyMenu(h); }
};
struct IconTraits {
    using Type = HICON;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DestroyIcon(h); }
};
struct ModuleTraits {
    using Type = HMODULE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::FreeLibrary(h); }
};
struct RegionTraits : GdiObjectTraits<HRGN> {};
struct CryptAlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};
struct CryptHashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};

struct CertStoreTraits {
    using Type = HCERTSTORE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CertCloseStore(h, 0); }
};
struct CertContextTraits {
    using Type = PCCERT_CONTEXT;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CertFreeCertificateContext(h); }
};
struct CertChainTraits {
    using Type = PCCERT_CHAIN_CONTEXT;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CertFreeCertificateChain(h); }
};
struct CertChainEngineTraits {
    using Type = HCERTCHAINENGINE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CertFreeCertificateChainEngine(h); }
};
struct CryptMessageTraits {
    using Type = HCRYPTMSG;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CryptMsgClose(h); }
};
struct InternetTraits {  // WinHTTP sessions, connections and requests
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};

using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueFind = UniqueResource<FindHandleTraits>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;
using UniqueBitmap = UniqueResource<GdiObjectTraits<HBITMAP>>;
using UniqueFont = UniqueResource<GdiObjectTraits<HFONT>>;
using UniqueBrush = UniqueResource<GdiObjectTraits<HBRUSH>>;
using UniquePen = UniqueResource<GdiObjectTraits<HPEN>>;
using UniqueRegion = UniqueResource<RegionTraits>;
using UniqueMenu = UniqueResource<MenuTraits>;
using UniqueIcon = UniqueResource<IconTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueCryptAlgorithm = UniqueResource<CryptAlgorithmTraits>;
using UniqueCryptHash = UniqueResource<CryptHashTraits>;
using UniqueCertStore = UniqueResource<CertStoreTraits>;
using UniqueCertContext = UniqueResource<CertContextTraits>;
using UniqueCertChain = UniqueResource<CertChainTraits>;
using UniqueCertChainEngine = UniqueResource<CertChainEngineTraits>;
using UniqueCryptMessage = UniqueResource<CryptMessageTraits>;
using UniqueInternet = UniqueResource<InternetTraits>;

// A DC borrowed with GetDC: keeps the window it came from for ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) noexcept : m_hwnd(hwnd), m_hdc(::GetDC(hwnd)) {}
    ~WindowDc()
    {
        if (m_hdc)
            ::ReleaseDC(m_hwnd, m_hdc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    [[nodiscard]] HDC Get() const noexcept { return m_hdc; }
    explicit operator bool() const noexcept { return m_hdc != nullptr; }

private:
    HWND m_hwnd;
    HDC m_hdc;
};

// BeginPaint/EndPaint pair.
class PaintDc {
public:
    explicit PaintDc(HWND hwnd) noexcept : m_hwnd(hwnd) { m_hdc = ::BeginPaint(hwnd, &m_ps); }
    ~PaintDc() { ::EndPaint(m_hwnd, &m_ps); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    [[nodiscard]] HDC Get() const noexcept { return m_hdc; }
    [[nodiscard]] const PAINTSTRUCT& Info() const noexcept { return m_ps; }

private:
    HWND m_hwnd;
    PAINTSTRUCT m_ps{};
    HDC m_hdc = nullptr;
};

// SelectObject with the DC and the previous object kept, restored on destruction.
class SelectGuard {
public:
    SelectGuard(HDC hdc, HGDIOBJ obj) noexcept : m_hdc(hdc), m_old(::SelectObject(hdc, obj)) {}
    ~SelectGuard()
    {
        if (m_old && m_old != HGDI_ERROR)
            ::SelectObject(m_hdc, m_old);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;

private:
    HDC m_hdc;
    HGDIOBJ m_old;
};

// Owner of one reference of a COM-style interface pointer. The release function is a parameter
// because some libraries (AVIFIL32) have their own release entry points.
template <typename T, ULONG(WINAPI* ReleaseFn)(T*) = nullptr>
class ComRef {
public:
    ComRef() noexcept = default;
    explicit ComRef(T* p) noexcept : m_p(p) {}
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ComRef& operator=(ComRef&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }

    [[nodiscard]] T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    T** Put() noexcept
    {
        Reset();
        return &m_p;
    }
    void Reset() noexcept
    {
        if (T* p = std::exchange(m_p, nullptr)) {
            if constexpr (ReleaseFn != nullptr)
                ReleaseFn(p);
            else
                p->Release();
        }
    }

private:
    T* m_p = nullptr;
};

}  // namespace lumeno
