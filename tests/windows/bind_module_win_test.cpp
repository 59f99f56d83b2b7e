// Against the real KavrinBind.dll, which the build puts beside this test program.
#include "policy/bind_module_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "fakes/fake_folder_security.h"
#include "policy/bind_catalog_win.h"
#include "policy/bind_registration.h"

namespace {

constexpr wchar_t kAbsentModule[] = L"KavrinBindAbsent.dll";
// 10.8.0.6 as inet_addr gives it.
constexpr uint32_t kTunnelAddress = 0x0600080Au;
constexpr int kNothingRegistered = static_cast<int>(0x80070002u);
constexpr int kCatalogKeptNothing = static_cast<int>(0x80070643u);

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

class BindModuleWinTest : public ::testing::Test {};

TEST_F(BindModuleWinTest, TheCatalogIsReadWithItsIpv4TcpAndUdpBases) {
  SystemSocketCatalog catalog;
  std::vector<CatalogEntry> entries;
  ASSERT_EQ(catalog.Entries(entries), 0);
  int tcp = 0;
  int udp = 0;
  for (const CatalogEntry& e : entries) {
    EXPECT_NE(e.id, 0u);
    EXPECT_FALSE(e.name.empty());
    if (e.chainLength != CatalogEntry::kBase || e.addressFamily != kAfInet) continue;
    tcp += e.socketType == kSockStream && e.protocol == kIpProtoTcp;
    udp += e.socketType == kSockDgram && e.protocol == kIpProtoUdp;
  }
  EXPECT_GE(tcp, 1);
  EXPECT_GE(udp, 1);
}

// Wine's socket layer answers every catalog change with success and keeps none of it (and never
// loads layered providers). Registration must say so rather than claim a module that does
// nothing, and must leave the catalog as it found it.
TEST_F(BindModuleWinTest, ACatalogThatKeepsNothingFailsRegistrationAndIsLeftAsItWas) {
  SystemSocketCatalog catalog;
  std::vector<CatalogEntry> before;
  ASSERT_EQ(catalog.Entries(before), 0);

  SystemBindModule module;
  EXPECT_EQ(module.Register(true), kCatalogKeptNothing);
  EXPECT_FALSE(module.IsRegistered());
  EXPECT_EQ(module.Register(false), kNothingRegistered);
  FakeFolderSecurity security;
  security.entries[L"C:\\Kavrin"] = FakeFolderSecurity::OwnFolder();
  security.entries[L"C:\\Kavrin\\KavrinBind.dll"] = FakeFolderSecurity::OwnFile();
  EXPECT_NE(RegisterModules(module, {security, L"C:\\Kavrin", L"KavrinBind.dll"}), 0);
  EXPECT_EQ(UnregisterModules(module), kNothingRegistered);

  std::vector<CatalogEntry> after;
  ASSERT_EQ(catalog.Entries(after), 0);
  EXPECT_EQ(after, before);
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

// The catalog as WSCEnumProtocols reports it (Microsoft Learn, "WSCEnumProtocols function"): too
// small a buffer answers SOCKET_ERROR with WSAENOBUFS and the size needed now; here another
// installer adds `g_growth` entries after each of the next `g_growths` answers, as one running
// beside us may.
int g_catalogSize = 0;
int g_growth = 0;
int g_growths = 0;
int WSAAPI GrowingCatalog(LPINT, LPWSAPROTOCOL_INFOW buffer, LPDWORD bytes, LPINT error) {
  const DWORD needed = DWORD(g_catalogSize) * sizeof(WSAPROTOCOL_INFOW);
  const int size = g_catalogSize;
  if (g_growths > 0) {
    --g_growths;
    g_catalogSize += g_growth;
  }
  if (*bytes < needed) {
    *bytes = needed;
    *error = WSAENOBUFS;
    return SOCKET_ERROR;
  }
  for (int i = 0; i < size; ++i) {
    buffer[i] = {};
    buffer[i].dwCatalogEntryId = DWORD(i + 1);
  }
  return size;
}

TEST(EnumerateProtocolsWin, ACatalogGrowingWhileReadIsReadWholeOrNotAtAll) {
  // It grew once between sizing and reading: read again, every entry there.
  g_catalogSize = 9;
  g_growth = 2;
  g_growths = 1;
  std::vector<WSAPROTOCOL_INFOW> entries;
  ASSERT_EQ(EnumerateProtocols(entries, GrowingCatalog), 0);
  ASSERT_EQ(entries.size(), 11u);
  EXPECT_EQ(entries.back().dwCatalogEntryId, 11u);

  // It never stops growing: an error and nothing, never a part of it taken for the whole.
  g_catalogSize = 9;
  g_growth = 40;
  g_growths = 100;
  EXPECT_EQ(EnumerateProtocols(entries, GrowingCatalog), WSAENOBUFS);
  EXPECT_TRUE(entries.empty());
}

}  // namespace
