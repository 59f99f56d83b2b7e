#include "vpn/ipv6_route_table.h"

#include <cstdio>

bool Ipv6PrefixContains(const Ipv6Bytes& prefix, uint32_t prefixLength, const Ipv6Bytes& address) {
  if (prefixLength > 128) return false;
  const uint32_t whole = prefixLength / 8;
  for (uint32_t i = 0; i < whole; ++i) {
    if (prefix[i] != address[i]) return false;
  }
  const uint32_t bits = prefixLength % 8;
  if (bits == 0) return true;
  const auto mask = static_cast<uint8_t>(0xFF << (8 - bits));
  return (prefix[whole] & mask) == (address[whole] & mask);
}

std::string Ipv6Text(const Ipv6Bytes& address) {
  uint16_t groups[8];
  for (size_t i = 0; i < 8; ++i) groups[i] = uint16_t(address[2 * i] << 8 | address[2 * i + 1]);
  // The longest run of two or more zero groups becomes "::" (the first of equal runs).
  int bestAt = -1;
  int bestLength = 1;
  for (int i = 0; i < 8;) {
    int end = i;
    while (end < 8 && groups[end] == 0) ++end;
    if (end - i > bestLength) {
      bestAt = i;
      bestLength = end - i;
    }
    i = end == i ? i + 1 : end;
  }
  std::string text;
  char group[8];
  for (int i = 0; i < 8; ++i) {
    if (i == bestAt) {
      text += "::";
      i += bestLength - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    std::snprintf(group, sizeof group, "%x", groups[i]);
    text += group;
  }
  return text;
}
