// The service's answers: an ini-style body carrying the response marker, saved byte for byte and
// read back through the profile access layer, and the records read from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/private_profile.h"

inline constexpr std::string_view kResponseMarker = "MagicTag=VpnServerResponse";

// The marker at any offset, compared byte for byte.
bool ContainsResponseMarker(const void* data, size_t length);
// Status 200, a body, and the marker in it.
bool IsAcceptedResponse(int32_t statusCode, std::string_view body);
// Creates or truncates `path` and writes `body` unchanged; false when it could not be written
// in full.
bool SaveResponseBody(const std::wstring& path, std::string_view body);

// Section "VPN".
struct AccountState {
  std::wstring authResult;
  std::wstring authMessage;
  int64_t expirationGmt = 0;  // seconds since 1970 UTC; 0 when not given
  std::wstring requiredClientVersion;
  std::wstring updateUrl;
  std::wstring downloadSetup;
  std::wstring downloadGreen;
  std::wstring downloadSetupMd5;
  std::wstring downloadGreenMd5;
  std::wstring clientIp;

  bool LoginSucceeded() const;  // "OK" in any case
  bool Expired() const;         // exactly "Expired"
};

// Section "Routes", one per route set.
struct RouteSetEntry {
  std::wstring title;
  std::wstring comment;
  std::wstring routeId;
  int32_t modifyDefaultGateway = 0;
};

// Section "Servers", one per server.
struct VpnServerEntry {
  int32_t serverId = 0;
  std::wstring title;
  std::wstring comment;
  std::wstring load;
  std::wstring serverHost;
  std::wstring protocols;
  int32_t pptpUseMppe = 0;
  std::vector<std::wstring> categories;  // trimmed, empty ones dropped
};

// Section "Announcements", one per slot.
struct AnnouncementEntry {
  std::wstring title;
  std::wstring url;
  int64_t datetimeGmt = 0;
};
inline constexpr int kAnnouncementSlots = 4;

// A whole answer of the service, read once: every decision after the login reads this, never
// the file the answer is kept in.
struct ServiceAnswer {
  AccountState account;
  // Empty when the answer names no usable version (see ReadRequiredClientVersion).
  std::optional<uint64_t> requiredClientVersion;
  std::vector<RouteSetEntry> routeSets;
  std::vector<VpnServerEntry> servers;
};

// `unknownClientIp` stands in for an absent "ClientIP".
AccountState ReadAccountState(PrivateProfile& profile, const std::wstring& file,
                              const std::wstring& unknownClientIp);
// Read in index order up to the first title that is blank.
std::vector<RouteSetEntry> ReadRouteSets(PrivateProfile& profile, const std::wstring& file);
// Read in index order up to the first server id that is not a non-zero number.
std::vector<VpnServerEntry> ReadVpnServers(PrivateProfile& profile, const std::wstring& file);
// Every slot is read by its own index: a blank one does not hide those after it.
std::array<AnnouncementEntry, kAnnouncementSlots> ReadAnnouncements(PrivateProfile& profile,
                                                                    const std::wstring& file);

// "a.b.c.d" as one number, 16 bits a part from the major version down; empty unless the text
// scans as four unsigned numbers the way "%u.%u.%u.%u" does.
std::optional<uint64_t> ParseClientVersion(std::wstring_view text);
// "RequiredClientVersion" of section "VPN", parsed; empty makes the whole response invalid.
std::optional<uint64_t> ReadRequiredClientVersion(PrivateProfile& profile,
                                                  const std::wstring& file);

// The answer in `file`, read through `profile`.
ServiceAnswer ReadServiceAnswer(PrivateProfile& profile, const std::wstring& file,
                                const std::wstring& unknownClientIp);
// The answer from the bytes as received, read as the system would read them from a file.
ServiceAnswer ParseServiceAnswer(std::string_view body, const std::wstring& unknownClientIp);

inline AccountState ReadAccountState(const std::wstring& file,
                                     const std::wstring& unknownClientIp) {
  return ReadAccountState(SystemPrivateProfile(), file, unknownClientIp);
}
inline std::vector<RouteSetEntry> ReadRouteSets(const std::wstring& file) {
  return ReadRouteSets(SystemPrivateProfile(), file);
}
inline std::vector<VpnServerEntry> ReadVpnServers(const std::wstring& file) {
  return ReadVpnServers(SystemPrivateProfile(), file);
}
inline std::array<AnnouncementEntry, kAnnouncementSlots> ReadAnnouncements(
    const std::wstring& file) {
  return ReadAnnouncements(SystemPrivateProfile(), file);
}
inline std::optional<uint64_t> ReadRequiredClientVersion(const std::wstring& file) {
  return ReadRequiredClientVersion(SystemPrivateProfile(), file);
}
