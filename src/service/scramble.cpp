#include "service/scramble.h"

#include <cstdint>

ScrambledValue ScrambleValue(std::string_view text, const RandomSource& random) {
  ScrambledValue value;
  const size_t n = text.size();
  value.scrambled.reserve(n);
  value.key.reserve(n);
  size_t position = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = static_cast<uint8_t>(random() & 0xFF);
    if (i == 0) position = (255u - c) % n;
    value.key.push_back(static_cast<char>(c));
    const uint8_t plain = static_cast<uint8_t>(text[position]);
    uint8_t mixed = 0;
    switch (position % 3) {
      case 0:
        mixed = plain ^ c;
        break;
      case 1:
        mixed = static_cast<uint8_t>(plain + c);
        break;
      default:
        mixed = static_cast<uint8_t>(plain - c);
        break;
    }
    value.scrambled.push_back(static_cast<char>(mixed));
    position = (position + 1) % n;
  }
  return value;
}

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                       (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8) |
                       static_cast<uint8_t>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const size_t rest = bytes.size() - i;
  if (rest == 0) return out;
  uint32_t v = uint32_t{static_cast<uint8_t>(bytes[i])} << 16;
  if (rest == 2) v |= uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8;
  out += kAlphabet[(v >> 18) & 63];
  out += kAlphabet[(v >> 12) & 63];
  out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
  out += '=';
  return out;
}
