// Reading pattern text: Unicode white space trimmed before a pattern is parsed.
#include "engine/expr_reader.h"

#include <cstdint>

namespace kestrel {

namespace {

// The code points with the Unicode White_Space property.
bool is_white_space(std::uint32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the UTF-8 sequence text[begin, end); a malformed sequence decodes
// to a value that is not white space.
std::uint32_t decode(std::string_view text, std::size_t begin, std::size_t end) {
  const auto lead = static_cast<unsigned char>(text[begin]);
  const std::size_t len = end - begin;
  std::uint32_t c;
  if (lead < 0x80) return len == 1 ? lead : 0xFFFFFFFF;
  if ((lead & 0xE0) == 0xC0 && len == 2) {
    c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0 && len == 3) {
    c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0 && len == 4) {
    c = lead & 0x07;
  } else {
    return 0xFFFFFFFF;
  }
  for (std::size_t k = begin + 1; k < end; ++k) c = (c << 6) | (static_cast<unsigned char>(text[k]) & 0x3F);
  return c;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin + 1;
    while (next < text.size() && is_continuation(static_cast<unsigned char>(text[next]))) ++next;
    if (!is_white_space(decode(text, begin, next))) break;
    begin = next;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = end - 1;
    while (start > begin && is_continuation(static_cast<unsigned char>(text[start]))) --start;
    if (!is_white_space(decode(text, start, end))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

}  // namespace kestrel
