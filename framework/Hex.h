#pragma once

// Bytes as lower-case hexadecimal text, two digits a byte: digests and serial numbers as the seal
// log writes them. A plain function of any thread.

#include <string>
#include <string_view>

[[nodiscard]] std::string HexOf(std::string_view bytes);
