#include "service/client_identification.h"

#include <array>
#include <cstring>

#include "base/text.h"

namespace {

constexpr int kPhysicalDrives = 4;
constexpr int kScsiControllers = 16;
constexpr int kScsiDrives = 2;
constexpr size_t kNearlyEmpty = 5;

// ATA commands.
constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr uint8_t kIdentifyPacketDevice = 0xA1;

// GETVERSIONINPARAMS: the IDE device map is its fourth byte; bits 4-7 mark ATAPI drives 0-3.
constexpr size_t kVersionSize = 24;
constexpr size_t kIdeDeviceMapOffset = 3;
// SENDCMDINPARAMS (packed, without its one-byte buffer), its IDEREGS at offset 4.
constexpr size_t kCommandInSize = 32;
constexpr size_t kBufferSizeOffset = 0;
constexpr size_t kSectorCountOffset = 4 + 1;
constexpr size_t kDriveHeadOffset = 4 + 5;
constexpr size_t kCommandOffset = 4 + 6;
constexpr size_t kDriveNumberOffset = 12;
// SENDCMDOUTPARAMS: the data follows the buffer size and the 12-byte driver status.
constexpr size_t kCommandOutDataOffset = 16;
constexpr size_t kSmartOutSize = kCommandOutDataOffset + kAtaIdentifySize;
constexpr size_t kSmartCheckedOutSize = 545;
// SRB_IO_CONTROL in front of the command for the SCSI miniport.
constexpr size_t kSrbSize = 28;
constexpr uint32_t kSrbTimeout = 10000;
constexpr uint32_t kMiniportIdentify = 0x1B0501;
constexpr uint32_t kMiniportDataLength = 529;
constexpr size_t kScsiInSize = kSrbSize + kCommandInSize;
constexpr size_t kScsiOutSize = kSrbSize + kMiniportDataLength;
// STORAGE_PROPERTY_QUERY for the device property, standard query: all zero.
constexpr size_t kPropertyQuerySize = 12;
constexpr size_t kDescriptorSize = 8192;
constexpr size_t kVendorOffsetField = 12;
constexpr size_t kProductOffsetField = 16;
constexpr size_t kSerialOffsetField = 24;
// ATA IDENTIFY fields: byte offset and length.
constexpr size_t kSerialAt = 20, kSerialLength = 20;
constexpr size_t kFirmwareAt = 46, kFirmwareLength = 8;
constexpr size_t kModelAt = 54, kModelLength = 40;

void Put32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t Get32(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

// ATA strings hold each pair of characters swapped and are padded with blanks.
std::string CleanAtaField(const uint8_t* field, size_t length) {
  std::string text = TrimText(std::string_view(reinterpret_cast<const char*>(field), length));
  for (size_t i = 0; i + 1 < text.size(); i += 2) std::swap(text[i], text[i + 1]);
  // A NUL ends the text, as it would for any C string the value is handed on as.
  text.resize(std::strlen(text.c_str()));
  return TrimText(text);
}

std::wstring DrivePath(const wchar_t* prefix, int number, const wchar_t* suffix = L"") {
  return prefix + std::to_wstring(number) + suffix;
}

void SmartWithAdministratorRights(DeviceIo& io, DriveTable& table) {
  using namespace device_share;
  for (int n = 0; n < kPhysicalDrives; ++n) {
    auto device =
        io.Open(DrivePath(L"\\\\.\\PhysicalDrive", n), device_access::kReadWrite, kRead | kWrite);
    if (!device) continue;
    std::array<uint8_t, kVersionSize> version{};
    uint32_t returned = 0;
    if (!device->Control(device_control::kSmartGetVersion, nullptr, 0, version.data(),
                         version.size(), &returned)) {
      version.fill(0);
    }
    std::array<uint8_t, kCommandInSize> in{};
    Put32(&in[kBufferSizeOffset], kAtaIdentifySize);
    in[kSectorCountOffset] = 1;
    in[kDriveHeadOffset] = (n & 1) ? 0xB0 : 0xA0;
    const bool packetDevice = (version[kIdeDeviceMapOffset] >> (n + 4)) & 1;
    in[kCommandOffset] = packetDevice ? kIdentifyPacketDevice : kIdentifyDevice;
    in[kDriveNumberOffset] = static_cast<uint8_t>(n);
    std::array<uint8_t, kSmartOutSize> out{};
    if (device->Control(device_control::kSmartReceiveDriveData, in.data(), in.size(), out.data(),
                        out.size(), &returned)) {
      table.Store(static_cast<size_t>(n), AtaIdentifyText(&out[kCommandOutDataOffset]));
    }
  }
}

void SmartWithVersionCheck(DeviceIo& io, DriveTable& table) {
  using namespace device_share;
  for (int n = 0; n < kPhysicalDrives; ++n) {
    auto device = io.Open(DrivePath(L"\\\\.\\PhysicalDrive", n), device_access::kReadWrite,
                          kRead | kWrite | kDelete);
    if (!device) continue;
    std::array<uint8_t, kVersionSize> version{};
    uint32_t returned = 0;
    if (!device->Control(device_control::kSmartGetVersion, nullptr, 0, version.data(),
                         version.size(), &returned)) {
      continue;
    }
    std::array<uint8_t, kCommandInSize> in{};
    in[kCommandOffset] = kIdentifyDevice;
    std::array<uint8_t, kSmartCheckedOutSize> out{};
    if (device->Control(device_control::kSmartReceiveDriveData, in.data(), in.size(), out.data(),
                        out.size(), &returned)) {
      table.Store(static_cast<size_t>(n), AtaIdentifyText(&out[kCommandOutDataOffset]));
    }
  }
}

void ScsiMiniport(DeviceIo& io, DriveTable& table) {
  using namespace device_share;
  for (int controller = 0; controller < kScsiControllers; ++controller) {
    auto device = io.Open(DrivePath(L"\\\\.\\Scsi", controller, L":"), device_access::kReadWrite,
                          kRead | kWrite);
    if (!device) continue;
    for (int drive = 0; drive < kScsiDrives; ++drive) {
      std::array<uint8_t, kScsiInSize> in{};
      Put32(&in[0], kSrbSize);
      std::memcpy(&in[4], "SCSIDISK", 8);
      Put32(&in[12], kSrbTimeout);
      Put32(&in[16], kMiniportIdentify);
      Put32(&in[24], kMiniportDataLength);
      in[kSrbSize + kCommandOffset] = kIdentifyDevice;
      in[kSrbSize + kDriveNumberOffset] = static_cast<uint8_t>(drive);
      std::array<uint8_t, kScsiOutSize> out{};
      uint32_t returned = 0;
      if (!device->Control(device_control::kScsiMiniport, in.data(), in.size(), out.data(),
                           out.size(), &returned)) {
        continue;
      }
      const uint8_t* identify = &out[kSrbSize + kCommandOutDataOffset];
      if (identify[kModelAt] != 0)
        table.Store(static_cast<size_t>(drive), AtaIdentifyText(identify));
    }
  }
}

void StorageProperty(DeviceIo& io, DriveTable& table) {
  using namespace device_share;
  for (int n = 0; n < kPhysicalDrives; ++n) {
    auto device =
        io.Open(DrivePath(L"\\\\.\\PhysicalDrive", n), device_access::kNone, kRead | kWrite);
    if (!device) continue;
    std::array<uint8_t, kPropertyQuerySize> query{};
    std::vector<uint8_t> descriptor(kDescriptorSize);
    uint32_t returned = 0;
    if (device->Control(device_control::kStorageQueryProperty, query.data(), query.size(),
                        descriptor.data(), static_cast<uint32_t>(descriptor.size()), &returned)) {
      table.Store(static_cast<size_t>(n),
                  StorageDescriptorText(descriptor.data(), descriptor.size()));
    }
  }
}

// The NUL-terminated text at `offset`, bounded by the buffer. An offset of 0 means the device
// has no such field: the descriptor's own first bytes are not text.
std::string DescriptorField(const uint8_t* descriptor, size_t size, size_t offsetField) {
  if (size < offsetField + 4) return {};
  const uint32_t offset = Get32(descriptor + offsetField);
  if (offset == 0 || offset >= size) return {};
  const char* start = reinterpret_cast<const char*>(descriptor + offset);
  const size_t available = size - offset;
  const void* nul = std::memchr(start, '\0', available);
  const size_t length =
      nul ? static_cast<size_t>(static_cast<const char*>(nul) - start) : available;
  return TrimText(std::string_view(start, length));
}

bool Contains(const std::string& text, const char* word) {
  return text.find(word) != std::string::npos;
}

bool IsVirtualOrDialUp(const AdapterRecord& adapter) {
  constexpr uint32_t kPpp = 23, kSoftwareLoopback = 24, kSerialLine = 28;
  if (adapter.type == kPpp || adapter.type == kSoftwareLoopback || adapter.type == kSerialLine) {
    return true;
  }
  const std::string description = LowerAscii(adapter.description);
  for (const char* word : {"virtualbox", "vmware", "bluetooth", "pptp", "pppoe"}) {
    if (Contains(description, word)) return true;
  }
  return (Contains(description, "wan") && Contains(description, "interface")) ||
         (Contains(description, "tap-win") && Contains(description, "adapter"));
}

bool HasHardwareAddress(const AdapterRecord& adapter) {
  if (adapter.address.size() != 6) return false;
  for (size_t i = 0; i < 5; ++i) {
    if (adapter.address[i] != 0) return true;
  }
  return false;
}

}  // namespace

std::string AtaIdentifyText(const uint8_t* identify) {
  return CleanAtaField(identify + kModelAt, kModelLength) + " " +
         CleanAtaField(identify + kFirmwareAt, kFirmwareLength) + " " +
         CleanAtaField(identify + kSerialAt, kSerialLength);
}

std::string StorageDescriptorText(const uint8_t* descriptor, size_t size) {
  return DescriptorField(descriptor, size, kVendorOffsetField) + " " +
         DescriptorField(descriptor, size, kProductOffsetField) + " " +
         DescriptorField(descriptor, size, kSerialOffsetField);
}

void DriveTable::Store(size_t drive, std::string text) {
  if (entries_.size() < drive + 1) entries_.resize(drive + 1);
  if (entries_[drive].size() < kNearlyEmpty) entries_[drive] = std::move(text);
}

std::string DriveTable::FirstNonEmpty() const {
  for (const std::string& entry : entries_) {
    if (!entry.empty()) return entry;
  }
  return {};
}

std::string DiskIdentification(DeviceIo& devices) {
  DriveTable table;
  SmartWithAdministratorRights(devices, table);
  SmartWithVersionCheck(devices, table);
  ScsiMiniport(devices, table);
  StorageProperty(devices, table);
  return table.FirstNonEmpty();
}

std::string BiosIdentification(WmiQuery& wmi) {
  std::vector<WmiRow> rows;
  if (!wmi.Query(L"Win32_BIOS", &rows) || rows.empty()) return {};
  const WmiRow& row = rows.front();
  static constexpr const wchar_t* kFields[] = {L"Manufacturer", L"Version", L"SMBIOSBIOSVersion",
                                               L"SerialNumber"};
  std::wstring joined;
  for (const wchar_t* name : kFields) {
    if (name != kFields[0]) joined += L'|';
    if (const auto value = row.find(name); value != row.end()) joined += value->second;
  }
  return WideToAnsi(joined);
}

std::string AdapterIdentification(const std::vector<AdapterRecord>& adapters) {
  constexpr int kMostAdapters = 3;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string result;
  int taken = 0;
  for (const AdapterRecord& adapter : adapters) {
    if (taken == kMostAdapters) break;
    if (IsVirtualOrDialUp(adapter) || !HasHardwareAddress(adapter)) continue;
    if (!result.empty()) result += ',';
    for (const uint8_t byte : adapter.address) {
      result += kHex[byte >> 4];
      result += kHex[byte & 0xF];
    }
    ++taken;
  }
  return result;
}

std::string AdapterIdentification(AdapterList& adapters) {
  const auto records = adapters.Read();
  return records ? AdapterIdentification(*records) : std::string();
}

ClientIdentification ComputeClientIdentification(DeviceIo& devices, WmiQuery& wmi,
                                                 AdapterList& adapters, bool queryBios) {
  // BIOS first, then disk, then adapters: the adapter query prints its diagnostic line last.
  ClientIdentification ids;
  if (queryBios) ids.bios = BiosIdentification(wmi);
  ids.disk = DiskIdentification(devices);
  ids.adapters = AdapterIdentification(adapters);
  return ids;
}
