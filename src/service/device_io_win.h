// Devices opened with CreateFileW and asked with DeviceIoControl.
#pragma once

#include "service/device_io.h"

class SystemDeviceIo final : public DeviceIo {
 public:
  std::unique_ptr<Device> Open(const std::wstring& path, uint32_t access, uint32_t share) override;
};
