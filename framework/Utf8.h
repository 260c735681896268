#pragma once

// The UTF-8 form of UTF-16 text and back: names and texts in files we write as UTF-8, and the
// verifier's console output. Plain functions of any thread.

#include <string>
#include <string_view>

[[nodiscard]] std::string ToUtf8(std::wstring_view text);
[[nodiscard]] std::wstring FromUtf8(std::string_view text);
