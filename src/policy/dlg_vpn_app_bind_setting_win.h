// The binding options of accelerated applications: asynchronous binding and forced address
// binding, as two check boxes. OK copies them back into options().
#pragma once

#include <windows.h>

#include "framework/dialog_win.h"
#include "policy/app_list.h"
#include "skin/skin_button_win.h"
#include "skin/skin_check_box_win.h"
#include "skin/skin_layout_win.h"
#include "skin/skin_window_win.h"

class CDlgVpnAppBindSetting : public CDialog {
 public:
  static constexpr int kWidth = 300;
  static constexpr int kHeight = 200;
  static constexpr UINT kUseAsyncModeId = 1043;
  static constexpr UINT kForceWspBindId = 1044;

  explicit CDlgVpnAppBindSetting(const AppBindOptions& options) : options_(options) {}

  const AppBindOptions& options() const { return options_; }

 protected:
  bool OnInitDialog() override;
  void LayoutForDpi(int dpi) override;
  void OnOK() override;

 private:
  AppBindOptions options_;
  CSkinWindow frame_;
  CSkinLayout layout_;
  CSkinCheckBox useAsyncMode_;
  CSkinCheckBox forceWspBind_;
  CSkinButton ok_;
  CSkinButton cancel_;
};
