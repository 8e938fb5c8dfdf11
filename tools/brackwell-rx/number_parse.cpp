#include "number_parse.h"

#include <charconv>
#include <cmath>

namespace bw::rx {

namespace {
// from_chars over the whole text; anything left over is a refusal.
template <typename T, typename... Extra>
std::optional<T> parseWhole(std::string_view text, Extra... extra) {
  if (text.empty()) return std::nullopt;
  T value{};
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, extra...);
  if (ec != std::errc{} || ptr != end) return std::nullopt;
  return value;
}
}  // namespace

std::optional<std::int32_t> parseInt32(std::string_view text) {
  return parseWhole<std::int32_t>(text, 10);
}

std::optional<double> parseFiniteDouble(std::string_view text) {
  // The general format takes both "1500" and "1.5e3"; from_chars also reads
  // "inf" and "nan", which no option accepts.
  const auto value = parseWhole<double>(text, std::chars_format::general);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return value;
}

std::optional<std::uint32_t> parseHex32(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  // from_chars would take a sign for signed types only; a '+' is refused too.
  if (text.empty() || text.front() == '+' || text.front() == '-') {
    return std::nullopt;
  }
  return parseWhole<std::uint32_t>(text, 16);
}

}  // namespace bw::rx
