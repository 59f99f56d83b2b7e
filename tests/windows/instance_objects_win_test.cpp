// The instance object under Wine, which has no private namespaces: the global name, whose owner
// decides whether it is another instance of ours or a squatter's.
#include "app/instance_objects_win.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring ProgramFile() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return self;
}

std::wstring UserSid() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  BYTE user[256];
  DWORD length = 0;
  GetTokenInformation(token, TokenUser, user, sizeof(user), &length);
  CloseHandle(token);
  wchar_t* sid = nullptr;
  ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid);
  std::wstring text = sid ? sid : L"";
  LocalFree(sid);
  return text;
}

// Someone's mutex under the program's global name, owned by `owner` (a SID string).
HANDLE HoldGlobalName(const std::wstring& owner) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW((L"O:" + owner + L"D:(A;;GA;;;WD)").c_str(),
                                                       SDDL_REVISION_1, &descriptor, nullptr);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  const HANDLE mutex = CreateMutexW(&attributes, TRUE,
                                    (std::wstring(L"Global\\") + kSingleInstanceLeaf).c_str());
  LocalFree(descriptor);
  return mutex;
}

TEST(InstanceObjectsWinTest, AUsersObjectUnderTheGlobalNameKeepsNothingFromStarting) {
  if (OwnNamespace(true).usable()) GTEST_SKIP() << "the name lives in the private namespace here";
  const HANDLE squatter = HoldGlobalName(UserSid());
  ASSERT_NE(squatter, nullptr);
  {
    SystemInstanceObjects objects(ProgramFile());
    EXPECT_EQ(CheckSingleInstance(objects, kSingleInstanceLeaf), InstanceCheck::kSquatted);
    bool squatted = false;
    EXPECT_FALSE(IsProgramRunning(ProgramFile(), squatted)) << "the installer waits for nothing";
    EXPECT_TRUE(squatted);
  }
  CloseHandle(squatter);

  // The administrators' object: another instance of ours, as an earlier version makes it.
  const HANDLE ours = HoldGlobalName(L"BA");
  ASSERT_NE(ours, nullptr);
  SystemInstanceObjects objects(ProgramFile());
  EXPECT_EQ(CheckSingleInstance(objects, kSingleInstanceLeaf), InstanceCheck::kAnotherRuns);
  bool squatted = true;
  EXPECT_TRUE(IsProgramRunning(ProgramFile(), squatted));
  EXPECT_FALSE(squatted);
  CloseHandle(ours);
}

// Only a window of another process running our own program file is the running program.
TEST(InstanceObjectsWinTest, AWindowWithOurCaptionIsNotOursByItsCaption) {
  const HWND impostor = CreateWindowExW(0, L"#32770", kMainWindowCaption, WS_POPUP, 0, 0, 10, 10,
                                        nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(impostor, nullptr);
  EXPECT_EQ(FindOwnMainWindow(L"C:\\Program Files\\OrumaVPN\\Kavrin.exe"), nullptr);
  EXPECT_EQ(FindOwnMainWindow(ProgramFile()), nullptr) << "this process is not another instance";
  DestroyWindow(impostor);
}

// Wine runs everything as an administrator; a process that is gone (or cannot be opened) has
// no rights we can see, so its window would not count.
TEST(InstanceObjectsWinTest, AProcessCountsOnlyWithAdministratorRightsWeCanRead) {
  EXPECT_TRUE(ProcessHasAdministratorRights(GetCurrentProcessId()));
  EXPECT_FALSE(ProcessHasAdministratorRights(0xFFFFFFF0u));
}

}  // namespace
