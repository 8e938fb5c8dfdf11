// Strict parsing of command-line numbers: the whole text must be one number
// of the asked-for kind, with no spaces, no trailing characters and no
// overflow. Each returns nullopt for anything else.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace bw::rx {

// A decimal 32-bit signed integer, optional leading '-'.
std::optional<std::int32_t> parseInt32(std::string_view text);

// A finite decimal floating-point number (fixed or exponent form); "inf" and
// "nan" are refused.
std::optional<double> parseFiniteDouble(std::string_view text);

// A 32-bit unsigned hexadecimal number, with or without a 0x/0X prefix.
std::optional<std::uint32_t> parseHex32(std::string_view text);

}  // namespace bw::rx
