#include "service/device_io_win.h"

#include <windows.h>
// The device headers build on windows.h.
#include <ntddscsi.h>
#include <winioctl.h>

static_assert(device_control::kSmartGetVersion == SMART_GET_VERSION);
static_assert(device_control::kSmartReceiveDriveData == SMART_RCV_DRIVE_DATA);
static_assert(device_control::kScsiMiniport == IOCTL_SCSI_MINIPORT);
static_assert(device_control::kStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(device_access::kReadWrite == (GENERIC_READ | GENERIC_WRITE));
static_assert(device_share::kRead == FILE_SHARE_READ && device_share::kWrite == FILE_SHARE_WRITE &&
              device_share::kDelete == FILE_SHARE_DELETE);
// The byte layouts the identification builds by hand.
static_assert(sizeof(GETVERSIONINPARAMS) == 24);
static_assert(sizeof(SENDCMDINPARAMS) == 33 && offsetof(SENDCMDINPARAMS, bDriveNumber) == 12);
static_assert(offsetof(SENDCMDOUTPARAMS, bBuffer) == 16);
static_assert(sizeof(SRB_IO_CONTROL) == 28);
static_assert(sizeof(STORAGE_PROPERTY_QUERY) == 12);
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset) == 12 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset) == 16 &&
              offsetof(STORAGE_DEVICE_DESCRIPTOR, SerialNumberOffset) == 24);

namespace {

class SystemDevice final : public Device {
 public:
  explicit SystemDevice(HANDLE handle) : handle_(handle) {}
  ~SystemDevice() override { ::CloseHandle(handle_); }
  SystemDevice(const SystemDevice&) = delete;
  SystemDevice& operator=(const SystemDevice&) = delete;

  bool Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
               uint32_t outputSize, uint32_t* returned) override {
    DWORD count = 0;
    const BOOL ok = ::DeviceIoControl(handle_, code, const_cast<void*>(input), inputSize, output,
                                      outputSize, &count, nullptr);
    if (returned) *returned = count;
    return ok != FALSE;
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<Device> SystemDeviceIo::Open(const std::wstring& path, uint32_t access,
                                             uint32_t share) {
  const HANDLE handle =
      ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<SystemDevice>(handle);
}
