// Random connections against a routing table that behaves as the system's. Each connection
// creates and deletes routes through a journal and may die anywhere: inside a system call
// before or after it takes effect, between calls, or halfway through writing a record. Starts
// recover in between; others add, change and delete routes of their own. Connections journal
// IPv6 rows too, in the same file. Recovery never takes
// a route that is not ours, and after the last one the table holds exactly the routes that are
// not ours: those that were there before and whatever the others left.
//
// What the others do is kept to what a journal can tell apart: they never create a route
// identical to one of ours while a journal might list it, and never delete such a route of
// theirs while a connection runs (the connection could not tell its own creation from theirs).
#include "vpn/route_journal.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fakes/fake_route_table.h"
#include "vpn/route_modification.h"

namespace {

struct Crash {};

enum class Fault { kNone, kCrashBefore, kCrashAfter, kFail };

constexpr uint32_t kOurGateway = 0x0101A8C0u;  // 192.168.1.1
constexpr uint32_t kPoolSize = 8;

// The IPv6 table as the system keeps it: duplicates by prefix, next hop and interface are
// refused, only network-management rows are taken, and the next create or delete may be made to
// fail or to end the process.
class SystemIpv6Table : public Ipv6RouteTable {
 public:
  uint32_t ReadForwardTable(std::vector<Ipv6RouteRow>& out) override {
    out = rows;
    return 0;
  }
  uint32_t CreateRow(const Ipv6RouteRow& row) override {
    const Fault fault = Take();
    if (fault == Fault::kCrashBefore) throw Crash{};
    if (fault == Fault::kFail) return 31;
    if (row.protocol != kRouteProtocolNetMgmt) return 87;
    if (Find(row) != rows.end()) return 5010;
    rows.push_back(row);
    if (fault == Fault::kCrashAfter) throw Crash{};
    return 0;
  }
  uint32_t DeleteRow(const Ipv6RouteRow& row) override {
    const Fault fault = Take();
    if (fault == Fault::kCrashBefore) throw Crash{};
    if (fault == Fault::kFail) return 5;
    const auto found = Find(row);
    if (found == rows.end()) return kRouteErrorNotFound;
    rows.erase(found);
    if (fault == Fault::kCrashAfter) throw Crash{};
    return 0;
  }

  std::vector<Ipv6RouteRow>::iterator Find(const Ipv6RouteRow& row) {
    return std::find_if(rows.begin(), rows.end(), [&](const Ipv6RouteRow& r) {
      return r.destination == row.destination && r.prefixLength == row.prefixLength &&
             r.nextHop == row.nextHop && r.interfaceIndex == row.interfaceIndex;
    });
  }

  std::vector<Ipv6RouteRow> rows;
  Fault next = Fault::kNone;

 private:
  Fault Take() {
    const Fault fault = next;
    next = Fault::kNone;
    return fault;
  }
};

// The IPv6 rows a connection creates: n000::/4 through the loopback interface.
Ipv6RouteRow Ours6(uint32_t n) {
  Ipv6RouteRow row{};
  row.destination[0] = static_cast<uint8_t>((n % kPoolSize) << 4);
  row.prefixLength = 4;
  row.interfaceIndex = 1;
  row.protocol = kRouteProtocolNetMgmt;
  return row;
}

// IPv6 rows in the model's key space, apart from every IPv4 key (whose mask is never this).
RouteKey KeyOf6(const Ipv6RouteRow& row) {
  RouteKey key{};
  key[0] = row.destination[0];
  key[1] = 0xFFFF0000u | row.prefixLength;
  key[3] = row.interfaceIndex;
  key[5] = row.protocol;
  return key;
}

// The routes a connection creates: 10.0.n.0/24 through the host's gateway.
RouteRow Ours(uint32_t n) {
  RouteRow row{};
  row.destination = 0x0000000Au | ((n % kPoolSize) << 16);
  row.mask = 0x00FFFFFFu;
  row.nextHop = kOurGateway;
  row.interfaceIndex = 7;
  row.type = 4;
  row.protocol = kRouteProtocolNetMgmt;
  row.metric1 = 21;
  row.metric2 = row.metric3 = row.metric4 = row.metric5 = 0xFFFFFFFFu;
  return row;
}

bool IsOurs(const RouteKey& key) {
  for (uint32_t n = 0; n < kPoolSize; ++n) {
    if (RouteKeyOf(Ours(n)) == key) return true;
  }
  return false;
}

std::multiset<RouteKey> Keys(const std::vector<RouteRow>& rows) {
  std::multiset<RouteKey> keys;
  for (const RouteRow& row : rows) keys.insert(RouteKeyOf(row));
  return keys;
}

std::multiset<RouteKey> Minus(const std::multiset<RouteKey>& a, const std::multiset<RouteKey>& b) {
  std::multiset<RouteKey> rest;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::inserter(rest, rest.end()));
  return rest;
}

class Run {
 public:
  explicit Run(std::filesystem::path file) : file_(std::move(file)), path_(file_.wstring()) {
    std::filesystem::remove(file_);
    // A table that behaves as the system's, whose next create or delete may be made to fail
    // or to end the process.
    table_.systemLike = true;
    table_.createdAge = 60;
    table_.beforeCreate = [this](const RouteRow&) { return Inject(31); };
    table_.beforeDelete = [this](const RouteRow&) { return Inject(5); };
    table_.afterCreate = table_.afterDelete = [this](const RouteRow&) {
      if (taken_ == Fault::kCrashAfter) throw Crash{};
    };
  }
  ~Run() { std::filesystem::remove(file_); }

  void Step(uint8_t op, uint8_t arg) {
    const Fault fault = static_cast<Fault>((arg >> 3) % 4);
    // Bit 6 makes a connection's change one of an IPv6 row.
    const bool ipv6 = (arg & 0x40) != 0;
    const std::multiset<RouteKey> before = Keys();
    switch (op % 8) {
      case 0:
        if (!journal_) {
          journal_ = std::make_unique<RouteJournal>(table_, path_, &table6_);
          opened_ = false;
        }
        break;
      case 1:
        if (!journal_) break;
        if (ipv6) {
          Change(fault, KeyOf6(Ours6(arg)), before,
                 [&] { journal_->Ipv6Routes()->CreateRow(Ours6(arg)); });
        } else {
          Change(fault, RouteKeyOf(Ours(arg)), before, [&] { journal_->CreateRow(Ours(arg)); });
        }
        for (const RouteKey& key : Minus(Keys(), before)) ours_.insert(key);
        break;
      case 2:
        // The connection's own restore, which may take a route of theirs with it.
        if (!journal_) break;
        if (ipv6) {
          Change(fault, KeyOf6(Ours6(arg)), before,
                 [&] { journal_->Ipv6Routes()->DeleteRow(Ours6(arg)); });
        } else {
          Change(fault, RouteKeyOf(Ours(arg)), before, [&] { journal_->DeleteRow(Ours(arg)); });
        }
        for (const RouteKey& key : Minus(before, Keys())) {
          auto& owner = ours_.count(key) != 0 ? ours_ : theirs_;
          owner.erase(owner.find(key));
        }
        break;
      case 3:
        if (journal_) journal_->Settle();
        journal_.reset();
        break;
      case 4:
        journal_.reset();
        break;
      case 5:
        TornCrash(arg);
        break;
      case 6:
        if (journal_) break;
        RecoverRouteJournal(table_, path_, &table6_);
        unsure_.clear();
        break;
      default:
        Others(arg);
        break;
    }
    // Ours may also go by recovery; nothing else may come or go.
    for (const RouteKey& key : Minus(ours_, Keys())) ours_.erase(ours_.find(key));
    std::multiset<RouteKey> model = ours_;
    model.insert(theirs_.begin(), theirs_.end());
    if (model != Keys()) std::abort();
  }

  // The last crash and the start after it.
  void Finish() {
    journal_.reset();
    RecoverRouteJournal(table_, path_, &table6_);
    if (Keys() != theirs_) std::abort();
    if (std::filesystem::exists(file_)) std::abort();
  }

 private:
  uint32_t Inject(uint32_t failure) {
    taken_ = next_;
    next_ = Fault::kNone;
    if (taken_ == Fault::kCrashBefore) throw Crash{};
    return taken_ == Fault::kFail ? failure : 0;
  }

  // One change through the journal, which may end the process; the first change of a journal
  // opens its file, recovering what an earlier one left there and starting it anew.
  template <typename Call>
  void Change(Fault fault, const RouteKey& row, const std::multiset<RouteKey>& before, Call call) {
    const bool opening = !opened_;
    opened_ = true;
    next_ = fault;
    table6_.next = fault;
    try {
      call();
      if (opening) unsure_.clear();
    } catch (const Crash&) {
      journal_.reset();
      // The row's record may be on file without the row (or unstruck after its deletion), and
      // so may those of rows an interrupted recovery of the earlier file had deleted.
      unsure_.insert(row);
      for (const RouteKey& key : Minus(before, Keys())) unsure_.insert(key);
    }
    next_ = Fault::kNone;
    table6_.next = Fault::kNone;
  }

  // Dies halfway through a record of its own file: whatever part of it reached the file.
  void TornCrash(uint8_t arg) {
    if (!journal_ || !opened_) return;
    journal_.reset();
    if (!std::filesystem::exists(file_)) return;
    const bool struck = (arg & 1) != 0;
    const std::string record =
        (arg & 0x40)
            ? route_journal::EncodeIpv6Record(
                  struck ? route_journal::kStruckIpv6 : route_journal::kCreatedIpv6,
                  Ours6(arg >> 1))
            : route_journal::EncodeRecord(struck ? route_journal::kStruck : route_journal::kCreated,
                                          Ours(arg >> 1));
    std::ofstream(file_, std::ios::binary | std::ios::app)
        << record.substr(0, 1 + arg % (route_journal::kRecordSize - 1));
  }

  void Others(uint8_t arg) {
    RouteRow row = Ours(arg);
    const RouteKey key = RouteKeyOf(row);
    switch ((arg >> 3) % 4) {
      case 0:  // a route of theirs to one of our destinations, through another gateway
        row.nextHop = 0xFE01A8C0u;
        row.protocol = (arg & 0x80) ? 2 : kRouteProtocolNetMgmt;
        Add(row);
        break;
      case 1:  // exactly one of ours, where no journal can list it
        if (!journal_ && ours_.count(key) == 0 && unsure_.count(key) == 0) Add(row);
        break;
      case 2: {  // one of ours changed: it is theirs now, and its record stays on file
        const auto found = table_.Find(row);
        if (found == table_.forwardTable.end() || ours_.count(RouteKeyOf(*found)) == 0) break;
        ours_.erase(ours_.find(RouteKeyOf(*found)));
        unsure_.insert(RouteKeyOf(*found));
        found->metric1 = 50;
        theirs_.insert(RouteKeyOf(*found));
        break;
      }
      default: {  // one of theirs deleted; one like ours only while no connection runs
        for (auto it = table_.forwardTable.begin(); it != table_.forwardTable.end(); ++it) {
          const RouteKey found = RouteKeyOf(*it);
          if (theirs_.count(found) == 0 || (journal_ && IsOurs(found))) continue;
          if ((arg & 0x80) && IsOurs(found)) continue;
          theirs_.erase(theirs_.find(found));
          table_.forwardTable.erase(it);
          break;
        }
      }
    }
  }

  void Add(const RouteRow& row) {
    if (table_.Find(row) != table_.forwardTable.end()) return;
    table_.forwardTable.push_back(row);
    theirs_.insert(RouteKeyOf(row));
  }

  // Both tables as the model sees them.
  std::multiset<RouteKey> Keys() const {
    std::multiset<RouteKey> keys = ::Keys(table_.forwardTable);
    for (const Ipv6RouteRow& row : table6_.rows) keys.insert(KeyOf6(row));
    return keys;
  }

  const std::filesystem::path file_;
  const std::wstring path_;
  FakeRouteTable table_;
  Fault next_ = Fault::kNone;
  Fault taken_ = Fault::kNone;
  SystemIpv6Table table6_;
  std::unique_ptr<RouteJournal> journal_;
  bool opened_ = false;
  // The model: the routes in the table that are ours (created through a journal) and theirs.
  std::multiset<RouteKey> ours_;
  std::multiset<RouteKey> theirs_;
  // Routes whose record may be on file although they are not ours: never created, changed by
  // others, or deleted by a connection that died before striking them.
  std::set<RouteKey> unsure_;
};

}  // namespace

// Input: pairs of bytes, an operation and its argument.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("kv_fuzz_route_journal_" + std::to_string(getpid()) + ".dat");
  Run run(file);
  for (size_t at = 0; at + 1 < size; at += 2) run.Step(data[at], data[at + 1]);
  run.Finish();
  return 0;
}
