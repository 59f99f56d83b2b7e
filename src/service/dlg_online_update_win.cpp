#include "service/dlg_online_update_win.h"

#include <commctrl.h>

#include "config/program_data_folder.h"
#include "config/text_table.h"
#include "framework/dpi_win.h"
#include "skin/busy_bar_win.h"
#include "skin/skin_registry_win.h"

namespace {

constexpr SkinRect kCancelRect = {310, 60, 400, 90};
constexpr SkinRect kBarRect = {70, 65, 290, 85};
constexpr SkinRect kStatusRect = {70, 100, 370, 120};
constexpr SkinRect kIconAt = {25, 60, 25, 60};  // an empty target: the picture's natural size

HWND CreateBar(const wchar_t* className, DWORD style, HWND parent, int id, const RECT& at) {
  return CreateWindowExW(0, className, L"", WS_CHILD | style, at.left, at.top,
                         at.right - at.left, at.bottom - at.top, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

// Writes the body into the target file from the request's worker thread.
class CDlgOnlineUpdate::FileSink final : public HttpBodySink {
 public:
  explicit FileSink(HANDLE file) : file_(file) {}
  bool Write(const char* data, size_t size) override {
    while (size > 0) {
      const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(file_, data, chunk, &written, nullptr) || written == 0) return false;
      data += written;
      size -= written;
    }
    return true;
  }

 private:
  HANDLE file_;
};

CDlgOnlineUpdate::CDlgOnlineUpdate(std::wstring url, std::wstring parent, std::wstring fileName)
    : url_(std::move(url)), parent_(std::move(parent)), fileName_(std::move(fileName)) {}

CDlgOnlineUpdate::~CDlgOnlineUpdate() {
  if (request_) request_->Close();
}

bool CDlgOnlineUpdate::OnInitDialog() {
  SetWindowText(GetText("VpnAppOnlineUpdateTitle"));
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.IntAttribute("CloseBox") = 0;
  frame_.IntAttribute("MinimizeBox") = 0;
  layout_.SetDpi(WindowDpi(hwnd()));
  CenterOverOwner(hwnd(), layout_.Scale(kWidth), layout_.Scale(kHeight));
  frame_.Attach(hwnd());
  CreateControls();
  messages_.SetWindow(hwnd());
  // Started once the dialog runs, so a box about a failed start has a window to sit on.
  PostMessage(kStartMessage);
  return true;
}

void CDlgOnlineUpdate::CreateControls() {
  layout_.Create(cancel_, hwnd(), kCancelRect, IDCANCEL, GetText("Cancel"));
  const RECT bar = layout_.ScaleRect(kBarRect);
  progress_ = CreateBar(PROGRESS_CLASSW, 0, hwnd(), kProgressId, bar);
  ::SendMessageW(progress_, PBM_SETRANGE32, 0, 100);
  busyBar_ = CreateBar(kBusyBarClassName, WS_VISIBLE, hwnd(), kBusyBarId, bar);
  layout_.Keep(progress_, kBarRect);
  layout_.Keep(busyBar_, kBarRect);
  layout_.Create(status_, hwnd(), kStatusRect, kStatusId,
                 GetText("ConnectingToOnlineUpdateServer"));
}

void CDlgOnlineUpdate::LayoutForDpi(int dpi) {
  layout_.Apply(dpi);
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CDlgOnlineUpdate::OnPaint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd(), &paint);
  CSkinRegistry::Instance().DrawPart("IconOnlineUpdate", "", dc, layout_.ScaleRect(kIconAt),
                                     layout_.dpi());
  EndPaint(hwnd(), &paint);
}

void CDlgOnlineUpdate::Start() {
  package_ = HeldUpdatePackage::Create(parent_, fileName_);
  if (!package_) {
    // Nowhere to put the package: the update has failed before it began.
    Finish(IDCANCEL);
    return;
  }
  sink_ = std::make_unique<FileSink>(package_->WriteHandle());
  bounded_ = std::make_unique<BoundedBodySink>(*sink_, limit_);
  request_ = std::make_unique<HttpRequest>(url_);
  request_->SetOutput(bounded_.get());
  meter_.emplace(GetTickCount());
  if (request_->Start(messages_, kRequestMessage)) return;
  ShowMessageBox(messageBox, GetText("CannotStartInternetConnection"), MB_OK);
  // Nothing will ever report; waiting for a Cancel would only pass the failure off as the
  // user's choice.
  Finish(IDCANCEL);
}

bool CDlgOnlineUpdate::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == kStartMessage) {
    if (!finished_) Start();
    result = 0;
    return true;
  }
  if (message != kRequestMessage) return false;
  result = 0;
  if (!finished_ && request_ && reinterpret_cast<HttpRequest*>(lParam) == request_.get()) {
    OnRequestEvent(wParam);
  }
  return true;
}

void CDlgOnlineUpdate::OnRequestEvent(WPARAM event) {
  switch (event) {
    case HttpRequest::kEventHeaders:
      ShowProgressBar(request_->contentLength() >= 0);
      break;
    case HttpRequest::kEventProgress:
    case HttpRequest::kEventEnded: {
      const DownloadMeter::Reading reading =
          meter_->Measure(GetTickCount(), request_->bytesReceived(), request_->contentLength());
      if (!reading.status.empty()) {
        status_.SetWindowText(reading.status);
        InvalidateRect(status_.hwnd(), nullptr, FALSE);
      }
      if (reading.position >= 0) ::SendMessageW(progress_, PBM_SETPOS, reading.position, 0);
      if (event == HttpRequest::kEventEnded) Finish(IDOK);
      break;
    }
    default:
      break;
  }
}

void CDlgOnlineUpdate::ShowProgressBar(bool known) {
  ShowWindow(progress_, known ? SW_SHOW : SW_HIDE);
  ShowWindow(busyBar_, known ? SW_HIDE : SW_SHOW);
}

void CDlgOnlineUpdate::OnOK() {
  // Enter gives up at once; only the button and Escape ask first.
  if (finished_) return;
  cancelled_ = true;
  Finish(IDCANCEL);
}

void CDlgOnlineUpdate::OnCancel() {
  if (finished_) return;
  const int answer = ShowMessageBox(messageBox, GetText("DoYouWantToCancelOnlineUpdate"),
                            MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
  // The download may have ended while the question was up; then it stands.
  if (answer != IDOK || finished_) return;
  cancelled_ = true;
  Finish(IDCANCEL);
}

void CDlgOnlineUpdate::Finish(INT_PTR code) {
  if (finished_) return;
  finished_ = true;
  if (request_) request_->Close();
  // A download that ended is held on for its check and start (one that cannot be held again
  // has no digest, so the check refuses it); anything else is let go, and what arrived is
  // deleted at the next start.
  if (package_) {
    if (code == IDOK) {
      package_->FinishWriting();
    } else {
      package_.reset();
    }
  }
  EndDialog(code);
}

UpdateDownloader::Result DialogUpdateDownloader::Download(
    const std::wstring& url, const std::wstring& fileName,
    std::unique_ptr<DownloadedPackage>& package) {
  CDlgOnlineUpdate dialog(url, parent_.empty() ? SystemProgramDataFolder().Path() : parent_,
                          fileName);
  dialog.messageBox = messageBox_;
  const INT_PTR result = dialog.DoModal();
  if (result == IDOK) {
    package = dialog.TakePackage();
    return Result::kCompleted;
  }
  return dialog.cancelled() ? Result::kCancelled : Result::kFailed;
}
