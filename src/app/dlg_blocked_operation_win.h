// A small modal window the user cannot close that runs one slow operation on a worker thread,
// so the window underneath stays blocked but keeps painting. It closes with IDOK once the
// operation has returned.
#pragma once

#include <windows.h>

#include <string>

#include "base/clock.h"
#include "framework/dialog_win.h"
#include "framework/worker_thread_win.h"
#include "skin/skin_static_win.h"
#include "skin/skin_layout_win.h"
#include "skin/skin_window_win.h"
#include "vpn/system_services.h"

class CDlgBlockedOperation : public CDialog {
 public:
  static constexpr int kWidth = 425;
  static constexpr int kHeight = 90;
  // Posted by the worker when the operation has returned.
  static constexpr UINT kOperationDoneMessage = WM_USER + 1;

  class IOperation {
   public:
    virtual ~IOperation() = default;
    // Does the work on the dialog's worker thread; may change the dialog's text.
    virtual void Execute(CDlgBlockedOperation& dialog) = 0;
  };

  CDlgBlockedOperation() = default;
  ~CDlgBlockedOperation() override;

  // Not owned; must outlive the modal run. Without one the dialog closes at once.
  void SetOperation(IOperation* operation) { operation_ = operation; }
  // Any thread: the line of text the window shows.
  void SetText(const std::wstring& text);

 protected:
  bool OnInitDialog() override;
  void LayoutForDpi(int dpi) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  // Enter and Escape: only the end of the operation closes the window.
  void OnOK() override {}
  void OnCancel() override {}

 private:
  void Work();

  IOperation* operation_ = nullptr;
  CWorkerThread worker_;
  CSkinWindow frame_;
  CSkinLayout layout_;
  CSkinStatic text_;
};

// Restarts the dial-up services (see RestartVpnRelatedServices) behind the dialog.
class CBlockedOperation_RestartVpnRelatedServices : public CDlgBlockedOperation::IOperation {
 public:
  CBlockedOperation_RestartVpnRelatedServices(ServiceControl& control, TickClock& clock)
      : control_(control), clock_(clock) {}
  void Execute(CDlgBlockedOperation& dialog) override;

 private:
  ServiceControl& control_;
  TickClock& clock_;
};
