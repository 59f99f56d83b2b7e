#include "policy/dlg_vpn_app_bind_setting_win.h"

#include "config/text_table.h"

bool CDlgVpnAppBindSetting::OnInitDialog() {
  SetWindowText(L"OrumaVPN" + GetText("AcceleratedAppSetting"));
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.IntAttribute("CloseBox") = 0;
  frame_.IntAttribute("MinimizeBox") = 0;
  frame_.Attach(hwnd());
  CenterOverOwner(hwnd(), kWidth, kHeight);

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
