// Against the real KavrinBind.dll, which the build puts beside this test program.
#include "policy/bind_module_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "framework/unique_handle_win.h"
#include "policy/bind_registration.h"

namespace {

constexpr wchar_t kRecordKey[] = L"SOFTWARE\\Kavrin\\Bind";
constexpr wchar_t kRecordValue[] = L"ModulePath";
constexpr wchar_t kAbsentModule[] = L"KavrinBindAbsent.dll";
// 10.8.0.6 as inet_addr gives it.
constexpr uint32_t kTunnelAddress = 0x0600080Au;

std::wstring ReadRecord(HKEY root) {
  wchar_t path[1024] = {};
  DWORD bytes = sizeof(path) - sizeof(wchar_t);
  if (RegGetValueW(root, kRecordKey, kRecordValue, RRF_RT_REG_SZ, nullptr, path, &bytes) !=
      ERROR_SUCCESS) {
    return {};
  }
  return path;
}

void DeleteRecord(HKEY root) {
  UniqueRegKey key;
  if (RegOpenKeyExW(root, kRecordKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS) return;
  RegDeleteValueW(key.get(), kRecordValue);
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring file(path, length);
  return file.substr(0, file.find_last_of(L'\\') + 1);
}

std::wstring SystemModulePath(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return std::wstring(folder, length) + L"\\" + name;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

class BindModuleWinTest : public ::testing::Test {
 protected:
  void SetUp() override { DeleteRecords(); }
  void TearDown() override { DeleteRecords(); }

  static void DeleteRecords() {
    DeleteRecord(HKEY_LOCAL_MACHINE);
    DeleteRecord(HKEY_CURRENT_USER);
  }
  static std::wstring RecordedPath() {
    const std::wstring machine = ReadRecord(HKEY_LOCAL_MACHINE);
    return machine.empty() ? ReadRecord(HKEY_CURRENT_USER) : machine;
  }
};

TEST_F(BindModuleWinTest, RegistrationIsIdempotentAndUnregisteringTwiceFails) {
  SystemBindModule module;
  EXPECT_EQ(module.Register(true), 0);
  EXPECT_EQ(module.Register(true), 0);
  EXPECT_TRUE(SamePath(RecordedPath(), ProgramFolder() + L"KavrinBind.dll")) << RecordedPath();

  EXPECT_EQ(module.Register(false), 0);
  EXPECT_EQ(RecordedPath(), L"");
  // The client then asks whether the module was perhaps already unregistered.
  EXPECT_NE(module.Register(false), 0);
}

TEST_F(BindModuleWinTest, CommandLineActionsSucceedFromAnyPriorState) {
  SystemBindModule module;
  EXPECT_EQ(RegisterModules(module), 0);  // nothing to clear first
  EXPECT_EQ(RegisterModules(module), 0);  // an existing registration is replaced
  EXPECT_EQ(UnregisterModules(module), 0);
  EXPECT_NE(UnregisterModules(module), 0);
}

TEST_F(BindModuleWinTest, MissingModuleOrEntryPointCountsAsFailureOne) {
  SystemBindModule absent(kAbsentModule);
  EXPECT_EQ(absent.Register(true), 1);
  EXPECT_EQ(absent.Register(false), 1);

  SystemBindModule withoutEntryPoints(SystemModulePath(L"kernel32.dll"));
  EXPECT_EQ(withoutEntryPoints.Register(true), 1);
  EXPECT_EQ(withoutEntryPoints.Register(false), 1);
}

TEST_F(BindModuleWinTest, BareNameIsNotLoadedFromTheCurrentFolder) {
  wchar_t temp[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring folder = std::wstring(temp) + L"kavrin-bind-test\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring planted = folder + L"KavrinBindPlanted.dll";
  ASSERT_TRUE(CopyFileW((ProgramFolder() + L"KavrinBind.dll").c_str(), planted.c_str(), FALSE));
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));

  SystemBindModule module(L"KavrinBindPlanted.dll");
  const int result = module.Register(true);

  SetCurrentDirectoryW(previous);
  const HMODULE loaded = GetModuleHandleW(L"KavrinBindPlanted.dll");
  if (loaded != nullptr) FreeLibrary(loaded);
  DeleteFileW(planted.c_str());
  RemoveDirectoryW(folder.c_str());
  EXPECT_EQ(result, 1);
  EXPECT_EQ(loaded, nullptr);
  EXPECT_EQ(RecordedPath(), L"");
}

TEST_F(BindModuleWinTest, StartAndStopOnlyReachAModuleAlreadyLoaded) {
  SystemBindModule absent(kAbsentModule);
  EXPECT_FALSE(absent.IsLoaded(kAbsentModule));
  EXPECT_FALSE(absent.Start(kBindStartCount, kTunnelAddress));
  EXPECT_FALSE(absent.Stop());
  EXPECT_EQ(GetModuleHandleW(kAbsentModule), nullptr);

  SystemBindModule withoutEntryPoints(L"kernel32.dll");
  EXPECT_TRUE(withoutEntryPoints.IsLoaded(L"kernel32.dll"));
  EXPECT_FALSE(withoutEntryPoints.Start(kBindStartCount, kTunnelAddress));
  EXPECT_FALSE(withoutEntryPoints.Stop());

  ASSERT_NE(LoadLibraryW((ProgramFolder() + L"KavrinBind.dll").c_str()), nullptr);
  SystemBindModule module;
  EXPECT_TRUE(module.IsLoaded(kBindModuleFile));
  EXPECT_TRUE(module.Stop());  // before any start: harmless
  EXPECT_TRUE(module.Start(kBindStartCount, kTunnelAddress));
  EXPECT_TRUE(module.Stop());
  EXPECT_TRUE(module.Stop());
  EXPECT_TRUE(module.Start(kBindStartCount, 0xFFFFFFFFu));  // unusable address: stays stopped
  EXPECT_TRUE(module.Stop());
}

TEST_F(BindModuleWinTest, RepairLeavesALoadedModulesRegistrationAlone) {
  ASSERT_NE(LoadLibraryW((ProgramFolder() + L"KavrinBind.dll").c_str()), nullptr);
  SystemBindModule module;
  RepairBindModuleRegistration(module);
  EXPECT_EQ(RecordedPath(), L"");
}

}  // namespace
