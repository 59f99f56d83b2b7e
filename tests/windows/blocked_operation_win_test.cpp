#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/blocked_operation_runner_win.h"
#include "app/dlg_blocked_operation_win.h"
#include "config/text_table.h"
#include "vpn/service_control_win.h"

namespace {

// A service control manager that cannot be reached: every step of a restart fails at once.
class UnreachableServices : public ServiceControl {
 public:
  std::unique_ptr<ServiceManager> OpenManager() override {
    openedOn = GetCurrentThreadId();
    return nullptr;
  }
  void EnableDebugPrivilege() override {}
  bool TerminateProcess(uint32_t) override { return false; }
  std::atomic<DWORD> openedOn{0};
};

// Time passes only when someone sleeps.
class InstantClock : public TickClock {
 public:
  uint32_t Ticks() override { return now; }
  void Sleep(uint32_t ms) override { now += ms; }
  std::atomic<uint32_t> now{0};
};

BOOL CALLBACK MatchBlockedDialog(HWND window, LPARAM out) {
  wchar_t className[16] = {};
  GetClassNameW(window, className, 16);
  if (std::wstring(className) != L"#32770" || CWindow::GetWindowText(window) != L"OrumaVPN") {
    return TRUE;
  }
  *reinterpret_cast<HWND*>(out) = window;
  return FALSE;
}

HWND FindBlockedDialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), MatchBlockedDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Once the dialog is up: its size and text, then Enter, Escape, IDCANCEL and a close request.
struct Probe {
  bool pressed = false;
  RECT rect = {};
  std::wstring text;
  bool openAfterKeys = false;
};
Probe g_probe;

void CALLBACK PressKeys(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND dialog = FindBlockedDialog();
  if (!dialog) return;
  if (!g_probe.pressed) {
    g_probe.pressed = true;
    GetWindowRect(dialog, &g_probe.rect);
    g_probe.text = CWindow::GetWindowText(GetDlgItem(dialog, 0xFFFF));
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
      PostMessageW(dialog, WM_KEYDOWN, key, 0);
      PostMessageW(dialog, WM_KEYUP, key, 0);
    }
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    return;
  }
  KillTimer(nullptr, timer);
  g_probe.openAfterKeys = IsWindowVisible(dialog) != FALSE;
}

class BlockedOperationWin : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildTextTable();
    g_probe = Probe{};
  }
};

}  // namespace

TEST_F(BlockedOperationWin, RestartThatFailsAtOnceKeepsTheWindowThreeSecondsAndKeysDoNothing) {
  UnreachableServices services;
  CBlockedOperation_RestartVpnRelatedServices operation(services, SystemTickClock());
  CDlgBlockedOperation dialog;
  dialog.SetOperation(&operation);

  const UINT_PTR timer = SetTimer(nullptr, 0, 200, PressKeys);
  const DWORD started = GetTickCount();
  EXPECT_EQ(dialog.DoModal(nullptr), IDOK);
  const DWORD elapsed = GetTickCount() - started;
  KillTimer(nullptr, timer);

  EXPECT_GE(elapsed, 2990u);
  EXPECT_LT(elapsed, 10000u);
  EXPECT_TRUE(g_probe.pressed);
  EXPECT_TRUE(g_probe.openAfterKeys);
  EXPECT_EQ(g_probe.rect.right - g_probe.rect.left, CDlgBlockedOperation::kWidth);
  EXPECT_EQ(g_probe.rect.bottom - g_probe.rect.top, CDlgBlockedOperation::kHeight);
  EXPECT_EQ(g_probe.text, GetText("ApplyingNewConfigurationPleaseWait"));
  EXPECT_NE(services.openedOn.load(), GetCurrentThreadId()) << "ran on the worker";
}

TEST_F(BlockedOperationWin, WithoutAnOperationItClosesAtOnce) {
  CDlgBlockedOperation dialog;
  const DWORD started = GetTickCount();
  EXPECT_EQ(dialog.DoModal(nullptr), IDOK);
  // Hiding a window that was shown costs up to two seconds under Wine without a window manager.
  EXPECT_LT(GetTickCount() - started, kRestartMinimumMs);
}

TEST_F(BlockedOperationWin, RunnerRunsTheRestartBehindTheDialog) {
  UnreachableServices services;
  InstantClock clock;
  DialogBlockedOperationRunner runner(nullptr, &services, &clock);
  runner.RestartVpnRelatedServices();
  EXPECT_NE(services.openedOn.load(), 0u);
  EXPECT_NE(services.openedOn.load(), GetCurrentThreadId());
  EXPECT_EQ(clock.now.load(), kRestartMinimumMs);
}

TEST(ServiceControlWin, SeesTheSystemsServices) {
  std::unique_ptr<ServiceManager> manager = SystemServiceControl().OpenManager();
  ASSERT_NE(manager, nullptr);
  ServiceSnapshot snapshot;
  ASSERT_TRUE(manager->EnumerateServices(snapshot));
  ASSERT_FALSE(snapshot.empty());
  const ServiceSnapshotEntry* running = nullptr;
  for (const ServiceSnapshotEntry& entry : snapshot) {
    EXPECT_FALSE(entry.serviceName.empty());
    if (entry.status.currentState == service_state::kRunning && entry.status.processId != 0) {
      running = &entry;
    }
  }
  ASSERT_NE(running, nullptr) << "some service runs in a process";
  EXPECT_EQ(ServiceStateMatches(manager.get(), running->serviceName, service_state::kRunning),
            kStateMatches);
  EXPECT_EQ(ServiceStateMatches(manager.get(), running->serviceName, service_state::kStopped),
            kStateDiffers);
  EXPECT_EQ(ServiceStateMatches(manager.get(), L"KavrinNoSuchService", service_state::kRunning),
            kStateUnknown);
  std::unique_ptr<ServiceHandle> service = manager->Open(running->serviceName);
  ASSERT_NE(service, nullptr);
  uint32_t startType = 0;
  EXPECT_TRUE(service->QueryStartType(startType));
}
