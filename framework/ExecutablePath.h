#pragma once

// Where the running executable lives. Paths are read into buffers of MAX_PATH (260) characters; a
// path that does not fit yields an empty string rather than a cut one.

#include <string>

// The full path of the running executable, or "" when it cannot be obtained whole.
[[nodiscard]] std::wstring ExecutablePath();
// Its directory, without a trailing backslash, or "" when the path cannot be obtained.
[[nodiscard]] std::wstring ExecutableDirectory();
