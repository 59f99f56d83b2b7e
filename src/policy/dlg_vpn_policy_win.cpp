#include "policy/dlg_vpn_policy_win.h"

#include <commctrl.h>
#include <windowsx.h>

#include "base/file_path.h"
#include "config/program_data_folder.h"
#include "config/text_table.h"
#include "framework/application_win.h"
#include "framework/dpi_win.h"
#include "framework/message_box_win.h"
#include "skin/skin_layout_win.h"
#include "skin/skin_registry_win.h"

namespace {

void Move(HWND window, const SkinRect& r) {
  SetWindowPos(window, nullptr, r.left, r.top, r.Width(), r.Height(),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void Resize(HWND window, const SkinSize& size) {
  SetWindowPos(window, nullptr, 0, 0, size.width, size.height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

std::wstring ModuleFolder() { return FolderOf(CApplication::ModulePath()); }

}  // namespace

CDlgVpnPolicy::CDlgVpnPolicy(const ServiceAnswer& answer, Ports ports)
    : ports_(std::move(ports)),
      speedTest_(target_, ports_.echoProbe, SystemTickClock(), ports_.speedTest),
      l2tp_(ports_.registry, ports_.restarter, ports_.osMajorVersion) {
  controller_ = std::make_unique<VpnPolicyController>(
      static_cast<VpnPolicyView&>(*this),
      VpnPolicyController::Ports{.settings = ports_.settings,
                                 .bindModule = ports_.bindModule,
                                 .speedTest = speedTest_,
                                 .l2tp = l2tp_,
                                 .openvpn = blockedOpenvpn_,
                                 .moduleFolder = ModuleFolder()},
      answer,
      [](const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()); });
}

// The workers post to this window; once Stop has returned none does (they may still be ending
// on the joiner's thread).
CDlgVpnPolicy::~CDlgVpnPolicy() { speedTest_.Stop(); }

bool CDlgVpnPolicy::CRouteList::OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam,
                                              LRESULT& result) {
  if (onHover && message == WM_MOUSEMOVE) {
    const LRESULT hit = ::SendMessageW(hwnd(), LB_ITEMFROMPOINT, 0, lParam);
    if (HIWORD(hit) == 0) onHover(LOWORD(hit));
  } else if (onHover && message == WM_MOUSELEAVE) {
    onHover(-1);
  }
  return CSkinListBox::OnSkinMessage(message, wParam, lParam, result);
}

bool CDlgVpnPolicy::OnInitDialog() {
  SetWindowText(GetText("ChooseVpnPolicy"));
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.IntAttribute("CloseBox") = 0;
  frame_.IntAttribute("MinimizeBox") = 0;
  dpi_ = WindowDpi(hwnd());
  const PolicyDialogLayout layout = CurrentLayout();
  CenterOverOwner(hwnd(), layout.window.width, layout.window.height);
  frame_.Attach(hwnd());
  CreateControls();
  ApplyLayout();
  target_.SetWindow(hwnd());
  controller_->Start();
  return true;
}

PolicyDialogLayout CDlgVpnPolicy::CurrentLayout() const {
  return LayoutPolicyDialog(dpi_, openVpnShown_, applicationsShown_);
}

// Every control is created where the layout puts it at the window's DPI; ApplyLayout moves them
// there again whenever the DPI or the dialog's state changes.
void CDlgVpnPolicy::CreateControls() {
  HWND me = hwnd();
  const PolicyDialogLayout layout = CurrentLayout();
  ok_.Create(me, ToRect(layout.ok), IDOK, GetText("OK"));
  cancel_.Create(me, ToRect(layout.cancel), IDCANCEL, GetText("Cancel"));

  routePanel_.TextAttribute("Icon") = L"IconVpnPolicyRoute";
  routePanel_.Create(me, ToRect(layout.routePanel), kStaticId, GetText("VpnRoutesTitle"));
  routeList_.Create(routePanel_.hwnd(), ToRect(layout.routeList), kRouteListId);
  routeList_.onHover = [this](int item) { controller_->OnRouteHover(item); };

  typePanel_.TextAttribute("Icon") = L"IconVpnPolicyType";
  typePanel_.Create(me, ToRect(layout.typePanel), kStaticId, GetText("VpnTypesTitle"));
  pptp_.Create(typePanel_.hwnd(), ToRect(layout.pptp), kPptpId, L"PPTP", true);
  l2tpButton_.Create(typePanel_.hwnd(), ToRect(layout.l2tp), kL2tpId, L"L2TP");
  // Shown only for services that offer OpenVPN; the hint sits in the row under PPTP, which it
  // is about.
  openvpnButton_.Create(typePanel_.hwnd(), ToRect(layout.openVpn), kOpenVpnId, L"OpenVPN");
  openvpnButton_.Show(SW_HIDE);
  pptpHint_.Create(typePanel_.hwnd(), ToRect(layout.pptpHint), kPptpHintId,
                   GetText("PptpIsTheLeastSafeType"));
  pptpHint_.IntAttribute("TextColor") = RGB(204, 102, 0);
  pptpHint_.Show(SW_HIDE);

  tabs_.Create(me, ToRect(layout.tabs), kRegionTabsId, L"");
  serversTitle_.Create(tabs_.hwnd(), RECT{0, 0, layout.serversTitle.width,
                                          layout.serversTitle.height},
                       kStaticId, GetText("VpnServersTitle"));
  retest_.TextAttribute("Icon") = L"IconVpnPolicyRefresh";
  retest_.Create(tabs_.hwnd(), RECT{0, 0, layout.retest.width, layout.retest.height}, kRetestId,
                 GetText("RetestSpeed"));
  tabs_.SetLeftWindow(serversTitle_.hwnd());
  tabs_.SetRightWindow(retest_.hwnd());

  servers_.Create(tabs_.hwnd(), tabs_.PageRect(), kServerListId,
                  LVS_SINGLESEL | LVS_SHOWSELALWAYS);
  ::SendMessageW(servers_.hwnd(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                 LVS_EX_FULLROWSELECT);
  const struct {
    const char* key;
    int width;
  } columns[] = {{"ServerName", 100}, {"ServerComment", 295}, {"ServerSpeed", 75},
                 {"ServerLoad", 46}};
  for (int c = 0; c < 4; ++c) servers_.InsertColumn(c, GetText(columns[c].key), columns[c].width);
  servers_.SetComparison(
      [this](int32_t a, int32_t b, int column) { return controller_->CompareServers(a, b, column); },
      [this] { controller_->OnServerRowsSorted(); });
  const std::wstring appListFile = ports_.appListFile.empty()
                                       ? SystemProgramDataFolder().FilePath(kAppListFileName)
                                       : ports_.appListFile;
  applications_.Create(me, ToRect(layout.applications), kAppListId, appListFile, ports_.profile);
  if (ports_.messageBox && !applications_.showMessage) {
    applications_.showMessage = [box = ports_.messageBox](const std::wstring& text) {
      box(text, MB_OK);
    };
  }
  applications_.Load();
  applications_.Hide();

  tip_.Create(me, ToRect(layout.tip), kStaticId, GetText("VpnRoutesTipPleaseSelect"));
  tip_.IntAttribute("TextColor") = RGB(0, 106, 146);
  tip_.TextAttribute("Icon") = L"IconTipInfo";

  // Keyboard order: route, type, servers, retest, applications, then OK and Cancel.
  MoveToEndOfTabOrder(retest_.hwnd());
  MoveToEndOfTabOrder(ok_.hwnd());
  MoveToEndOfTabOrder(cancel_.hwnd());
}

void CDlgVpnPolicy::ApplyLayout() {
  const PolicyDialogLayout layout = CurrentLayout();
  Move(ok_.hwnd(), layout.ok);
  Move(cancel_.hwnd(), layout.cancel);
  Move(tip_.hwnd(), layout.tip);
  Move(routePanel_.hwnd(), layout.routePanel);
  Move(routeList_.hwnd(), layout.routeList);
  Move(typePanel_.hwnd(), layout.typePanel);
  Move(pptp_.hwnd(), layout.pptp);
  Move(pptpHint_.hwnd(), layout.pptpHint);
  Move(l2tpButton_.hwnd(), layout.l2tp);
  if (openVpnShown_) Move(openvpnButton_.hwnd(), layout.openVpn);
  Move(applications_.hwnd(), layout.applications);
  Resize(serversTitle_.hwnd(), layout.serversTitle);
  Resize(retest_.hwnd(), layout.retest);
  Move(tabs_.hwnd(), layout.tabs);
  // The tab row is laid out from the windows at its ends, which have just been resized.
  tabs_.SetLeftWindow(serversTitle_.hwnd());
  // Without tabs nothing places the list; it still fills the body, to show why it is empty.
  if (tabs_.count() == 0) servers_.MoveWindow(tabs_.PageRect());
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CDlgVpnPolicy::LayoutForDpi(int dpi) {
  dpi_ = dpi;
  ApplyLayout();
}

void CDlgVpnPolicy::OnOK() { controller_->OnOk(); }

void CDlgVpnPolicy::OnCancel() { controller_->OnCancel(); }

void CDlgVpnPolicy::OnDestroy() {
  speedTest_.Stop();
  target_.SetWindow(nullptr);
  CDialog::OnDestroy();
}

bool CDlgVpnPolicy::OnCommand(UINT id, UINT notifyCode) {
  switch (id) {
    case kRouteListId:
      if (notifyCode != LBN_SELCHANGE) return false;
      controller_->OnRouteSelectionChanged();
      return true;
    case kRetestId:
      if (notifyCode != BN_CLICKED) return false;
      controller_->OnRetest();
      return true;
    case kRegionTabsId:
      controller_->OnTabChanged();
      return true;
    case kPptpId:
    case kL2tpId:
    case kOpenVpnId:
      if (notifyCode != BN_CLICKED) return false;
      controller_->OnTypeButtonClicked();
      return true;
    default:
      return false;
  }
}

bool CDlgVpnPolicy::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    // Only the speed test sends these; the dialog manager's own messages in that range
    // (DM_SETDEFID, DM_REPOSITION) are sent by applications, and this one sends none.
    case kEchoSpeedMessage:
    case kNtpSpeedMessage:
      controller_->OnSpeedResult(message, static_cast<int32_t>(wParam),
                                 static_cast<int32_t>(lParam));
      result = 0;
      return true;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom == kServerListId && header->code == LVN_ITEMCHANGED) {
        const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
        if ((change->uChanged & LVIF_STATE) && (change->uNewState & LVIS_SELECTED) &&
            !(change->uOldState & LVIS_SELECTED)) {
          controller_->OnServerSelected();
        }
      }
      return false;
    }
    case WM_PAINT:
      result = Default();
      PaintApplicationFrame();
      return true;
    default:
      return false;
  }
}

void CDlgVpnPolicy::PaintApplicationFrame() {
  if (!applications_.hwnd() || !applications_.IsVisible()) return;
  const CSkinRegistry& registry = CSkinRegistry::Instance();
  WindowDc dc(hwnd());
  SelectedObject pen(dc.get(), registry.FindObject("HeaderPanelBorderPen", {},
                                                   GetStockObject(BLACK_PEN)));
  SelectedObject brush(dc.get(), registry.FindObject("NullBrush", {}, GetStockObject(NULL_BRUSH)));
  const SkinRect list = CurrentLayout().applications;
  Rectangle(dc.get(), list.left - 1, list.top - 1, list.right + 1, list.bottom + 1);
}

// --- VpnPolicyView ---

void CDlgVpnPolicy::AddRouteItem(const std::wstring& text, int32_t code) {
  const LRESULT index =
      ::SendMessageW(routeList_.hwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  if (index >= 0) ::SendMessageW(routeList_.hwnd(), LB_SETITEMDATA, index, code);
  routeList_.SyncScrollbars();
}

void CDlgVpnPolicy::SelectRouteItem(int index) {
  ::SendMessageW(routeList_.hwnd(), LB_SETCURSEL, index, 0);
}

int CDlgVpnPolicy::SelectedRouteItem() const {
  const LRESULT index = ::SendMessageW(routeList_.hwnd(), LB_GETCURSEL, 0, 0);
  return index == LB_ERR ? -1 : static_cast<int>(index);
}

void CDlgVpnPolicy::SetTip(const std::wstring& text) {
  if (tip_.GetWindowText() == text) return;  // hovering re-sends the same tip constantly
  tip_.SetWindowText(text);
  InvalidateRect(tip_.hwnd(), nullptr, FALSE);
}

HWND CDlgVpnPolicy::TypeButton(int32_t type) const {
  if (type == kTunnelOpenVpn) return openvpnButton_.hwnd();
  return type == kTunnelL2tp ? l2tpButton_.hwnd() : pptp_.hwnd();
}

void CDlgVpnPolicy::CheckTypeButton(int32_t type, bool checked) {
  ::SendMessageW(TypeButton(type), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  InvalidateRect(TypeButton(type), nullptr, FALSE);
}

bool CDlgVpnPolicy::IsTypeButtonChecked(int32_t type) const {
  return ::SendMessageW(TypeButton(type), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void CDlgVpnPolicy::EnableTypeButton(int32_t type, bool enabled) {
  ::EnableWindow(TypeButton(type), enabled ? TRUE : FALSE);
}

bool CDlgVpnPolicy::IsTypeButtonEnabled(int32_t type) const {
  return ::IsWindowEnabled(TypeButton(type)) != FALSE;
}

void CDlgVpnPolicy::ShowTypeButton(int32_t type, bool shown) {
  if (type == kTunnelOpenVpn && shown != openVpnShown_) {
    openVpnShown_ = shown;
    ApplyLayout();
  }
  ::ShowWindow(TypeButton(type), shown ? SW_SHOW : SW_HIDE);
}

void CDlgVpnPolicy::ShowPptpHint(bool shown) {
  const bool wasShown = ::ShowWindow(pptpHint_.hwnd(), shown ? SW_SHOW : SW_HIDE) != FALSE;
  // The label is transparent: hiding it must repaint the panel under it.
  if (wasShown != shown) InvalidateRect(typePanel_.hwnd(), nullptr, TRUE);
}

void CDlgVpnPolicy::AddTab(const std::wstring& caption, const std::string& image) {
  tabs_.InsertTab(-1, caption, image, servers_.hwnd());
}

void CDlgVpnPolicy::SelectTab(int index) { tabs_.SelectTab(index); }

int CDlgVpnPolicy::CurrentTab() const { return tabs_.selected(); }

void CDlgVpnPolicy::DeleteAllServerRows() {
  ::SendMessageW(servers_.hwnd(), LVM_DELETEALLITEMS, 0, 0);
}

void CDlgVpnPolicy::AppendServerRow(int32_t serverId, const std::array<std::wstring, 4>& cells) {
  std::wstring first = cells[0];
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = static_cast<int>(::SendMessageW(servers_.hwnd(), LVM_GETITEMCOUNT, 0, 0));
  item.pszText = first.data();
  item.lParam = serverId;
  const LRESULT row =
      ::SendMessageW(servers_.hwnd(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  if (row < 0) return;
  for (int column = 1; column < 4; ++column) {
    std::wstring text = cells[static_cast<size_t>(column)];
    LVITEMW sub = {};
    sub.iSubItem = column;
    sub.pszText = text.data();
    ::SendMessageW(servers_.hwnd(), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
  }
}

void CDlgVpnPolicy::SortServerRows() { servers_.Sort(); }

std::vector<int32_t> CDlgVpnPolicy::ServerRowIds() const {
  std::vector<int32_t> ids;
  const int count = static_cast<int>(::SendMessageW(servers_.hwnd(), LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) {
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    ::SendMessageW(servers_.hwnd(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    ids.push_back(static_cast<int32_t>(item.lParam));
  }
  return ids;
}

void CDlgVpnPolicy::SelectServerRow(int row) {
  LVITEMW state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageW(servers_.hwnd(), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
  ::SendMessageW(servers_.hwnd(), LVM_ENSUREVISIBLE, row, FALSE);
}

std::optional<int32_t> CDlgVpnPolicy::SelectedServerId() const {
  const LRESULT row = ::SendMessageW(servers_.hwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                     LVNI_SELECTED);
  if (row < 0) return std::nullopt;
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = static_cast<int>(row);
  if (!::SendMessageW(servers_.hwnd(), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) {
    return std::nullopt;
  }
  return static_cast<int32_t>(item.lParam);
}

void CDlgVpnPolicy::SetSpeedCell(int row, const std::wstring& text) {
  std::wstring copy = text;
  LVITEMW sub = {};
  sub.iSubItem = CVpnServerListCtrl::kSpeedColumn;
  sub.pszText = copy.data();
  ::SendMessageW(servers_.hwnd(), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
}

void CDlgVpnPolicy::ShowApplicationLayout(bool applications) {
  applicationsShown_ = applications;
  ApplyLayout();
  applications_.Show(applications ? SW_SHOW : SW_HIDE);
}

bool CDlgVpnPolicy::SaveApplicationChecks() { return applications_.SaveChecks(); }

void CDlgVpnPolicy::ShowMessage(const std::wstring& text) {
  ShowMessageBox(ports_.messageBox, text, MB_OK | MB_ICONINFORMATION, hwnd(), L"Kavrin");
}

bool CDlgVpnPolicy::AskYesNo(const std::wstring& text) {
  return ShowMessageBox(ports_.messageBox, text, MB_YESNO | MB_ICONINFORMATION, hwnd(),
                        L"Kavrin") == IDYES;
}

void CDlgVpnPolicy::EndDialog(bool ok) { CDialog::EndDialog(ok ? IDOK : IDCANCEL); }
