#pragma once

// The stand-in time-stamp authority (tools/tsa-standin.py: openssl ts behind a small HTTP
// server on 127.0.0.1, with a test PKI of its own) run from a test under Wine.

#include <string>

#include "support/TestSupport.h"

namespace testsupport {

class TsaStandIn {
public:
    TsaStandIn();  // starts it and waits until it listens
    ~TsaStandIn() { Kill(); }
    TsaStandIn(const TsaStandIn&) = delete;
    TsaStandIn& operator=(const TsaStandIn&) = delete;

    [[nodiscard]] bool IsListening() const { return m_port > 0; }
    [[nodiscard]] std::wstring Url() const { return L"http://127.0.0.1:" + std::to_wstring(m_port) + L"/"; }
    // ok, slow:SECONDS, garbage, reset, otherhash, untrusted, noeku (see the script)
    void SetMode(const std::string& mode) { WriteText(m_dir.File(L"mode"), mode); }
    [[nodiscard]] std::wstring RootPem() const { return m_dir.File(L"ca.crt"); }
    [[nodiscard]] std::wstring RootDer() const { return m_dir.File(L"ca.der"); }
    [[nodiscard]] int Requests() const;
    // Down (nothing listens on its port) and back up on the same port.
    void Kill();
    [[nodiscard]] bool Start();

    // A token for a 64-digit hash from the stand-in in its current mode; empty (see LastProblem()) if none.
    [[nodiscard]] std::string TokenFor(const std::string& hexHash) const;
    [[nodiscard]] std::string LastProblem() const;

private:
    TempFolder m_dir{L"tsa"};
    int m_port = 0;
    mutable std::string m_strProblem;
};

}  // namespace testsupport
