#include "policy/dlg_vpn_app_bind_setting_win.h"

#include "config/text_table.h"
#include "framework/dpi_win.h"

bool CDlgVpnAppBindSetting::OnInitDialog() {
  SetWindowText(L"OrumaVPN" + GetText("AcceleratedAppSetting"));
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.IntAttribute("CloseBox") = 0;
  frame_.IntAttribute("MinimizeBox") = 0;
  layout_.SetDpi(WindowDpi(hwnd()));
  frame_.Attach(hwnd());
  CenterOverOwner(hwnd(), layout_.Scale(kWidth), layout_.Scale(kHeight));

  HWND me = hwnd();
  layout_.Create(useAsyncMode_, me, SkinRect{30, 60, 180, 80}, kUseAsyncModeId,
                 GetText("VpnBindUseAsyncMode"));
  layout_.Create(forceWspBind_, me, SkinRect{30, 100, 180, 120}, kForceWspBindId,
                 GetText("VpnBindForceWSPBind"));
  layout_.Create(ok_, me, SkinRect{110, 150, 190, 180}, IDOK, GetText("OK"));
  layout_.Create(cancel_, me, SkinRect{200, 150, 280, 180}, IDCANCEL, GetText("Cancel"));
  useAsyncMode_.SendMessage(BM_SETCHECK, options_.useAsyncMode ? BST_CHECKED : BST_UNCHECKED);
  forceWspBind_.SendMessage(BM_SETCHECK, options_.forceWspBind ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

void CDlgVpnAppBindSetting::LayoutForDpi(int dpi) { layout_.Apply(dpi); }

void CDlgVpnAppBindSetting::OnOK() {
  options_.useAsyncMode = useAsyncMode_.check() == BST_CHECKED;
  options_.forceWspBind = forceWspBind_.check() == BST_CHECKED;
  CDialog::OnOK();
}
