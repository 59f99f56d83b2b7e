// Shows every skinned control in every state, three skinned windows (all system buttons, the
// main window's picture with two, none) and a running busy bar, for screenshots and eyeballing.
// Reads the artwork from res/art next to the build folder, or from the folder given first.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "config/text_table.h"
#include "framework/dialog_win.h"
#include "skin/busy_bar_win.h"
#include "skin/skin_button_win.h"
#include "skin/skin_check_box_win.h"
#include "skin/skin_edit_win.h"
#include "skin/skin_header_panel_win.h"
#include "skin/skin_list_box_win.h"
#include "skin/skin_list_ctrl_win.h"
#include "skin/skin_radio_box_win.h"
#include "skin/skin_registry_win.h"
#include "skin/skin_startup_win.h"
#include "skin/skin_static_win.h"
#include "skin/skin_tab_ctrl_win.h"
#include "skin/skin_window_win.h"

namespace {

RECT R(int l, int t, int r, int b) { return RECT{l, t, r, b}; }

std::wstring ArtFolder(int argc, wchar_t** argv) {
  if (argc > 1) return argv[1];
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.resize(folder.find_last_of(L"\\/"));
  return folder + L"\\..\\..\\res\\art";
}

// Owns the controls of one window, whatever their kind.
class CGalleryDialog : public CDialog {
 protected:
  template <typename T, typename... Args>
  T& Make(Args&&... args) {
    auto control = std::make_unique<T>(std::forward<Args>(args)...);
    T& ref = *control;
    controls_.push_back(std::move(control));
    return ref;
  }
  void Size(int width, int height, int x, int y) {
    ::SetWindowPos(hwnd(), nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  CSkinWindow frame_;

 private:
  std::vector<std::shared_ptr<void>> controls_;
};

class CControlsDialog : public CGalleryDialog {
 protected:
  bool OnInitDialog() override {
    SetWindowText(L"Kavrin 皮肤样例");
    frame_.Attach(hwnd());
    Size(660, 480, 8, 8);
    HWND me = hwnd();
    auto label = [&](int x, int y, const wchar_t* text) {
      Make<CSkinStatic>().Create(me, R(x, y, x + 120, y + 18), 0xFFFF, text);
    };
    // Buttons in every state.
    label(24, 46, L"按钮状态");
    Make<CSkinButton>().Create(me, R(24, 66, 112, 94), 1001, L"正常");
    auto& hovered = Make<CSkinButton>();
    hovered.Create(me, R(120, 66, 208, 94), 1002, L"悬停");
    hovered.SetHovered(true);
    auto& pushed = Make<CSkinButton>();
    pushed.Create(me, R(216, 66, 304, 94), 1003, L"按下");
    ::SendMessageW(pushed.hwnd(), BM_SETSTATE, TRUE, 0);
    auto& disabled = Make<CSkinButton>();
    disabled.Create(me, R(312, 66, 400, 94), 1004, L"禁用");
    disabled.Enable(false);
    Make<CSkinButton>().Create(me, R(408, 66, 496, 94), IDCANCEL, GetText("Cancel"));
    auto& cancelHover = Make<CSkinButton>("CancelButton");
    cancelHover.Create(me, R(504, 66, 592, 94), 1005, L"取消悬停");
    cancelHover.SetHovered(true);

    auto& connect = Make<CSkinButton>();
    connect.Create(me, R(24, 104, 124, 131), 1006, GetText("Connect"));
    connect.TextAttribute("Icon") = L"IconConnect";
    auto& disconnect = Make<CSkinButton>();
    disconnect.Create(me, R(132, 104, 232, 131), 1007, GetText("Disconnect"));
    disconnect.TextAttribute("Icon") = L"IconDisconnect";
    disconnect.Enable(false);
    Make<CSkinButton>("LinkButton").Create(me, R(248, 108, 360, 126), 1008, L"链接按钮");
    auto& linkHover = Make<CSkinButton>("LinkButton");
    linkHover.Create(me, R(368, 108, 496, 126), 1009, L"悬停的链接");
    linkHover.SetHovered(true);
    auto& retest = Make<CSkinButton>("LinkButton");
    retest.Create(me, R(504, 108, 620, 126), 1010, GetText("RetestSpeed"));
    retest.TextAttribute("Icon") = L"IconVpnPolicyRefresh";

    // Check boxes.
    label(24, 146, L"复选框");
    const struct { const wchar_t* text; int check; bool hover; bool enabled; } boxes[] = {
        {L"已选中", BST_CHECKED, false, true},   {L"未选中", BST_UNCHECKED, false, true},
        {L"悬停", BST_UNCHECKED, true, true},     {L"悬停选中", BST_CHECKED, true, true},
        {L"禁用", BST_CHECKED, false, false},    {L"不确定", BST_INDETERMINATE, false, true}};
    int x = 24;
    for (const auto& b : boxes) {
      auto& box = Make<CSkinCheckBox>();
      box.Create(me, R(x, 168, x + 96, 184), 1100, b.text);
      ::SendMessageW(box.hwnd(), BM_SETCHECK, b.check, 0);
      if (b.hover) box.SetHovered(true);
      if (!b.enabled) box.Enable(false);
      x += 100;
    }

    // Labels and edits.
    auto& right = Make<CSkinStatic>();
    right.Create(me, R(24, 200, 90, 218), 0xFFFF, GetText("Username"));
    right.TextAttribute("Align") = L"Right";
    auto& edit = Make<CSkinEdit>();
    edit.Create(me, R(100, 200, 240, 218), 1200, WS_BORDER);
    edit.SetWindowText(L"demo@orumavpn");
    auto& coloured = Make<CSkinStatic>();
    coloured.Create(me, R(256, 200, 420, 218), 0xFFFF, L"彩色文字 203.0.113.7");
    coloured.IntAttribute("TextColor") = 0x0014FF;
    auto& tip = Make<CSkinStatic>();
    tip.Create(me, R(430, 196, 640, 232), 0xFFFF, GetText("VpnRoutesTipPleaseSelect"));
    tip.IntAttribute("TextColor") = RGB(0, 106, 146);
    tip.TextAttribute("Icon") = L"IconTipInfo";

    // A header panel holding a list box and radio boxes.
    auto& panel = Make<CSkinHeaderPanel>();
    panel.TextAttribute("Icon") = L"IconVpnPolicyRoute";
    panel.Create(me, R(24, 240, 184, 460), 0xFFFF, GetText("VpnRoutesTitle"));
    auto& list = Make<CSkinListBox>();
    list.Create(panel.hwnd(), R(3, 28, 157, 150), 1300);
    for (const wchar_t* item : {L"全部流量", L"指定程序", L"国内网站直连", L"游戏加速", L"视频加速",
                                L"海外网站", L"办公线路", L"备用线路"}) {
      ::SendMessageW(list.hwnd(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }
    ::SendMessageW(list.hwnd(), LB_SETCURSEL, 1, 0);
    auto& pptp = Make<CSkinRadioBox>();
    pptp.Create(panel.hwnd(), R(12, 160, 80, 178), 1301, L"PPTP", true);
    auto& l2tp = Make<CSkinRadioBox>();
    l2tp.Create(panel.hwnd(), R(12, 186, 80, 204), 1302, L"L2TP");
    ::SendMessageW(l2tp.hwnd(), BM_SETCHECK, BST_CHECKED, 0);
    auto& radioOff = Make<CSkinRadioBox>();
    radioOff.Create(panel.hwnd(), R(88, 160, 156, 178), 1303, L"禁用");
    radioOff.Enable(false);

    // Tabs with a server list as their page.
    auto& tabs = Make<CSkinTabCtrl>();
    tabs.Create(me, R(196, 240, 636, 460), 1032, L"");
    auto& title = Make<CSkinStatic>();
    title.Create(tabs.hwnd(), R(0, 0, 80, 20), 0xFFFF, GetText("VpnServersTitle"));
    auto& retest2 = Make<CSkinButton>("LinkButton");
    retest2.Create(tabs.hwnd(), R(0, 0, 96, 20), 1023, GetText("RetestSpeed"));
    retest2.TextAttribute("Icon") = L"IconVpnPolicyRefresh";
    tabs.SetLeftWindow(title.hwnd());
    tabs.SetRightWindow(retest2.hwnd());
    auto& servers = Make<CSkinListCtrl>();
    servers.Create(tabs.hwnd(), R(0, 25, 300, 125), 1022,
                   LVS_SINGLESEL | LVS_SHOWSELALWAYS);
    ::SendMessageW(servers.hwnd(), LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                   LVS_EX_FULLROWSELECT | LVS_EX_CHECKBOXES);
    const wchar_t* columns[] = {L"服务器", L"说明", L"速度", L"负载"};
    const int widths[] = {130, 130, 80, 70};
    for (int c = 0; c < 4; ++c) {
      LVCOLUMNW col = {};
      col.mask = LVCF_TEXT | LVCF_WIDTH;
      col.pszText = const_cast<wchar_t*>(columns[c]);
      col.cx = widths[c];
      ::SendMessageW(servers.hwnd(), LVM_INSERTCOLUMNW, c, reinterpret_cast<LPARAM>(&col));
    }
    for (int row = 0; row < 12; ++row) {
      const std::wstring name = L"上海 " + std::to_wstring(row + 1) + L" 号";
      LVITEMW item = {};
      item.mask = LVIF_TEXT;
      item.iItem = row;
      item.pszText = const_cast<wchar_t*>(name.c_str());
      ::SendMessageW(servers.hwnd(), LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
      const std::wstring cells[] = {L"电信 / 联通", std::to_wstring(40 + row * 7) + L" ms",
                                    std::to_wstring(10 + row * 6) + L"%"};
      for (int c = 1; c < 4; ++c) {
        LVITEMW sub = {};
        sub.iSubItem = c;
        sub.pszText = const_cast<wchar_t*>(cells[c - 1].c_str());
        ::SendMessageW(servers.hwnd(), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&sub));
      }
      if (row % 3 == 0) ListView_SetCheckState(servers.hwnd(), row, TRUE);
    }
    ListView_SetItemState(servers.hwnd(), 2, LVIS_SELECTED, LVIS_SELECTED);
    tabs.InsertTab(-1, GetText("VpnServerCategoryChina"), "FlagChina", servers.hwnd());
    tabs.InsertTab(-1, GetText("VpnServerCategoryUSA"), "FlagUSA", servers.hwnd());
    tabs.InsertTab(-1, GetText("VpnServerCategoryAsia"), "FlagAsia", servers.hwnd());
    tabs.SelectTab(0);
    servers.SyncScrollbars();
    return true;
  }
};

// The main window's picture and controls, with minimize and close.
class CMainLikeDialog : public CGalleryDialog {
 protected:
  bool OnInitDialog() override {
    SetWindowText(L"OrumaVPN");
    frame_.IntAttribute("MaximizeBox") = 0;
    frame_.TextAttribute("CustomBackground") = L"DlgVpnMain,0,0";
    frame_.TextAttribute("Title") = L"";
    frame_.Attach(hwnd());
    Size(327, 464, 684, 8);
    HWND me = hwnd();
    const wchar_t* news[] = {L"新年优惠：年付套餐八折", L"新增东京、新加坡高速节点",
                             L"客户端 2.1 版发布", L""};
    for (int n = 0; n < 4; ++n) {
      auto& link = Make<CSkinButton>("LinkButton");
      link.Create(me, R(30, 124 + 19 * n, 310, 142 + 19 * n), 1036 + n, news[n]);
      if (n == 1) link.SetHovered(true);
    }
    auto label = [&](RECT r, const std::wstring& text, bool rightAlign = false) -> CSkinStatic& {
      auto& s = Make<CSkinStatic>();
      s.Create(me, r, 0xFFFF, text);
      if (rightAlign) s.TextAttribute("Align") = L"Right";
      return s;
    };
    label(R(40, 210, 95, 228), GetText("YourIP") + L":");
    label(R(95, 210, 190, 228), L"203.0.113.7").IntAttribute("TextColor") = 0x0014FF;
    label(R(200, 210, 240, 228), GetText("ExpiredDate") + L":");
    label(R(240, 210, 310, 228), GetText("ExpiredDateUnknown"));
    label(R(32, 250, 87, 268), GetText("Username"), true);
    label(R(32, 280, 87, 298), GetText("Password"), true);
    auto& user = Make<CSkinEdit>();
    user.Create(me, R(114, 250, 260, 264), 1001);
    user.SetWindowText(L"zhangsan");
    auto& password = Make<CSkinEdit>();
    password.Create(me, R(114, 282, 260, 296), 1002, ES_PASSWORD);
    password.SetWindowText(L"secret");
    auto& save = Make<CSkinCheckBox>();
    save.Create(me, R(94, 310, 194, 325), 1008, GetText("SavePassword"));
    ::SendMessageW(save.hwnd(), BM_SETCHECK, BST_CHECKED, 0);
    Make<CSkinButton>("LinkButton").Create(me, R(200, 310, 290, 325), 1040,
                                           GetText("ForgotPassword"));
    auto& connect = Make<CSkinButton>();
    connect.Create(me, R(60, 335, 160, 362), 1003, GetText("Connect"));
    connect.TextAttribute("Icon") = L"IconConnect";
    auto& disconnect = Make<CSkinButton>();
    disconnect.Create(me, R(170, 335, 270, 362), 1004, GetText("Disconnect"));
    disconnect.TextAttribute("Icon") = L"IconDisconnect";
    disconnect.Enable(false);
    label(R(72, 377, 305, 392), GetText("Ready"));
    const struct { int id; const char* style; const char* text; } web[] = {
        {1005, "ButtonReg", "UserRegister"}, {1006, "ButtonPurchase", "Purchase"},
        {1007, "ButtonFreeTrial", "FreeTrial"}, {1009, "ButtonHelp", "GuideHelp"},
        {1012, "ButtonSupport", "OnlineCustomerSupport"}};
    for (int i = 0; i < 5; ++i) {
      auto& b = Make<CSkinButton>(web[i].style);
      b.Create(me, R(15 + 60 * i, 410, 70 + 60 * i, 459), web[i].id, GetText(web[i].text));
      b.TextAttribute("VAlign") = L"Bottom";
      if (i == 2) b.SetHovered(true);
    }
    return true;
  }
};

// No system buttons at all; the busy bar runs in it.
class CBusyDialog : public CGalleryDialog {
 protected:
  bool OnInitDialog() override {
    SetWindowText(L"正在下载新版本 ...");
    frame_.IntAttribute("MaximizeBox") = 0;
    frame_.IntAttribute("MinimizeBox") = 0;
    frame_.IntAttribute("CloseBox") = 0;
    frame_.Attach(hwnd());
    Size(660, 200, 8, 500);
    HWND me = hwnd();
    Make<CSkinStatic>().Create(me, R(24, 50, 600, 70), 0xFFFF, L"已下载 1.2 MB，速度 256 KB/秒");
    CreateWindowExW(0, kBusyBarClassName, L"", WS_CHILD | WS_VISIBLE, 24, 80, 612, 18, me,
                    nullptr, GetModuleHandleW(nullptr), nullptr);
    CreateWindowExW(0, kBusyBarClassName, L"", WS_CHILD | WS_VISIBLE | kBusyBarClassicStyle, 24,
                    108, 300, 14, me, nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND stopped = CreateWindowExW(0, kBusyBarClassName, L"", WS_CHILD | WS_VISIBLE, 336, 108,
                                   300, 14, me, nullptr, GetModuleHandleW(nullptr), nullptr);
    EnableWindow(stopped, FALSE);
    Make<CSkinButton>().Create(me, R(430, 150, 530, 180), IDOK, GetText("OK"));
    Make<CSkinButton>().Create(me, R(540, 150, 640, 180), IDCANCEL, GetText("Cancel"));
    return true;
  }
};

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  BuildTextTable();
  RegisterBusyBarClass(GetModuleHandleW(nullptr));
  RegisterStartupSkinFromFolder(CSkinRegistry::Instance(), ArtFolder(argc, argv));

  CControlsDialog controlsDialog;
  CMainLikeDialog mainDialog;
  CBusyDialog busyDialog;
  for (CDialog* dialog :
       std::initializer_list<CDialog*>{&controlsDialog, &mainDialog, &busyDialog}) {
    dialog->Create();
    dialog->Show();
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
    if (!IsWindow(controlsDialog.hwnd()) && !IsWindow(mainDialog.hwnd())) break;
  }
  return 0;
}
