#include "policy/dlg_vpn_app_bind_setting_win.h"

#include <algorithm>

#include "config/text_table.h"

namespace {

// Over the owner, inside the work area.
void CenterOnOwner(HWND window, int width, int height) {
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT area = work;
  if (HWND owner = GetWindow(window, GW_OWNER)) GetWindowRect(owner, &area);
  const int left = std::max<int>(
      work.left,
      std::min<int>(work.right - width, area.left + ((area.right - area.left) - width) / 2));
  const int top = std::max<int>(
      work.top,
      std::min<int>(work.bottom - height, area.top + ((area.bottom - area.top) - height) / 2));
  SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool CDlgVpnAppBindSetting::OnInitDialog() {
  SetWindowText(L"OrumaVPN" + GetText("AcceleratedAppSetting"));
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.IntAttribute("CloseBox") = 0;
  frame_.IntAttribute("MinimizeBox") = 0;
  frame_.Attach(hwnd());
  CenterOnOwner(hwnd(), kWidth, kHeight);

  HWND me = hwnd();
  useAsyncMode_.Create(me, RECT{30, 60, 180, 80}, kUseAsyncModeId, GetText("VpnBindUseAsyncMode"));
  forceWspBind_.Create(me, RECT{30, 100, 180, 120}, kForceWspBindId,
                       GetText("VpnBindForceWSPBind"));
  ok_.Create(me, RECT{110, 150, 190, 180}, IDOK, GetText("OK"));
  cancel_.Create(me, RECT{200, 150, 280, 180}, IDCANCEL, GetText("Cancel"));
  useAsyncMode_.SendMessage(BM_SETCHECK, options_.useAsyncMode ? BST_CHECKED : BST_UNCHECKED);
  forceWspBind_.SendMessage(BM_SETCHECK, options_.forceWspBind ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

void CDlgVpnAppBindSetting::OnOK() {
  options_.useAsyncMode = useAsyncMode_.check() == BST_CHECKED;
  options_.forceWspBind = forceWspBind_.check() == BST_CHECKED;
  CDialog::OnOK();
}
