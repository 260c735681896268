#include "timestore/SealLogReader.h"

#include <cstring>

#include "timestore/SealFormat.h"

bool CSealLogReader::Open(const std::wstring& path)
{
    m_buffer = std::make_unique<char[]>(kBufferBytes);
    m_nFilled = m_nAt = 0;
    m_bEnd = m_bFailed = false;
    m_llLines = 0;
    // Last: a caller reads GetLastError() after a failure.
    m_hFile.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    return static_cast<bool>(m_hFile);
}

bool CSealLogReader::Next(Line& line)
{
    line.text.clear();
    line.ended = false;
    line.bTooLong = false;
    bool any = false;
    while (m_hFile) {
        if (m_nAt == m_nFilled) {
            if (m_bEnd)
                break;
            m_nAt = 0;
            if (!ReadFile(m_hFile.Get(), m_buffer.get(), kBufferBytes, &m_nFilled, nullptr)) {
                m_bFailed = true;
                m_nFilled = 0;
            }
            m_bEnd = m_nFilled == 0;
            continue;
        }
        any = true;
        const char* from = m_buffer.get() + m_nAt;
        const void* stop = std::memchr(from, '\n', m_nFilled - m_nAt);
        const DWORD length = stop ? static_cast<DWORD>(static_cast<const char*>(stop) - from) : m_nFilled - m_nAt;
        // One byte past the longest record is enough to know a line is too long.
        const std::size_t room = CSealFormat::kMaxLineBytes + 1 - line.text.size();
        line.text.append(from, length < room ? length : room);
        line.bTooLong = line.bTooLong || length > room;
        m_nAt += length;
        if (stop) {
            ++m_nAt;
            line.ended = true;
            break;
        }
    }
    if (!any)
        return false;
    if (line.ended && !line.text.empty() && line.text.back() == '\r')
        line.text.pop_back();  // a log copied through a text-mode tool
    line.bTooLong = line.bTooLong || line.text.size() > CSealFormat::kMaxLineBytes;
    line.llNumber = ++m_llLines;
    return true;
}
