// Opening devices and sending them control codes: how the disk identification asks the drives.
// The access, sharing and control-code numbers are the system's own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace device_access {
inline constexpr uint32_t kNone = 0;
inline constexpr uint32_t kReadWrite = 0x80000000u | 0x40000000u;  // GENERIC_READ | GENERIC_WRITE
}  // namespace device_access

namespace device_share {
inline constexpr uint32_t kRead = 1;
inline constexpr uint32_t kWrite = 2;
inline constexpr uint32_t kDelete = 4;
}  // namespace device_share

namespace device_control {
inline constexpr uint32_t kSmartGetVersion = 0x00074080;
inline constexpr uint32_t kSmartReceiveDriveData = 0x0007C088;
inline constexpr uint32_t kScsiMiniport = 0x0004D008;
inline constexpr uint32_t kStorageQueryProperty = 0x002D1400;
}  // namespace device_control

class Device {
 public:
  virtual ~Device() = default;  // closes the device
  // One control request; `returned` gets the count of output bytes written.
  virtual bool Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                       uint32_t outputSize, uint32_t* returned) = 0;
};

class DeviceIo {
 public:
  virtual ~DeviceIo() = default;
  // Opens an existing device; null when it cannot be opened.
  virtual std::unique_ptr<Device> Open(const std::wstring& path, uint32_t access,
                                       uint32_t share) = 0;
};
