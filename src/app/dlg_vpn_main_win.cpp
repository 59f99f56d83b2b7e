#include "app/dlg_vpn_main_win.h"

#include <shellapi.h>

#include <optional>

#include "framework/dpi_win.h"
#include "framework/module_version_win.h"
#include "app/route_change_watch_win.h"
#include "app/user_shell_win.h"
#include "app/window_placement.h"
#include "app/vpn_app_win.h"
#include "config/text_table.h"
#include "resource.h"

using namespace main_window;

namespace {

constexpr int kWidth = 327;
constexpr int kHeight = 464;
constexpr int kEditLimit = 16;
constexpr int kStaticId = 0xFFFF;

SkinRect R(int l, int t, int r, int b) { return SkinRect{l, t, r, b}; }

UINT IconFlags(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::kInformation:
      return MB_ICONINFORMATION;
    case MessageIcon::kWarning:
      return MB_ICONWARNING;
    case MessageIcon::kQuestion:
      return MB_ICONQUESTION;
    case MessageIcon::kError:
      return MB_ICONERROR;
    case MessageIcon::kNone:
      break;
  }
  return 0;
}

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, RECT*, LPARAM list) {
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoW(monitor, &info)) {
    const RECT& r = info.rcWork;
    reinterpret_cast<std::vector<ScreenRect>*>(list)->push_back(
        {r.left, r.top, r.right, r.bottom});
  }
  return TRUE;
}

std::vector<ScreenRect> MonitorWorkAreas() {
  std::vector<ScreenRect> areas;
  EnumDisplayMonitors(nullptr, nullptr, AddWorkArea, reinterpret_cast<LPARAM>(&areas));
  return areas;
}

}  // namespace

CDlgVpnMain::CDlgVpnMain(SettingsStore& placement, CTrayNotifyIcon& tray, MessageBoxFn messageBox)
    : placement_(placement), tray_(tray), messageBox_(std::move(messageBox)) {}

void CDlgVpnMain::Attach(MainWindowController& controller, std::function<void(HWND)> onCreated) {
  controller_ = &controller;
  onCreated_ = std::move(onCreated);
}

bool CDlgVpnMain::OnInitDialog() {
  target_.SetWindow(hwnd());
  layout_.SetDpi(WindowDpi(hwnd()));
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.TextAttribute("CustomBackground") = L"DlgVpnMain,0,0";
  frame_.TextAttribute("Title") = L"";
  frame_.Attach(hwnd());
  SetWindowText(kMainWindowCaption);
  PlaceWindow();

  CreateControls();

  LoadWindowIcons();
  tray_.CreateWithIconResource(hwnd(), kIconIdle);
  if (onCreated_) onCreated_(hwnd());
  // A modal dialog shows itself only once its queue runs dry; a race answer from a near host can
  // come first and open the update box over no window at all. So it is shown here, at once.
  Show(SW_SHOW);
  if (controller_) controller_->Initialize();
  ::SetFocus(userName_.hwnd());
  return false;
}

// Where the user left it, while that is still on a monitor, wholly on it; else centred on the
// work area.
void CDlgVpnMain::PlaceWindow() {
  const int width = layout_.Scale(kWidth);
  const int height = layout_.Scale(kHeight);
  const auto saved = RestoredWindowPosition(placement_.GetMainWindowPosition(), width, height,
                                            MonitorWorkAreas());
  if (saved) {
    SetWindowPos(nullptr, saved->first, saved->second, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    CenterOverOwner(hwnd(), width, height);
  }
}

// The title bar and the task switcher show the icon at the sizes the system asks for, made
// from the resource's nearest larger picture.
void CDlgVpnMain::LoadWindowIcons() {
  const int dpi = layout_.dpi();
  for (const auto& [which, size] : {std::pair{ICON_BIG, SystemMetricForDpi(SM_CXICON, dpi)},
                                    std::pair{ICON_SMALL, SystemMetricForDpi(SM_CXSMICON, dpi)}}) {
    UniqueIcon icon(LoadIconAtSize(GetModuleHandleW(nullptr), IDI_KAVRIN, size));
    if (!icon) continue;
    SendMessage(WM_SETICON, which, reinterpret_cast<LPARAM>(icon.get()));
    (which == ICON_BIG ? bigIcon_ : smallIcon_) = std::move(icon);
  }
}

void CDlgVpnMain::LayoutForDpi(int dpi) {
  layout_.Apply(dpi);
  LoadWindowIcons();
}

void CDlgVpnMain::CreateControls() {
  HWND me = hwnd();
  for (int n = 0; n < kNewsSlots; ++n) {
    auto link = std::make_unique<CSkinButton>("LinkButton");
    layout_.Create(*link, me, R(30, 124 + 19 * n, 310, 142 + 19 * n), kFirstNews + n,
                   n == 0 ? GetText("LoadingNews") : L"");
    if (n == 0) link->TextAttribute("Link") = kServiceWebSite;
    news_.push_back(std::move(link));
  }
  layout_.Create(yourIpLabel_, me, R(40, 210, 95, 228), kStaticId, GetText("YourIP") + L":");
  layout_.Create(clientIp_, me, R(95, 210, 190, 228), kStaticId, GetText("UnknownClientIP"));
  clientIp_.IntAttribute("TextColor") = 0x0014FF;
  layout_.Create(expiryLabel_, me, R(200, 210, 240, 228), kStaticId,
                 GetText("ExpiredDate") + L":");
  layout_.Create(expiry_, me, R(240, 210, 310, 228), kStaticId, GetText("ExpiredDateUnknown"));
  layout_.Create(userNameLabel_, me, R(32, 250, 87, 268), kStaticId, GetText("Username"));
  userNameLabel_.TextAttribute("Align") = L"Right";
  layout_.Create(passwordLabel_, me, R(32, 280, 87, 298), kStaticId, GetText("Password"));
  passwordLabel_.TextAttribute("Align") = L"Right";
  layout_.Create(userName_, me, R(114, 250, 260, 264), kUserNameId, WS_TABSTOP);
  ::SendMessageW(userName_.hwnd(), EM_LIMITTEXT, kEditLimit, 0);
  layout_.Create(password_, me, R(114, 282, 260, 296), kPasswordId, ES_PASSWORD | WS_TABSTOP);
  ::SendMessageW(password_.hwnd(), EM_LIMITTEXT, kEditLimit, 0);
  ::SendMessageW(password_.hwnd(), EM_SETPASSWORDCHAR, L'*', 0);
  layout_.Create(savePassword_, me, R(94, 310, 194, 325), kSavePassword, GetText("SavePassword"));
  layout_.Create(forgotPassword_, me, R(200, 310, 290, 325), kForgotPassword,
                 GetText("ForgotPassword"));
  layout_.Create(connect_, me, R(60, 335, 160, 362), kConnect, GetText("Connect"));
  layout_.Create(disconnect_, me, R(170, 335, 270, 362), kDisconnect, GetText("Disconnect"));
  connect_.TextAttribute("Icon") = L"IconConnect";
  disconnect_.TextAttribute("Icon") = L"IconDisconnect";
  layout_.Create(status_, me, R(72, 377, 305, 392), kStatusLine, GetText("Ready"));
  layout_.Create(register_, me, R(15, 410, 70, 459), kRegister, GetText("UserRegister"));
  layout_.Create(purchase_, me, R(75, 410, 130, 459), kPurchase, GetText("Purchase"));
  layout_.Create(freeTrial_, me, R(135, 410, 190, 459), kFreeTrial, GetText("FreeTrial"));
  layout_.Create(help_, me, R(195, 410, 250, 459), kHelp, GetText("GuideHelp"));
  layout_.Create(support_, me, R(255, 410, 310, 459), kSupport, GetText("OnlineCustomerSupport"));
  for (CSkinButton* button : {&register_, &purchase_, &freeTrial_, &help_, &support_}) {
    button->TextAttribute("VAlign") = L"Bottom";
  }
  // The news lines come first on screen but last for the keyboard: Tab starts in the form.
  for (auto& link : news_) MoveToEndOfTabOrder(link->hwnd());
}

void CDlgVpnMain::ShowClientAddress(const std::wstring& address) { SetLabel(clientIp_, address); }

void CDlgVpnMain::SetLabel(CSkinStatic& label, const std::wstring& text) {
  label.SetWindowText(text);
  InvalidateRect(label.hwnd(), nullptr, FALSE);
}

void CDlgVpnMain::ShowNewsSlot(int slot, const std::wstring& caption, const std::wstring& link) {
  if (slot < 0 || static_cast<size_t>(slot) >= news_.size()) return;
  news_[slot]->TextAttribute("Link") = link;
  news_[slot]->SetWindowText(caption);
  InvalidateRect(news_[slot]->hwnd(), nullptr, FALSE);
}

// ---- messages ---------------------------------------------------------------------------------

bool CDlgVpnMain::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (!controller_) return false;
  switch (message) {
    case kTrayMessage:
      result = 0;
      if (tray_.OnTrayNotification(static_cast<UINT>(wParam), static_cast<UINT>(lParam))) {
        return true;
      }
      if (wParam == CTrayNotifyIcon::kIconId && lParam == WM_LBUTTONUP) controller_->ShowWindow();
      return true;
    case kEngineMessage:
      DeliverEngineReports();
      result = 0;
      return true;
    case kHostMessage:
      controller_->OnHostProbeEvent(wParam, reinterpret_cast<const void*>(lParam));
      result = 0;
      return true;
    case kShowMainWindowMessage:
      controller_->ShowWindow();
      result = 1;
      return true;
    case kRouteChangeMessage:
      // Taken first: a change during the handling posts again.
      RouteChangeWatch::Taken(lParam);
      controller_->OnRouteTableChanged();
      result = 0;
      return true;
    case WM_POWERBROADCAST:
      // Sleep pauses reconnecting; on waking a tunnel the sleep took down is dialled again.
      if (wParam == PBT_APMSUSPEND) controller_->OnSuspend();
      if (wParam == PBT_APMRESUMEAUTOMATIC) controller_->OnResume();
      result = TRUE;
      return true;
    default:
      return false;
  }
}

bool CDlgVpnMain::OnCommand(UINT id, UINT notifyCode) {
  // Edits report changes and focus with their own codes; only clicks and menu items are ours.
  if (notifyCode != BN_CLICKED || !controller_) return CDialog::OnCommand(id, notifyCode);
  if (id == IDOK || id == IDCANCEL) return CDialog::OnCommand(id, notifyCode);
  return controller_->OnCommand(id) || CDialog::OnCommand(id, notifyCode);
}

void CDlgVpnMain::OnTimer(UINT_PTR id) {
  if (controller_) controller_->OnTimer(static_cast<uint32_t>(id));
}

bool CDlgVpnMain::OnSysCommand(UINT command) {
  if (!controller_) return false;
  if (command == SC_CLOSE) {
    controller_->OnCancel();
    return true;
  }
  // Without a tray icon the window is minimized as any other.
  if (command == SC_MINIMIZE) return controller_->OnMinimized();
  return false;
}

void CDlgVpnMain::OnSize(UINT type, int cx, int cy) {
  CDialog::OnSize(type, cx, cy);
  if (type == SIZE_MINIMIZED && controller_) controller_->OnMinimized();
}

void CDlgVpnMain::OnDestroy() {
  if (!IsIconic(hwnd())) {
    const RECT window = GetWindowRect();
    placement_.SetMainWindowPosition(window.left, window.top);
  }
  tray_.Remove();
  CDialog::OnDestroy();
}

void CDlgVpnMain::OnOK() {
  if (controller_) controller_->OnEnter();
}

void CDlgVpnMain::OnCancel() {
  if (controller_) controller_->OnCancel();
}

void CDlgVpnMain::OnVpnStateChanged(CGeneralVpn* vpn, const VpnStatus& status) {
  std::lock_guard lock(reportsMutex_);
  reports_.push_back({vpn, status});
  // Without a message nobody would take it: a window that is gone gets no reports.
  if (!target_.Post(kEngineMessage, 0, reinterpret_cast<intptr_t>(vpn))) reports_.pop_back();
}

// One report per message, oldest first: a box opened for one report runs its own message loop,
// and the next report's message, dispatched there, still finds its own report next in line.
void CDlgVpnMain::DeliverEngineReports() {
  std::optional<EngineReport> next;
  {
    std::lock_guard lock(reportsMutex_);
    if (reports_.empty()) return;
    next = std::move(reports_.front());
    reports_.pop_front();
  }
  controller_->OnEngineReport(next->engine, next->status);
}

// ---- view ---------------------------------------------------------------------------------------

void CDlgVpnMain::SetStatus(const std::wstring& text, bool showBox) {
  SetLabel(status_, text);
  if (showBox) ShowMessageBox(messageBox_, text, MB_OK);
}

void CDlgVpnMain::ShowMessage(const std::wstring& text, MessageIcon icon) {
  ShowMessageBox(messageBox_, text, MB_OK | IconFlags(icon));
}

void CDlgVpnMain::SetExpiryText(const std::wstring& text) { SetLabel(expiry_, text); }

void CDlgVpnMain::OpenWebPage(const std::wstring& url) {
  // Through the user's own shell, never our own ShellExecute: a browser started from here
  // would run with administrator rights. Without a desktop shell the page stays closed.
  if (!OpenWebPageAsUser(url)) OutputDebugStringW(L"Kavrin: a web page was not opened\n");
}

void CDlgVpnMain::EnableConnect(bool enable) { connect_.Enable(enable); }

void CDlgVpnMain::EnableDisconnect(bool enable) { disconnect_.Enable(enable); }

bool CDlgVpnMain::AskYesNo(const std::wstring& text, bool defaultNo) {
  const UINT type = MB_YESNO | MB_ICONQUESTION | (defaultNo ? MB_DEFBUTTON2 : 0);
  return ShowMessageBox(messageBox_, text, type) == IDYES;
}

std::wstring CDlgVpnMain::UserName() { return userName_.GetWindowText(); }

std::wstring CDlgVpnMain::Password() { return password_.GetWindowText(); }

bool CDlgVpnMain::SavePasswordChecked() { return savePassword_.check() == BST_CHECKED; }

void CDlgVpnMain::SetUserName(const std::wstring& text) { userName_.SetWindowText(text); }

void CDlgVpnMain::SetPassword(const std::wstring& text) { password_.SetWindowText(text); }

void CDlgVpnMain::SetSavePasswordChecked(bool checked) {
  ::SendMessageW(savePassword_.hwnd(), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

std::wstring CDlgVpnMain::NewsLink(int slot) {
  if (slot < 0 || static_cast<size_t>(slot) >= news_.size()) return {};
  return news_[slot]->TextAttribute("Link");
}

void CDlgVpnMain::ShowMainWindow() {
  Show(IsIconic(hwnd()) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(hwnd());
  BringWindowToTop(hwnd());
}

void CDlgVpnMain::HideMainWindow() {
  Hide();
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

void CDlgVpnMain::StartTimer(uint32_t id, uint32_t milliseconds) { SetTimer(id, milliseconds); }

void CDlgVpnMain::StopTimer(uint32_t id) { KillTimer(id); }

void CDlgVpnMain::CloseMainWindow() {
  for (auto& link : news_) link->DestroyWindow();
  news_.clear();
  EndDialog(IDCANCEL);
}

std::wstring CDlgVpnMain::BuildDate() {
  CModuleVersion version;
  if (!version.Load(nullptr)) return {};
  return version.GetValue(L"BuildDate");
}

void CDlgVpnMain::ShowAbout(const std::wstring& text) {
  MessageBoxW(hwnd(), text.c_str(), kMainWindowCaption, MB_OK | MB_ICONINFORMATION);
}
