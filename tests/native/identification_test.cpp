#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>

#include "service/client_identification.h"

namespace {

// 512 bytes of IDENTIFY data with the three fields stored pair-swapped and blank-padded, as
// drives report them.
std::vector<uint8_t> Identify(const std::string& model, const std::string& firmware,
                              const std::string& serial) {
  std::vector<uint8_t> data(kAtaIdentifySize, 0);
  auto put = [&](size_t at, size_t length, std::string text) {
    text.resize(length, ' ');
    for (size_t i = 0; i + 1 < length; i += 2) std::swap(text[i], text[i + 1]);
    std::memcpy(&data[at], text.data(), length);
  };
  put(20, 20, serial);
  put(46, 8, firmware);
  put(54, 40, model);
  return data;
}

struct Call {
  std::wstring path;
  uint32_t access;
  uint32_t share;
  uint32_t code;
  std::vector<uint8_t> input;
  uint32_t outputSize;
};

// Devices that exist by path; each control request is answered by the test.
class FakeDeviceIo : public DeviceIo {
 public:
  using Answer = std::function<bool(const Call&, uint8_t* output)>;

  std::unique_ptr<Device> Open(const std::wstring& path, uint32_t access, uint32_t share) override {
    opened.push_back(path);
    if (!answers.count(path)) return nullptr;
    return std::make_unique<FakeDevice>(*this, path, access, share);
  }

  std::map<std::wstring, Answer> answers;
  std::vector<std::wstring> opened;
  std::vector<Call> calls;

 private:
  class FakeDevice : public Device {
   public:
    FakeDevice(FakeDeviceIo& io, std::wstring path, uint32_t access, uint32_t share)
        : io_(io), path_(std::move(path)), access_(access), share_(share) {}
    bool Control(uint32_t code, const void* input, uint32_t inputSize, void* output,
                 uint32_t outputSize, uint32_t* returned) override {
      const auto* in = static_cast<const uint8_t*>(input);
      Call call{path_, access_, share_, code, std::vector<uint8_t>(in, in + inputSize), outputSize};
      io_.calls.push_back(call);
      *returned = outputSize;
      return io_.answers[path_](call, static_cast<uint8_t*>(output));
    }

   private:
    FakeDeviceIo& io_;
    std::wstring path_;
    uint32_t access_;
    uint32_t share_;
  };
};

class FakeWmi : public WmiQuery {
 public:
  bool Query(const std::wstring& className, std::vector<WmiRow>* rows) override {
    asked = className;
    *rows = result;
    return ok;
  }
  bool ok = true;
  std::vector<WmiRow> result;
  std::wstring asked;
};

AdapterRecord Adapter(uint32_t type, std::string description, std::vector<uint8_t> address) {
  return {type, std::move(description), std::move(address)};
}

constexpr uint32_t kEthernet = 6;

}  // namespace

TEST(AtaIdentifyText, UnswapsAndTrimsTheThreeFields) {
  const auto data = Identify("  WDC WD10EZEX-08M", "01.01A01", "     WD-WCC3F1234567");
  EXPECT_EQ(AtaIdentifyText(data.data()), "WDC WD10EZEX-08M 01.01A01 WD-WCC3F1234567");
  // A blank trimmed off before the swap shifts the pairs; an embedded NUL ends a field.
  std::vector<uint8_t> odd(kAtaIdentifySize, 0);
  std::memcpy(&odd[54], " BAD C", 6);
  std::memcpy(&odd[20],
              "12\0\0"
              "34",
              6);
  EXPECT_EQ(AtaIdentifyText(odd.data()), "AB D  21");
}

TEST(DriveTable, LaterMethodsOnlyFillGapsAndNearlyEmptyEntries) {
  DriveTable table;
  table.Store(2, "abc");
  EXPECT_EQ(table.entries().size(), 3u);
  table.Store(2, "longer text");
  table.Store(2, "ignored now");
  table.Store(0, "");
  EXPECT_EQ(table.entries()[2], "longer text");
  EXPECT_EQ(table.FirstNonEmpty(), "longer text");
  table.Store(1, "abcd");
  EXPECT_EQ(table.FirstNonEmpty(), "abcd");
  EXPECT_EQ(DriveTable().FirstNonEmpty(), "");
}

TEST(DiskIdentification, AsksEachDeviceTheWayEachMethodDoes) {
  FakeDeviceIo io;
  io.answers[L"\\\\.\\PhysicalDrive1"] = [](const Call& call, uint8_t* out) {
    if (call.code == device_control::kSmartGetVersion) {
      out[3] = 0x20;  // drive 1 is a packet device
      return true;
    }
    return false;
  };
  io.answers[L"\\\\.\\Scsi3:"] = [](const Call&, uint8_t*) { return false; };
  EXPECT_EQ(DiskIdentification(io), "");

  std::vector<std::wstring> expectedOpens;
  for (int n = 0; n < 4; ++n) expectedOpens.push_back(L"\\\\.\\PhysicalDrive" + std::to_wstring(n));
  for (int n = 0; n < 4; ++n) expectedOpens.push_back(L"\\\\.\\PhysicalDrive" + std::to_wstring(n));
  for (int c = 0; c < 16; ++c) expectedOpens.push_back(L"\\\\.\\Scsi" + std::to_wstring(c) + L":");
  for (int n = 0; n < 4; ++n) expectedOpens.push_back(L"\\\\.\\PhysicalDrive" + std::to_wstring(n));
  EXPECT_EQ(io.opened, expectedOpens);

  // Drive 1: version, identify (method 1); version, identify (method 2); property (method 4).
  // Scsi3: identify drives 0 and 1 (method 3).
  ASSERT_EQ(io.calls.size(), 7u);
  const Call& smart = io.calls[1];
  EXPECT_EQ(smart.access, device_access::kReadWrite);
  EXPECT_EQ(smart.share, device_share::kRead | device_share::kWrite);
  EXPECT_EQ(smart.code, device_control::kSmartReceiveDriveData);
  ASSERT_EQ(smart.input.size(), 32u);
  EXPECT_EQ(smart.input[0] | smart.input[1] << 8, 512);
  EXPECT_EQ(smart.input[5], 1);     // sector count
  EXPECT_EQ(smart.input[9], 0xB0);  // drive/head of an odd drive
  EXPECT_EQ(smart.input[10], 0xA1);
  EXPECT_EQ(smart.input[12], 1);
  EXPECT_EQ(smart.outputSize, 528u);

  const Call& checked = io.calls[3];
  EXPECT_EQ(checked.share, device_share::kRead | device_share::kWrite | device_share::kDelete);
  EXPECT_EQ(checked.outputSize, 545u);
  std::vector<uint8_t> onlyCommand(32, 0);
  onlyCommand[10] = 0xEC;
  EXPECT_EQ(checked.input, onlyCommand);

  const Call& scsi = io.calls[4];
  EXPECT_EQ(scsi.path, L"\\\\.\\Scsi3:");
  EXPECT_EQ(scsi.code, device_control::kScsiMiniport);
  ASSERT_EQ(scsi.input.size(), 60u);
  EXPECT_EQ(scsi.outputSize, 557u);
  EXPECT_EQ(scsi.input[0], 28);
  EXPECT_EQ(std::string(scsi.input.begin() + 4, scsi.input.begin() + 12), "SCSIDISK");
  EXPECT_EQ(scsi.input[12] | scsi.input[13] << 8, 10000);
  EXPECT_EQ(scsi.input[16] | scsi.input[17] << 8 | scsi.input[18] << 16, 0x1B0501);
  EXPECT_EQ(scsi.input[24] | scsi.input[25] << 8, 529);
  EXPECT_EQ(scsi.input[38], 0xEC);
  EXPECT_EQ(io.calls[5].input[40], 1);

  const Call& property = io.calls[6];
  EXPECT_EQ(property.access, device_access::kNone);
  EXPECT_EQ(property.code, device_control::kStorageQueryProperty);
  EXPECT_EQ(property.input, std::vector<uint8_t>(12, 0));
  EXPECT_EQ(property.outputSize, 8192u);
}

TEST(DiskIdentification, ALongerTextFromALaterMethodReplacesANearlyEmptyOne) {
  FakeDeviceIo io;
  io.answers[L"\\\\.\\PhysicalDrive0"] = [](const Call& call, uint8_t* out) {
    if (call.code == device_control::kSmartReceiveDriveData && call.input[12] == 0 &&
        call.outputSize == 528) {
      const auto data = Identify("", "", "X");  // "  X": three characters
      std::memcpy(out + 16, data.data(), data.size());
      return true;
    }
    if (call.code == device_control::kStorageQueryProperty) {
      std::memset(out, 0, call.outputSize);
      out[12] = 40;  // vendor
      out[16] = 50;  // product
      out[24] = 0;   // no serial number field
      std::memcpy(out + 40, " ACME \0", 7);
      std::memcpy(out + 50, "Disk 9\0", 7);
      return true;
    }
    return false;
  };
  EXPECT_EQ(DiskIdentification(io), "ACME Disk 9 ");
}

TEST(StorageDescriptorText, NeverReadsOutsideTheDescriptor) {
  std::vector<uint8_t> descriptor(64, 'z');
  descriptor[12] = 60;   // vendor runs to the end without a NUL
  descriptor[16] = 200;  // product beyond the descriptor
  descriptor[24] = 0;
  descriptor[25] = descriptor[26] = descriptor[27] = 0;
  for (size_t i : {13, 14, 15, 17, 18, 19}) descriptor[i] = 0;
  EXPECT_EQ(StorageDescriptorText(descriptor.data(), descriptor.size()), "zzzz  ");
  EXPECT_EQ(StorageDescriptorText(descriptor.data(), 10), "  ");
}

TEST(BiosIdentification, JoinsFourFieldsOfTheFirstRow) {
  FakeWmi wmi;
  wmi.result = {{{L"Manufacturer", L"LENOVO"},
                 {L"Version", L"LENOVO - 1"},
                 {L"SMBIOSBIOSVersion", L"N1EET45W"},
                 {L"Name", L"ignored"}},
                {{L"Manufacturer", L"second row"}}};
  EXPECT_EQ(BiosIdentification(wmi), "LENOVO|LENOVO - 1|N1EET45W|");
  EXPECT_EQ(wmi.asked, L"Win32_BIOS");
  wmi.result.clear();
  EXPECT_EQ(BiosIdentification(wmi), "");
  wmi.result = {{{L"Manufacturer", L"x"}}};
  wmi.ok = false;
  EXPECT_EQ(BiosIdentification(wmi), "");
}

TEST(AdapterIdentification, TakesUpToThreePhysicalAdapters) {
  const std::vector<uint8_t> mac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  EXPECT_EQ(
      AdapterIdentification({
          Adapter(kEthernet, "Intel(R) Ethernet Connection", mac),
          Adapter(kEthernet, "VMware Virtual Ethernet Adapter for VMnet8", {1, 2, 3, 4, 5, 6}),
          Adapter(kEthernet, "Bluetooth Device (Personal Area Network)", {1, 2, 3, 4, 5, 7}),
      }),
      "001a2b3c4d5e");

  std::vector<AdapterRecord> many;
  for (uint8_t i = 1; i <= 4; ++i) many.push_back(Adapter(kEthernet, "NIC", {0, 0, 0, 0, i, 0xff}));
  EXPECT_EQ(AdapterIdentification(many), "0000000001ff,0000000002ff,0000000003ff");

  EXPECT_EQ(AdapterIdentification({
                Adapter(kEthernet, "zero", {0, 0, 0, 0, 0, 9}),
                Adapter(kEthernet, "short", {1, 2, 3, 4}),
                Adapter(23, "ppp", mac),
                Adapter(24, "loopback", mac),
                Adapter(28, "slip", mac),
                Adapter(kEthernet, "WAN Miniport (IP) Interface", mac),
                Adapter(kEthernet, "TAP-Win32 Adapter V9", mac),
                Adapter(kEthernet, "PPPoE link", mac),
                Adapter(kEthernet, "VirtualBox Host-Only", mac),
                Adapter(kEthernet, "WAN card", mac),
            }),
            "001a2b3c4d5e");
}

TEST(ClientIdentification, ComputesAllThreeThroughThePorts) {
  class Adapters : public AdapterList {
   public:
    std::optional<std::vector<AdapterRecord>> Read() override { return std::nullopt; }
  } adapters;
  FakeDeviceIo devices;
  FakeWmi wmi;
  wmi.result = {{{L"SerialNumber", L"S1"}}};
  const ClientIdentification id = ComputeClientIdentification(devices, wmi, adapters);
  EXPECT_EQ(id.disk, "");
  EXPECT_EQ(id.bios, "|||S1");
  EXPECT_EQ(id.adapters, "");
}
