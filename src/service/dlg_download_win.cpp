#include "service/dlg_download_win.h"

#include <commctrl.h>

#include "config/text_table.h"
#include "service/server_response.h"

namespace {

constexpr int kAnimationResource = 141;


}  // namespace

CDlgDownload::~CDlgDownload() {
  for (auto& request : requests_) request->Close();
}

void CDlgDownload::AddUrl(const std::wstring& url) {
  requests_.push_back(std::make_unique<HttpRequest>(url));
}

bool CDlgDownload::OnInitDialog() {
  SetWindowText(GetText("VpnAppLoginTitle"));
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.IntAttribute("CloseBox") = 0;
  frame_.IntAttribute("MinimizeBox") = 0;
  frame_.Attach(hwnd());
  CenterOverOwner(hwnd(), kWidth, kHeight);

  cancel_.Create(hwnd(), RECT{300, 60, 390, 90}, IDCANCEL, GetText("Cancel"));
  text_.Create(hwnd(), RECT{65, 65, 265, 85}, 0xFFFF, GetText("LoadingVPNInformation"));
  HWND animation =
      CreateWindowExW(0, ANIMATE_CLASSW, L"", WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_CENTER,
                      25, 60, 20, 20, hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
  if (animation) {
    ::SendMessageW(animation, ACM_OPENW, reinterpret_cast<WPARAM>(GetModuleHandleW(nullptr)),
                   reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(kAnimationResource)));
    ::SendMessageW(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, 0xFFFF));
  }
  target_.SetWindow(hwnd());
  // Started once the dialog runs, so a box about a failed start has a window to sit on.
  PostMessage(kStartMessage);
  return true;
}

void CDlgDownload::StartRequests() {
  if (requests_.empty()) {
    ShowMessageBox(messageBox, GetText("NoLoginHost"), MB_OK);
    // Nothing can ever answer; waiting on for a Cancel would only look like a hang.
    not_started_ = true;
    Finish(IDCANCEL);
    return;
  }
  bool told = false;
  for (auto& request : requests_) {
    if (request->Start(target_, kRequestMessage)) continue;
    if (!told) ShowMessageBox(messageBox, GetText("CannotStartInternetConnection"), MB_OK);
    told = true;
    if (finished_) return;
    // It will never report, so it counts as ended now; otherwise the dialog could only wait.
    ++completed_;
  }
  if (!finished_ && completed_ == requests_.size()) {
    not_started_ = true;
    Finish(IDCANCEL);
  }
}

bool CDlgDownload::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == kStartMessage) {
    StartRequests();
    result = 0;
    return true;
  }
  if (message != kRequestMessage) return false;
  result = 0;
  if (wParam == HttpRequest::kEventEnded && !finished_) {
    OnRequestEnded(reinterpret_cast<HttpRequest*>(lParam));
  }
  return true;
}

void CDlgDownload::OnRequestEnded(HttpRequest* request) {
  int index = -1;
  for (size_t i = 0; i < requests_.size(); ++i) {
    if (requests_[i].get() == request) index = static_cast<int>(i);
  }
  if (index < 0) return;
  if (winner_ < 0 && request->status_code() == 200 && request->Complete()) {
    std::string body = request->DetachBody();
    if (!requireMarker_ || ContainsResponseMarker(body.data(), body.size())) {
      if (output_ && !body.empty()) *output_ = std::move(body);
      winner_ = index;
    }
  }
  if (winner_ >= 0) {
    Finish(IDOK);
    return;
  }
  if (++completed_ == requests_.size()) Finish(IDCANCEL);
}

void CDlgDownload::OnOK() {
  cancelled_ = true;
  Finish(IDCANCEL);
}

void CDlgDownload::OnCancel() {
  cancelled_ = true;
  Finish(IDCANCEL);
}

void CDlgDownload::Finish(INT_PTR code) {
  if (finished_) return;
  finished_ = true;
  for (auto& request : requests_) request->Close();
  requests_.clear();
  EndDialog(code);
}

LoginFetcher::Result DownloadDialogFetcher::Fetch(const std::vector<std::wstring>& urls,
                                                  bool requireMarker, std::string& body) {
  CDlgDownload dialog;
  dialog.messageBox = messageBox_;
  for (const std::wstring& url : urls) dialog.AddUrl(url);
  if (!requireMarker) dialog.ClearRequireMarker();
  dialog.SetOutput(&body);
  const INT_PTR result = dialog.DoModal();
  if (result == IDOK) return Result::kOk;
  if (dialog.cancelled()) return Result::kCancelled;
  return dialog.not_started() ? Result::kNotStarted : Result::kFailed;
}
