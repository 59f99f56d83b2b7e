// The program's main window. For now it shows the product and its state and answers the
// requests of start-up and of a second instance; the login form comes with the client work.
#pragma once

#include <windows.h>

#include "framework/dialog_win.h"
#include "framework/unique_handle_win.h"

class CDlgVpnMain : public CDialog {
 public:
  static constexpr int kStatusLineId = 1010;

  CDlgVpnMain() = default;

 protected:
  bool OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void OnOK() override {}

 private:
  void ShowMainWindow();

  UniqueFont font_;
};
