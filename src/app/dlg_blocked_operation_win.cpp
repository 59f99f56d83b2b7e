#include "app/dlg_blocked_operation_win.h"

#include <functional>

#include "app/blocked_operation_runner_win.h"
#include "config/text_table.h"
#include "framework/dpi_win.h"
#include "vpn/service_control_win.h"

namespace {

constexpr wchar_t kCaption[] = L"OrumaVPN";
constexpr SkinRect kTextRect = {20, 50, 410, 70};
constexpr UINT kStaticId = 0xFFFF;

class FunctionOperation final : public CDlgBlockedOperation::IOperation {
 public:
  explicit FunctionOperation(const std::function<void()>& work) : work_(work) {}
  void Execute(CDlgBlockedOperation&) override { work_(); }

 private:
  const std::function<void()>& work_;
};

void RunBehindDialog(HWND owner, CDlgBlockedOperation::IOperation& operation) {
  CDlgBlockedOperation dialog;
  dialog.SetOperation(&operation);
  // The work is asked for from a dialog over the owner; owning the blocking window by the
  // owner itself would re-enable it under that dialog when the work ends.
  dialog.DoModal(owner ? GetLastActivePopup(owner) : nullptr);
}

}  // namespace

CDlgBlockedOperation::~CDlgBlockedOperation() { worker_.Join(); }

bool CDlgBlockedOperation::OnInitDialog() {
  CDialog::OnInitDialog();
  layout_.SetDpi(WindowDpi(hwnd()));
  CenterOverOwner(hwnd(), layout_.Scale(kWidth), layout_.Scale(kHeight));
  SetWindowText(kCaption);
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.IntAttribute("CloseBox") = 0;
  frame_.IntAttribute("MinimizeBox") = 0;
  frame_.Attach(hwnd());
  layout_.Create(text_, hwnd(), kTextRect, kStaticId, GetText("BlockedOperationIsRunning"));
  if (!worker_.Start([this] { Work(); })) {
    // Without a thread the work still has to be done; the window just cannot paint meanwhile.
    Work();
  }
  return true;
}

void CDlgBlockedOperation::LayoutForDpi(int dpi) { layout_.Apply(dpi); }

void CDlgBlockedOperation::Work() {
  if (operation_) operation_->Execute(*this);
  PostMessage(kOperationDoneMessage);
}

bool CDlgBlockedOperation::OnMessage(UINT message, WPARAM, LPARAM, LRESULT& result) {
  if (message != kOperationDoneMessage) return false;
  worker_.Join();
  EndDialog(IDOK);
  result = 0;
  return true;
}

void CDlgBlockedOperation::SetText(const std::wstring& text) {
  HWND line = text_.hwnd();
  if (!line) return;
  ::SetWindowTextW(line, text.c_str());
  InvalidateRect(line, nullptr, FALSE);
}

void CBlockedOperation_RestartVpnRelatedServices::Execute(CDlgBlockedOperation& dialog) {
  RestartVpnRelatedServices(control_, clock_,
                            [&dialog](const std::wstring& text) { dialog.SetText(text); });
}

void DialogBlockedOperationRunner::RestartVpnRelatedServices() {
  CBlockedOperation_RestartVpnRelatedServices operation(
      control_ ? *control_ : SystemServiceControl(), clock_ ? *clock_ : SystemTickClock());
  RunBehindDialog(owner_, operation);
}

void DialogBlockedOperationRunner::Run(const std::function<void()>& work) {
  FunctionOperation operation(work);
  RunBehindDialog(owner_, operation);
}
