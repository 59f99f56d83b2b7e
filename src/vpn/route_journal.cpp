#include "vpn/route_journal.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "base/file_path.h"
#include "config/program_data_folder.h"
#include "vpn/route_modification.h"

namespace {

constexpr size_t kFieldCount = 14;
// Counted up by the system as the route lives; no part of what makes it the same route.
constexpr size_t kAgeField = 7;

std::array<uint32_t, kFieldCount> FieldsOf(const RouteRow& row) {
  return {row.destination, row.mask,     row.policy,  row.nextHop,   row.interfaceIndex,
          row.type,        row.protocol, row.age,     row.nextHopAs, row.metric1,
          row.metric2,     row.metric3,  row.metric4, row.metric5};
}

RouteRow RowOf(const std::array<uint32_t, kFieldCount>& f) {
  return {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12], f[13]};
}

RouteRow RowOfKey(const RouteKey& key) {
  std::array<uint32_t, kFieldCount> fields{};
  for (size_t i = 0, k = 0; i < kFieldCount; ++i) {
    if (i != kAgeField) fields[i] = key[k++];
  }
  return RowOf(fields);
}

}  // namespace

RouteKey RouteKeyOf(const RouteRow& row) {
  const auto fields = FieldsOf(row);
  RouteKey key{};
  for (size_t i = 0, k = 0; i < kFieldCount; ++i) {
    if (i != kAgeField) key[k++] = fields[i];
  }
  return key;
}

namespace route_journal {
namespace {

constexpr char kMagic[] = "KVRJ";
constexpr uint16_t kVersion = 1;

void PutU16(std::string& out, uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void PutU32(std::string& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

uint32_t GetU32(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    value |= uint32_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
  }
  return value;
}

// FNV-1a: a record torn by a lost write, or left as zeros when the system extended the file but
// never wrote it, does not check out.
uint32_t Checksum(std::string_view bytes) {
  uint32_t hash = 2166136261u;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return hash;
}

}  // namespace

std::string Header() {
  std::string header(kMagic, 4);
  PutU16(header, kVersion);
  PutU16(header, static_cast<uint16_t>(kRecordSize));
  return header;
}

std::string EncodeRecord(uint8_t kind, const RouteRow& row) {
  std::string record(1, static_cast<char>(kind));
  for (const uint32_t field : FieldsOf(row)) PutU32(record, field);
  PutU32(record, Checksum(record));
  return record;
}

std::string EncodeIpv6Record(uint8_t kind, const Ipv6RouteRow& row) {
  std::string record(1, static_cast<char>(kind));
  record.append(reinterpret_cast<const char*>(row.destination.data()), row.destination.size());
  PutU32(record, row.prefixLength);
  record.append(reinterpret_cast<const char*>(row.nextHop.data()), row.nextHop.size());
  PutU32(record, row.interfaceIndex);
  PutU32(record, row.metric);
  PutU32(record, row.protocol);
  record.resize(kRecordSize - 4, '\0');
  PutU32(record, Checksum(record));
  return record;
}

bool DecodeJournal(std::string_view bytes, std::vector<Record>& records) {
  records.clear();
  if (bytes.size() < kHeaderSize || bytes.substr(0, kHeaderSize) != Header()) return false;
  for (size_t at = kHeaderSize; at + kRecordSize <= bytes.size(); at += kRecordSize) {
    const std::string_view record = bytes.substr(at, kRecordSize);
    const auto kind = static_cast<uint8_t>(record[0]);
    if (kind < kCreated || kind > kStruckIpv6) break;
    if (GetU32(record, kRecordSize - 4) != Checksum(record.substr(0, kRecordSize - 4))) break;
    if (kind == kCreatedIpv6 || kind == kStruckIpv6) {
      Ipv6RouteRow row6;
      std::memcpy(row6.destination.data(), record.data() + 1, 16);
      row6.prefixLength = GetU32(record, 17);
      std::memcpy(row6.nextHop.data(), record.data() + 21, 16);
      row6.interfaceIndex = GetU32(record, 37);
      row6.metric = GetU32(record, 41);
      row6.protocol = GetU32(record, 45);
      records.push_back({kind, RouteRow{}, row6});
      continue;
    }
    std::array<uint32_t, kFieldCount> fields{};
    for (size_t i = 0; i < kFieldCount; ++i) fields[i] = GetU32(record, 1 + 4 * i);
    records.push_back({kind, RowOf(fields), Ipv6RouteRow{}});
  }
  return true;
}

std::vector<RouteRow> ListedRows(const std::vector<Record>& records) {
  std::map<RouteKey, size_t> counts;
  for (const Record& record : records) {
    if (record.kind != kCreated && record.kind != kStruck) continue;
    const RouteKey key = RouteKeyOf(record.row);
    if (record.kind == kCreated) {
      ++counts[key];
    } else if (const auto found = counts.find(key); found != counts.end() && found->second > 0) {
      --found->second;
    }
  }
  std::vector<RouteRow> rows;
  for (const auto& [key, count] : counts) rows.insert(rows.end(), count, RowOfKey(key));
  return rows;
}

std::vector<Ipv6RouteRow> ListedIpv6Rows(const std::vector<Record>& records) {
  std::map<Ipv6RouteRow, size_t> counts;
  for (const Record& record : records) {
    if (record.kind == kCreatedIpv6) {
      ++counts[record.row6];
    } else if (record.kind == kStruckIpv6) {
      if (const auto found = counts.find(record.row6); found != counts.end() && found->second > 0) {
        --found->second;
      }
    }
  }
  std::vector<Ipv6RouteRow> rows;
  for (const auto& [row, count] : counts) rows.insert(rows.end(), count, row);
  return rows;
}

}  // namespace route_journal

namespace {

using namespace route_journal;

// Well above any route list a service sends (a record is 61 bytes); a larger file is read no
// further, so a stray file cannot make the start-up eat memory.
constexpr size_t kMaxJournalBytes = 64u << 20;

bool ReadJournalFile(const std::filesystem::path& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.clear();
  std::string chunk(64 * 1024, '\0');
  while (bytes.size() < kMaxJournalBytes &&
         in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())).gcount() > 0) {
    bytes.append(chunk.data(), static_cast<size_t>(in.gcount()));
  }
  return true;
}

// The rows a journal file still lists; nothing when there is none or it cannot be read.
bool ListedInFile(const std::filesystem::path& path, std::vector<RouteRow>& rows,
                  std::vector<Ipv6RouteRow>& rows6) {
  std::error_code error;
  std::string bytes;
  if (!std::filesystem::exists(path, error) || !ReadJournalFile(path, bytes)) return false;
  std::vector<Record> records;
  DecodeJournal(bytes, records);
  rows = ListedRows(records);
  rows6 = ListedIpv6Rows(records);
  return true;
}

// The system creates only network-management rows for us, and default routes are never ours
// to take; whatever a journal file says, nothing else is deleted.
bool MayDelete(const RouteRow& row) {
  return row.mask != 0 && row.protocol == kRouteProtocolNetMgmt;
}

// Deletes each listed row the table holds exactly as written. Returns the rows that may still
// be there: all of them when the table cannot be read, else those whose deletion failed.
std::vector<RouteRow> TakeOut(RouteTable& table, const std::vector<RouteRow>& listed,
                              size_t& deleted) {
  if (listed.empty()) return {};
  std::vector<RouteRow> present;
  if (table.ReadForwardTable(present) != 0) return listed;
  std::multimap<RouteKey, RouteRow> byKey;
  for (const RouteRow& row : present) byKey.emplace(RouteKeyOf(row), row);

  std::vector<RouteRow> left;
  for (const RouteRow& row : listed) {
    if (!MayDelete(row)) continue;
    const auto found = byKey.find(RouteKeyOf(row));
    if (found == byKey.end()) continue;
    // The row as the system shows it, age and all.
    const uint32_t result = table.DeleteRow(found->second);
    byKey.erase(found);
    if (result == 0) {
      ++deleted;
    } else if (result != kRouteErrorNotFound) {
      left.push_back(row);
    }
  }
  return left;
}

// The same for IPv6 rows. A system without the IPv6 routing functions cannot hold them.
std::vector<Ipv6RouteRow> TakeOutIpv6(Ipv6RouteTable* table,
                                      const std::vector<Ipv6RouteRow>& listed, size_t& deleted) {
  if (listed.empty()) return {};
  if (table == nullptr) return listed;
  std::vector<Ipv6RouteRow> present;
  if (const uint32_t read = table->ReadForwardTable(present); read != 0) {
    return read == kIpv6RoutesUnsupported ? std::vector<Ipv6RouteRow>{} : listed;
  }
  std::multiset<Ipv6RouteRow> remaining(present.begin(), present.end());
  std::vector<Ipv6RouteRow> left;
  for (const Ipv6RouteRow& row : listed) {
    if (row.prefixLength == 0 || row.protocol != kRouteProtocolNetMgmt) continue;
    const auto found = remaining.find(row);
    if (found == remaining.end()) continue;
    remaining.erase(found);
    const uint32_t result = table->DeleteRow(row);
    if (result == 0) {
      ++deleted;
    } else if (result != kRouteErrorNotFound) {
      left.push_back(row);
    }
  }
  return left;
}

}  // namespace

std::wstring SystemRouteJournalPath() {
  return SystemProgramDataFolder().FilePath(kRouteJournalFileName);
}

RouteRecovery RecoverRouteJournal(RouteTable& table, const std::wstring& path,
                                  Ipv6RouteTable* ipv6) {
  RouteRecovery recovery;
  const std::filesystem::path file = FileSystemPath(path);
  std::vector<RouteRow> listed;
  std::vector<Ipv6RouteRow> listed6;
  if (!ListedInFile(file, listed, listed6)) {
    std::error_code error;
    recovery.kept = std::filesystem::exists(file, error);
    return recovery;
  }
  recovery.listed = listed.size() + listed6.size();
  const bool left = !TakeOut(table, listed, recovery.deleted).empty();
  const bool left6 = !TakeOutIpv6(ipv6, listed6, recovery.deleted).empty();
  if (left || left6) {
    recovery.kept = true;
    return recovery;
  }
  std::error_code error;
  std::filesystem::remove(file, error);
  recovery.kept = std::filesystem::exists(file, error);
  return recovery;
}

RouteRecovery RecoverOwnRouteJournal(RouteTable& table, FolderSecurity& security,
                                     const std::wstring& folder, Ipv6RouteTable* ipv6) {
  const std::wstring path = folder + kRouteJournalFileName;
  if (!security.Inspect(path).exists) return {};
  if (!IsOwnFileInOwnFolder(security, folder, kRouteJournalFileName)) {
    RouteRecovery recovery;
    recovery.ignored = true;
    recovery.kept = true;
    return recovery;
  }
  return RecoverRouteJournal(table, path, ipv6);
}

RouteJournal::RouteJournal(RouteTable& table, std::wstring path, Ipv6RouteTable* ipv6,
                           FolderSecurity* security)
    : table_(table), path_(std::move(path)), ipv6_(ipv6), security_(security) {}

RouteJournal::~RouteJournal() = default;

uint32_t RouteJournal::ReadForwardTable(std::vector<RouteRow>& rows) {
  return table_.ReadForwardTable(rows);
}

uint32_t RouteJournal::ReadAdapters(std::vector<AdapterAddress>& adapters) {
  return table_.ReadAdapters(adapters);
}

bool RouteJournal::ReadInterfaceMetrics(std::vector<InterfaceMetric>& metrics) {
  return table_.ReadInterfaceMetrics(metrics);
}

uint32_t RouteJournal::CreateRow(const RouteRow& row) {
  std::lock_guard lock(mutex_);
  if (!open_) Open();
  const RouteKey key = RouteKeyOf(row);
  // Any other row is written before the system sees it, so no creation can outrun its record.
  // A row the table held when the journal opened is not ours even when the system answers
  // success for it: some answer so for a route that is already there.
  const bool listed = !before_.contains(key) && Write(kCreated, row);
  const uint32_t result = table_.CreateRow(row);
  if (!listed) return result;
  if (result == 0) {
    listed_.insert(key);
  } else {
    Write(kStruck, row);
  }
  return result;
}

uint32_t RouteJournal::DeleteRow(const RouteRow& row) {
  std::lock_guard lock(mutex_);
  if (!open_) Open();
  const uint32_t result = table_.DeleteRow(row);
  if (result != 0 && result != kRouteErrorNotFound) return result;
  const RouteKey key = RouteKeyOf(row);
  if (const auto found = listed_.find(key); found != listed_.end()) {
    listed_.erase(found);
    Write(kStruck, row);
  }
  // Gone now: created again later, it is ours.
  if (const auto held = before_.find(key); held != before_.end()) before_.erase(held);
  return result;
}

void RouteJournal::Settle() {
  std::lock_guard lock(mutex_);
  if (!open_) return;
  file_.close();
  open_ = false;
  writable_ = false;
  before_.clear();
  before6_.clear();
  if (!listed_.empty() || !listed6_.empty()) return;
  std::error_code error;
  std::filesystem::remove(FileSystemPath(path_), error);
}

size_t RouteJournal::ListedRows() {
  std::lock_guard lock(mutex_);
  return listed_.size() + listed6_.size();
}

uint32_t RouteJournal::Ipv6Face::ReadForwardTable(std::vector<Ipv6RouteRow>& rows) {
  return journal_.ipv6_->ReadForwardTable(rows);
}

// As CreateRow and DeleteRow, for the IPv6 table.
uint32_t RouteJournal::Ipv6Face::CreateRow(const Ipv6RouteRow& row) {
  RouteJournal& j = journal_;
  std::lock_guard lock(j.mutex_);
  if (!j.open_) j.Open();
  const bool listed = !j.before6_.contains(row) && j.Write6(kCreatedIpv6, row);
  const uint32_t result = j.ipv6_->CreateRow(row);
  if (!listed) return result;
  if (result == 0) {
    j.listed6_.insert(row);
  } else {
    j.Write6(kStruckIpv6, row);
  }
  return result;
}

uint32_t RouteJournal::Ipv6Face::DeleteRow(const Ipv6RouteRow& row) {
  RouteJournal& j = journal_;
  std::lock_guard lock(j.mutex_);
  if (!j.open_) j.Open();
  const uint32_t result = j.ipv6_->DeleteRow(row);
  if (result != 0 && result != kRouteErrorNotFound) return result;
  if (const auto found = j.listed6_.find(row); found != j.listed6_.end()) {
    j.listed6_.erase(found);
    j.Write6(kStruckIpv6, row);
  }
  if (const auto held = j.before6_.find(row); held != j.before6_.end()) j.before6_.erase(held);
  return result;
}

void RouteJournal::Open() {
  open_ = true;
  listed_.clear();
  listed6_.clear();
  const std::filesystem::path file = FileSystemPath(path_);
  // A journal already here was left by an earlier connection of this process that could not
  // delete all its rows; what still cannot be deleted moves into this one.
  std::vector<RouteRow> carried;
  std::vector<Ipv6RouteRow> carried6;
  std::vector<RouteRow> leftover;
  std::vector<Ipv6RouteRow> leftover6;
  // A file here that is not ours was not left by us: it is replaced, never acted on.
  if (MayReadLeftover() && ListedInFile(file, leftover, leftover6)) {
    size_t deleted = 0;
    carried = TakeOut(table_, leftover, deleted);
    carried6 = TakeOutIpv6(ipv6_, leftover6, deleted);
  }

  std::vector<RouteRow> present;
  if (table_.ReadForwardTable(present) == 0) {
    for (const RouteRow& row : present) before_.insert(RouteKeyOf(row));
  }
  std::vector<Ipv6RouteRow> present6;
  if (ipv6_ != nullptr && ipv6_->ReadForwardTable(present6) == 0) {
    before6_.insert(present6.begin(), present6.end());
  }

  file_.open(file, std::ios::binary | std::ios::trunc);
  const std::string header = Header();
  writable_ = file_.is_open() &&
              file_.write(header.data(), static_cast<std::streamsize>(header.size())).flush();
  for (const RouteRow& row : carried) {
    if (Write(kCreated, row)) listed_.insert(RouteKeyOf(row));
  }
  for (const Ipv6RouteRow& row : carried6) {
    if (Write6(kCreatedIpv6, row)) listed6_.insert(row);
  }
}

bool RouteJournal::MayReadLeftover() {
  if (!security_) return true;
  const size_t cut = path_.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return false;
  return IsOwnFileInOwnFolder(*security_, path_.substr(0, cut + 1), path_.substr(cut + 1));
}

// Each record goes to the system before the route it announces is created, so it outlives the
// process however that ends. A record that could not be written leaves the rest unwritten
// too: a later one after a torn record would never be read.
bool RouteJournal::Write(uint8_t kind, const RouteRow& row) {
  return WriteRecord(EncodeRecord(kind, row));
}

bool RouteJournal::Write6(uint8_t kind, const Ipv6RouteRow& row) {
  return WriteRecord(EncodeIpv6Record(kind, row));
}

bool RouteJournal::WriteRecord(const std::string& record) {
  if (!writable_) return false;
  if (!file_.write(record.data(), static_cast<std::streamsize>(record.size())).flush()) {
    writable_ = false;
  }
  return writable_;
}
