// A record on disk of the routes one connection has added to the host's table, so that routes
// a crashed, killed or powered-off client left behind are taken out at the next start.
//
// Routes through the tunnel's interface vanish with the interface; routes through the host's
// own gateway (the listed routes of route mode 1, the host route to the proxy) outlive the
// process and keep steering traffic where it no longer should go. So every row is written to
// the journal before it is created, and struck again once the connection has deleted it. The
// next start deletes each row still listed that is still in the table exactly as written, and
// nothing else: a row changed or deleted by someone else since is theirs now.
//
// File: an 8-byte header ("KVRJ", format version, record size; little-endian), then fixed
// records of a kind byte, the fourteen row fields and a checksum; IPv6 rows have kinds of their
// own in records of the same size, so journals without them read as before. Records are only ever
// appended, so a journal cut off at any byte still reads as its complete records; reading stops
// at the first record that is short or does not check out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "config/program_data_folder.h"
#include "vpn/ipv6_route_table.h"
#include "vpn/route_table.h"

inline constexpr wchar_t kRouteJournalFileName[] = L"RouteJournal.dat";
// The system's answer for deleting a route that is not there.
inline constexpr uint32_t kRouteErrorNotFound = 1168;

// The journal in the program data folder.
std::wstring SystemRouteJournalPath();

// What makes a row the same route when it is read back: every field but the age, which the
// system counts up.
using RouteKey = std::array<uint32_t, 13>;
RouteKey RouteKeyOf(const RouteRow& row);

struct RouteRecovery {
  // Rows the journal listed as created and not struck.
  size_t listed = 0;
  // Of those, the rows found unchanged and deleted.
  size_t deleted = 0;
  // The journal was left in place (the table could not be read, or deleting failed).
  bool kept = false;
  // A journal was there but not read: others could have written it or its folder.
  bool ignored = false;
};

// Deletes every row the journal at `path` still lists that the table holds exactly as written,
// then removes the journal. Default routes and rows the system would not have taken from us
// (other than network-management rows) are never deleted, whatever the file says. When the
// table cannot be read, or a deletion fails, the journal is kept for the next start. No journal:
// nothing is read or changed. IPv6 rows are taken out of `ipv6`; without one a journal listing
// them is kept.
RouteRecovery RecoverRouteJournal(RouteTable& table, const std::wstring& path,
                                  Ipv6RouteTable* ipv6 = nullptr);

// The same for the journal in `folder` (ending with a separator), read only when the folder and
// the file are the program's own: a journal anyone else could have planted or changed would
// have the administrator's program delete routes of their choosing. Such a one is left alone.
RouteRecovery RecoverOwnRouteJournal(RouteTable& table, FolderSecurity& security,
                                     const std::wstring& folder, Ipv6RouteTable* ipv6 = nullptr);

// The table one connection changes, journaling what it creates. Everything else passes
// through unchanged, and a journal that cannot be written never stops a route from being
// created. The file is opened at the first change; if a journal is already there (an earlier
// connection of this process could not delete all its rows), that one is recovered first.
// Safe to call from the dial-up and user-interface threads.
class RouteJournal : public RouteTable {
 public:
  // `ipv6`, when given, is journaled the same way through Ipv6Routes(). With `security`, a
  // journal already at `path` is read only when it and its folder are the program's own.
  RouteJournal(RouteTable& table, std::wstring path, Ipv6RouteTable* ipv6 = nullptr,
               FolderSecurity* security = nullptr);
  RouteJournal(const RouteJournal&) = delete;
  RouteJournal& operator=(const RouteJournal&) = delete;
  // Closes the file and leaves it: a connection that was never taken back is for recovery.
  ~RouteJournal() override;

  uint32_t ReadForwardTable(std::vector<RouteRow>& rows) override;
  // Journals the row, then creates it; strikes it again when the creation fails. A row the
  // table held when the journal opened (and this journal has not seen deleted) is not
  // journaled: it cannot be ours.
  uint32_t CreateRow(const RouteRow& row) override;
  // Strikes the row once it is deleted or found gone.
  uint32_t DeleteRow(const RouteRow& row) override;
  uint32_t ReadAdapters(std::vector<AdapterAddress>& adapters) override;
  bool ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) override;

  // The connection has taken its routes back: closes the journal and removes it when nothing
  // is left on it. Rows that could not be deleted keep it for the next recovery.
  void Settle();

  // Rows created and not struck, IPv4 and IPv6.
  size_t ListedRows();

  // The IPv6 table with its changes journaled; null when the journal was given none.
  Ipv6RouteTable* Ipv6Routes() { return ipv6_ ? &ipv6Face_ : nullptr; }

 private:
  class Ipv6Face : public Ipv6RouteTable {
   public:
    explicit Ipv6Face(RouteJournal& journal) : journal_(journal) {}
    uint32_t ReadForwardTable(std::vector<Ipv6RouteRow>& rows) override;
    uint32_t CreateRow(const Ipv6RouteRow& row) override;
    uint32_t DeleteRow(const Ipv6RouteRow& row) override;

   private:
    RouteJournal& journal_;
  };

  void Open();
  bool MayReadLeftover();
  bool Write(uint8_t kind, const RouteRow& row);
  bool Write6(uint8_t kind, const Ipv6RouteRow& row);
  bool WriteRecord(const std::string& record);

  RouteTable& table_;
  const std::wstring path_;
  std::mutex mutex_;
  bool open_ = false;
  bool writable_ = false;
  std::ofstream file_;
  std::multiset<RouteKey> listed_;
  // Rows in the table when the journal was opened and not seen deleted since: creating one of
  // these is refused by the system, and recovery must never take it for ours.
  std::multiset<RouteKey> before_;
  Ipv6RouteTable* const ipv6_;
  FolderSecurity* const security_;
  Ipv6Face ipv6Face_{*this};
  std::multiset<Ipv6RouteRow> listed6_;
  std::multiset<Ipv6RouteRow> before6_;
};

// The encoding, apart so tests and the fuzz target can reach it.
namespace route_journal {

inline constexpr uint8_t kCreated = 1;
inline constexpr uint8_t kStruck = 2;
inline constexpr uint8_t kCreatedIpv6 = 3;
inline constexpr uint8_t kStruckIpv6 = 4;
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kRecordSize = 1 + 14 * 4 + 4;

// `row` for the IPv4 kinds, `row6` for the IPv6 ones.
struct Record {
  uint8_t kind;
  RouteRow row;
  Ipv6RouteRow row6;
};

std::string Header();
std::string EncodeRecord(uint8_t kind, const RouteRow& row);
// kCreatedIpv6 or kStruckIpv6: destination, prefix length, next hop, interface, metric and
// protocol, the rest of the record zero.
std::string EncodeIpv6Record(uint8_t kind, const Ipv6RouteRow& row);
// The complete records of `bytes`; false when the header is missing or of another format.
bool DecodeJournal(std::string_view bytes, std::vector<Record>& records);
// Rows created and not struck (age 0), in no particular order.
std::vector<RouteRow> ListedRows(const std::vector<Record>& records);
std::vector<Ipv6RouteRow> ListedIpv6Rows(const std::vector<Record>& records);

}  // namespace route_journal
