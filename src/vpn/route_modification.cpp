#include "vpn/route_modification.h"

#include <cstring>
#include <vector>

#include "base/text.h"

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c; }

size_t FindMaskWord(std::wstring_view line) {
  static constexpr std::wstring_view kWord = L"mask";
  if (line.size() < kWord.size()) return std::wstring_view::npos;
  for (size_t at = 0; at + kWord.size() <= line.size(); ++at) {
    size_t i = 0;
    while (i < kWord.size() && FoldAscii(line[at + i]) == kWord[i]) ++i;
    if (i == kWord.size()) return at;
  }
  return std::wstring_view::npos;
}

std::wstring_view Trimmed(std::wstring_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// One part of a dotted address: decimal, 0-prefixed octal or 0x-prefixed hexadecimal.
std::optional<uint32_t> ParsePart(std::string_view part) {
  if (part.empty()) return std::nullopt;
  uint32_t base = 10;
  if (part.size() > 1 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    base = 16;
    part.remove_prefix(2);
    if (part.empty()) return std::nullopt;
  } else if (part.size() > 1 && part[0] == '0') {
    base = 8;
    part.remove_prefix(1);
  }
  uint64_t value = 0;
  for (const char c : part) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = uint32_t(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = uint32_t(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = uint32_t(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

RouteRow RouteCopy(const RouteRow& row, uint32_t destination, uint32_t mask) {
  RouteRow copy = row;
  copy.destination = destination;
  copy.mask = mask;
  return copy;
}

}  // namespace

std::optional<uint32_t> TryParseIpv4(std::string_view text) {
  uint32_t parts[4];
  size_t count = 0;
  while (true) {
    const size_t dot = text.find('.');
    if (count == 4) return std::nullopt;
    const auto part = ParsePart(text.substr(0, dot));
    if (!part) return std::nullopt;
    parts[count++] = *part;
    if (dot == std::string_view::npos) break;
    text.remove_prefix(dot + 1);
  }
  // The last part fills all the bytes the earlier ones left.
  uint32_t host = 0;
  for (size_t i = 0; i + 1 < count; ++i) {
    if (parts[i] > 0xFF) return std::nullopt;
    host |= parts[i] << (24 - 8 * i);
  }
  const uint32_t lastLimit = count == 1 ? 0xFFFFFFFFu : (0xFFFFFFFFu >> (8 * (count - 1)));
  if (parts[count - 1] > lastLimit) return std::nullopt;
  host |= parts[count - 1];

  const uint8_t bytes[4] = {uint8_t(host >> 24), uint8_t(host >> 16), uint8_t(host >> 8),
                            uint8_t(host)};
  uint32_t network;
  std::memcpy(&network, bytes, sizeof network);
  return network;
}

bool SplitRouteLine(std::wstring_view line, std::string& destination, std::string& netmask) {
  destination.clear();
  netmask.clear();
  const size_t at = FindMaskWord(line);
  if (at == std::wstring_view::npos) return false;
  destination = WideToAnsi(Trimmed(line.substr(0, at)));
  netmask = WideToAnsi(Trimmed(line.substr(at + 4)));
  return true;
}

uint32_t FindDefaultRoute(RouteTable& table, RouteRow& route, std::vector<RouteRow>* rowsRead) {
  std::vector<RouteRow> own;
  std::vector<RouteRow>& rows = rowsRead != nullptr ? *rowsRead : own;
  if (const uint32_t result = table.ReadForwardTable(rows); result != 0) return result;
  const RouteRow* best = nullptr;
  for (const RouteRow& row : rows) {
    if (row.destination != 0 || row.mask != 0) continue;
    if (best == nullptr || row.metric1 < best->metric1) best = &row;
  }
  if (best == nullptr) return kRouteErrorInvalidData;
  route = *best;
  route.age = 0;
  return 0;
}

uint32_t BuildTunnelRoute(RouteTable& table, RouteRow& row, std::string_view localAddress) {
  std::vector<AdapterAddress> adapters;
  if (const uint32_t result = table.ReadAdapters(adapters); result != 0) return result;
  const std::string local = LowerAscii(localAddress);
  for (const AdapterAddress& adapter : adapters) {
    if (LowerAscii(adapter.firstIpAddress) == local) row.interfaceIndex = adapter.index;
  }
  row.destination = 0;
  row.mask = 0;
  row.policy = 0;
  // A local address that does not parse leaves no usable next hop; 0 makes the system refuse
  // every route built on it rather than send them to the broadcast address.
  row.nextHop = TryParseIpv4(localAddress).value_or(0);
  row.type = kRouteTypeDirect;
  row.protocol = kRouteProtocolNetMgmt;
  row.age = 0;
  row.nextHopAs = 0;
  row.metric2 = row.metric3 = row.metric4 = row.metric5 = 0xFFFFFFFFu;
  return 0;
}

void ApplyInterfaceMetric(RouteTable& table, RouteRow& row) {
  std::vector<InterfaceMetric> metrics;
  if (!table.ReadInterfaceMetrics(metrics)) {
    row.metric1 = 1;
    return;
  }
  for (const InterfaceMetric& entry : metrics) {
    if (entry.interfaceIndex == row.interfaceIndex) {
      row.metric1 = entry.metric + 1;
      return;
    }
  }
}

uint32_t CreateRoute(RouteTable& table, std::string_view destination, std::string_view netmask,
                     const RouteRow& row, bool allowDefaultRoute) {
  const auto to = TryParseIpv4(destination);
  const auto mask = TryParseIpv4(netmask);
  if (!to || !mask || (*mask == 0 && !allowDefaultRoute)) return kRouteErrorInvalidParameter;
  return table.CreateRow(RouteCopy(row, *to, *mask));
}

uint32_t DeleteRoute(RouteTable& table, std::string_view destination, std::string_view netmask,
                     const RouteRow& row, bool allowDefaultRoute) {
  const auto to = TryParseIpv4(destination);
  const auto mask = TryParseIpv4(netmask);
  if (!to || !mask || (*mask == 0 && !allowDefaultRoute)) return 0;
  return table.DeleteRow(RouteCopy(row, *to, *mask));
}
