#include "support/ModalScript.h"

#include <string>

namespace testsupport {

namespace {

thread_local ModalScript* t_pScript = nullptr;

BOOL CALLBACK EndAnyDialog(HWND hWnd, LPARAM)
{
    wchar_t className[32] = {};
    ::GetClassNameW(hWnd, className, 32);
    if (std::wstring(className) == L"#32770")
        ::EndDialog(hWnd, IDABORT);
    return TRUE;
}

}  // namespace

ModalScript::ModalScript(std::vector<Step> steps, UINT intervalMs, DWORD timeLimitMs)
    : m_steps(std::move(steps)), m_deadline(::GetTickCount64() + timeLimitMs)
{
    t_pScript = this;
    m_timer = ::SetTimer(nullptr, 0, intervalMs, &ModalScript::OnTick);
}

ModalScript::~ModalScript()
{
    if (m_timer)
        ::KillTimer(nullptr, m_timer);
    t_pScript = nullptr;
}

void ModalScript::Abandon()
{
    m_bTimedOut = true;
    m_next = m_steps.size();
    ::EnumThreadWindows(::GetCurrentThreadId(), &EndAnyDialog, 0);
}

void CALLBACK ModalScript::OnTick(HWND, UINT, UINT_PTR, DWORD)
{
    ModalScript* pScript = t_pScript;
    if (!pScript || pScript->m_next >= pScript->m_steps.size())
        return;
    if (::GetTickCount64() > pScript->m_deadline) {
        pScript->Abandon();
        return;
    }
    // Advance first: the step may re-enter this procedure from a nested modal loop.
    const size_t index = pScript->m_next++;
    const bool done = pScript->m_steps[index]();
    if (!done && pScript->m_next == index + 1)
        pScript->m_next = index;
}

}  // namespace testsupport
