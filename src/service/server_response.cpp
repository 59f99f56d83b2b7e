#include "service/server_response.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/file_path.h"
#include "base/text.h"
#include "config/native_private_profile.h"
#include "config/profile_access.h"

namespace {

const std::wstring kVpnSection = L"VPN";
const std::wstring kRoutesSection = L"Routes";
const std::wstring kServersSection = L"Servers";
const std::wstring kAnnouncementsSection = L"Announcements";

std::wstring Indexed(const wchar_t* key, size_t index) { return key + std::to_wstring(index); }

bool IsCSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// _wtoi, saturated instead of undefined on overflow.
int32_t DecimalInteger(std::wstring_view text) {
  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - L'0'), int64_t{INT_MAX} + 1);
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(std::min<int64_t>(value, INT_MAX));
}

// One "%u": blanks, a sign, at least one decimal digit; the value wraps at 32 bits as the C
// library's conversion does.
bool ScanUnsigned(std::wstring_view text, size_t& i, uint32_t& value) {
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  const size_t firstDigit = i;
  uint32_t magnitude = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    magnitude = magnitude * 10u + static_cast<uint32_t>(text[i] - L'0');
  }
  if (i == firstDigit) return false;
  value = negative ? 0u - magnitude : magnitude;
  return true;
}

}  // namespace

bool ContainsResponseMarker(const void* data, size_t length) {
  if (data == nullptr || length < kResponseMarker.size()) return false;
  const std::string_view body(static_cast<const char*>(data), length);
  return body.find(kResponseMarker) != std::string_view::npos;
}

bool IsAcceptedResponse(int32_t statusCode, std::string_view body) {
  return statusCode == 200 && !body.empty() && ContainsResponseMarker(body.data(), body.size());
}

bool SaveResponseBody(const std::wstring& path, std::string_view body) {
  std::ofstream out(FileSystemPath(path), std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(body.data(), static_cast<std::streamsize>(body.size()));
  return static_cast<bool>(out.flush());
}

bool AccountState::LoginSucceeded() const { return EqualsNoCase(authResult, L"OK"); }

bool AccountState::Expired() const { return authResult == L"Expired"; }

AccountState ReadAccountState(PrivateProfile& profile, const std::wstring& file,
                              const std::wstring& unknownClientIp) {
  auto text = [&](const wchar_t* key) {
    return ReadProfileText(profile, file, kVpnSection, key, L"");
  };
  AccountState state;
  state.authResult = text(L"AuthResult");
  state.authMessage = ReadProfileUtf8Text(profile, file, kVpnSection, L"AuthMessage");
  state.expirationGmt = ReadProfileInt64(profile, file, kVpnSection, L"ExpirationDatetimeGMT");
  state.requiredClientVersion = text(L"RequiredClientVersion");
  state.updateUrl = text(L"UpdateURL");
  state.downloadSetup = text(L"DownloadSetup");
  state.downloadGreen = text(L"DownloadGreen");
  state.downloadSetupMd5 = TrimText(text(L"DownloadSetupMD5"));
  state.downloadGreenMd5 = TrimText(text(L"DownloadGreenMD5"));
  state.clientIp = ReadProfileText(profile, file, kVpnSection, L"ClientIP", unknownClientIp);
  return state;
}

std::vector<RouteSetEntry> ReadRouteSets(PrivateProfile& profile, const std::wstring& file) {
  std::vector<RouteSetEntry> sets;
  for (size_t n = 0;; ++n) {
    RouteSetEntry entry;
    entry.title = ReadProfileUtf8Text(profile, file, kRoutesSection, Indexed(L"Title", n));
    if (TrimText(entry.title).empty()) break;
    entry.comment = ReadProfileUtf8Text(profile, file, kRoutesSection, Indexed(L"Comment", n));
    entry.routeId = ReadProfileText(profile, file, kRoutesSection, Indexed(L"RouteId", n), L"");
    entry.modifyDefaultGateway =
        ReadProfileInt(profile, file, kRoutesSection, Indexed(L"ModifyDefaultGateway", n), 0);
    sets.push_back(std::move(entry));
  }
  return sets;
}

std::vector<VpnServerEntry> ReadVpnServers(PrivateProfile& profile, const std::wstring& file) {
  std::vector<VpnServerEntry> servers;
  for (size_t n = 0;; ++n) {
    auto text = [&](const wchar_t* key) {
      return ReadProfileText(profile, file, kServersSection, Indexed(key, n), L"");
    };
    VpnServerEntry entry;
    entry.serverId = DecimalInteger(text(L"ServerId"));
    if (entry.serverId == 0) break;
    entry.title = ReadProfileUtf8Text(profile, file, kServersSection, Indexed(L"Title", n));
    entry.comment = ReadProfileUtf8Text(profile, file, kServersSection, Indexed(L"Comment", n));
    entry.load = text(L"Load");
    entry.serverHost = text(L"ServerHost");
    entry.protocols = TrimText(text(L"Protocols"));
    entry.pptpUseMppe =
        ReadProfileInt(profile, file, kServersSection, Indexed(L"PPTPUseMPPE", n), 0);
    for (const std::wstring& word : SplitText(text(L"Categories"), L',')) {
      std::wstring trimmed = TrimText(word);
      if (!trimmed.empty()) entry.categories.push_back(std::move(trimmed));
    }
    servers.push_back(std::move(entry));
  }
  return servers;
}

std::array<AnnouncementEntry, kAnnouncementSlots> ReadAnnouncements(PrivateProfile& profile,
                                                                    const std::wstring& file) {
  std::array<AnnouncementEntry, kAnnouncementSlots> slots;
  for (size_t i = 0; i < slots.size(); ++i) {
    slots[i].title =
        ReadProfileUtf8Text(profile, file, kAnnouncementsSection, Indexed(L"Title", i));
    slots[i].url = ReadProfileText(profile, file, kAnnouncementsSection, Indexed(L"Url", i), L"");
    slots[i].datetimeGmt =
        ReadProfileInt64(profile, file, kAnnouncementsSection, Indexed(L"DatetimeGMT", i));
  }
  return slots;
}

std::optional<uint64_t> ParseClientVersion(std::wstring_view text) {
  uint64_t version = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != L'.') return std::nullopt;
      ++i;
    }
    uint32_t value = 0;
    if (!ScanUnsigned(text, i, value)) return std::nullopt;
    version = version * 65536 + value;
  }
  return version;
}

std::optional<uint64_t> ReadRequiredClientVersion(PrivateProfile& profile,
                                                  const std::wstring& file) {
  return ParseClientVersion(
      ReadProfileText(profile, file, kVpnSection, L"RequiredClientVersion", L""));
}

ServiceAnswer ReadServiceAnswer(PrivateProfile& profile, const std::wstring& file,
                                const std::wstring& unknownClientIp) {
  ServiceAnswer answer;
  answer.account = ReadAccountState(profile, file, unknownClientIp);
  answer.requiredClientVersion = ReadRequiredClientVersion(profile, file);
  answer.routeSets = ReadRouteSets(profile, file);
  answer.servers = ReadVpnServers(profile, file);
  return answer;
}

ServiceAnswer ParseServiceAnswer(std::string_view body, const std::wstring& unknownClientIp) {
  const std::string bytes(body);
  NativePrivateProfile memory(
      [&bytes](const std::wstring&) { return std::optional<std::string>(bytes); });
  return ReadServiceAnswer(memory, L"answer", unknownClientIp);
}
