// Where the host's programs may send their name lookups while route mode 1 is up.
//
// Since Windows 8 the resolver asks the DNS servers of every interface at once and takes the
// first answer, so the local network's resolver would still see (and could answer) every name
// the user looks up, although all IPv4 traffic takes the tunnel. In route mode 1 the engine
// therefore has the system's packet filter let connections to remote port 53 through only to the
// tunnel's resolvers (by their addresses: in route mode 1 a listed prefix may send a resolver of
// the tunnel's through the local network's gateway), on the tunnel's interface and on loopback,
// and block them everywhere else. The filters live in a session the system ends with the
// process, so a crash leaves none behind.
#pragma once

#include <cstdint>
#include <vector>

enum class IpFamily : uint8_t { kIpv4, kIpv6 };
enum class FilterAction : uint8_t { kPermit, kBlock };

inline constexpr uint8_t kIpProtocolTcp = 6;
inline constexpr uint8_t kIpProtocolUdp = 17;
inline constexpr uint16_t kDnsPort = 53;

// One filter at the connect layer of one family (the name lookups' guard's and the kill
// switch's). A condition left at zero matches everything; the filter applies when every
// condition that is set holds.
struct DnsFilter {
  IpFamily family = IpFamily::kIpv4;
  FilterAction action = FilterAction::kBlock;
  // Among the matching filters of our sublayer the heaviest decides (0 to 15).
  uint8_t weight = 0;
  uint8_t protocol = 0;
  uint16_t remotePort = 0;
  // The interface the connection leaves by.
  uint32_t interfaceIndex = 0;
  // Only loopback traffic.
  bool loopback = false;
  // The remote IPv4 address, network byte order, and the length of its prefix; 0 bits: any.
  uint32_t remoteAddress = 0;
  uint8_t remotePrefix = 0;
  uint16_t localPort = 0;
  // Only connections of this program (its application id).
  bool ownProgram = false;

  bool operator==(const DnsFilter&) const = default;
};

// For both families: remote port 53 over UDP and TCP permitted to each of `resolvers` (IPv4,
// network byte order) by whichever interface, and on `tunnelInterface`; loopback permitted;
// remote port 53 over UDP and TCP blocked everywhere else.
std::vector<DnsFilter> DnsGuardFilters(uint32_t tunnelInterface,
                                       const std::vector<uint32_t>& resolvers);

// Answered by every call on a system without the filtering platform (before Vista).
inline constexpr uint32_t kDnsGuardUnsupported = 50;

class DnsGuard {
 public:
  virtual ~DnsGuard() = default;

  // The IPv4 DNS servers the interface is configured with (network byte order; our tunnels
  // carry no IPv6). 0, kDnsGuardUnsupported, or a system error number (also for an interface
  // the system does not know).
  virtual uint32_t ReadDnsServers(uint32_t interfaceIndex, std::vector<uint32_t>& servers) = 0;
  // Puts `filters` in place in a sublayer of our own, in place of any set added before: all or
  // none. 0, kDnsGuardUnsupported, or a system error number.
  virtual uint32_t Add(const std::vector<DnsFilter>& filters) = 0;
  // Takes away what Add put in place; nothing when nothing is.
  virtual void Remove() = 0;
};
