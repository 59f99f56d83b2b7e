// The three texts that describe this machine's hardware to the service: disks, BIOS and network
// adapters. Computed once at start-up and sent with every login; nothing is hashed or shortened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/adapter_list.h"
#include "service/device_io.h"
#include "service/wmi_query.h"

struct ClientIdentification {
  std::string disk;
  std::string bios;
  std::string adapters;
};

// `queryBios` false leaves the BIOS value empty without asking WMI.
ClientIdentification ComputeClientIdentification(DeviceIo& devices, WmiQuery& wmi,
                                                 AdapterList& adapters, bool queryBios = true);

// First non-empty text the four disk methods found, in drive order.
std::string DiskIdentification(DeviceIo& devices);
// Manufacturer|Version|SMBIOSBIOSVersion|SerialNumber of the first Win32_BIOS instance.
std::string BiosIdentification(WmiQuery& wmi);
// Up to three physical adapters' MAC addresses as 12 hex digits, joined by ",".
std::string AdapterIdentification(const std::vector<AdapterRecord>& adapters);
std::string AdapterIdentification(AdapterList& adapters);

inline constexpr size_t kAtaIdentifySize = 512;
// "model firmware serial" from ATA IDENTIFY DEVICE data (kAtaIdentifySize bytes).
std::string AtaIdentifyText(const uint8_t* identify);
// "vendor product serial" from a storage device descriptor of `size` bytes.
std::string StorageDescriptorText(const uint8_t* descriptor, size_t size);

// Texts per drive number. A later method only fills gaps and entries shorter than five
// characters.
class DriveTable {
 public:
  void Store(size_t drive, std::string text);
  std::string FirstNonEmpty() const;
  const std::vector<std::string>& entries() const { return entries_; }

 private:
  std::vector<std::string> entries_;
};
