#include "service/dlg_download_win.h"

#include <commctrl.h>

#include "config/text_table.h"
#include "framework/dpi_win.h"
#include "resource.h"
#include "service/server_response.h"
#include "skin/skin_scale.h"

namespace {

constexpr SkinRect kCancelRect = {300, 60, 390, 90};
constexpr SkinRect kTextRect = {65, 65, 265, 85};
constexpr SkinRect kAnimationRect = {25, 60, 45, 80};

// The animation drawn for the artwork set the window's DPI asks for.
int AnimationResource(int dpi) {
  switch (ChooseArtworkScale(dpi)) {
    case 150:
      return IDR_AVI_FETCH_150;
    case 200:
      return IDR_AVI_FETCH_200;
    default:
      return IDR_AVI_FETCH;
  }
}

}  // namespace

CDlgDownload::CDlgDownload()
    : race_([this](int32_t statusCode, const std::string& body) {
        return statusCode == 200 &&
               (!requireMarker_ || ContainsResponseMarker(body.data(), body.size()));
      }) {}

CDlgDownload::~CDlgDownload() = default;

void CDlgDownload::AddUrl(const std::wstring& url) { race_.Add(probes_.Create(url)); }

bool CDlgDownload::OnInitDialog() {
  SetWindowText(GetText("VpnAppLoginTitle"));
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.IntAttribute("CloseBox") = 0;
  frame_.IntAttribute("MinimizeBox") = 0;
  layout_.SetDpi(WindowDpi(hwnd()));
  frame_.Attach(hwnd());
  CenterOverOwner(hwnd(), layout_.Scale(kWidth), layout_.Scale(kHeight));

  layout_.Create(cancel_, hwnd(), kCancelRect, IDCANCEL, GetText("Cancel"));
  layout_.Create(text_, hwnd(), kTextRect, 0xFFFF, GetText("LoadingVPNInformation"));
  const RECT at = layout_.ScaleRect(kAnimationRect);
  animation_ = CreateWindowExW(0, ANIMATE_CLASSW, L"",
                               WS_CHILD | WS_VISIBLE | ACS_TRANSPARENT | ACS_CENTER, at.left,
                               at.top, at.right - at.left, at.bottom - at.top, hwnd(), nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  layout_.Keep(animation_, kAnimationRect);
  PlayAnimation();
  target_.SetWindow(hwnd());
  // Started once the dialog runs, so a box about a failed start has a window to sit on.
  PostMessage(kStartMessage);
  return true;
}

void CDlgDownload::PlayAnimation() {
  if (!animation_) return;
  ::SendMessageW(animation_, ACM_OPENW, reinterpret_cast<WPARAM>(GetModuleHandleW(nullptr)),
                 reinterpret_cast<LPARAM>(MAKEINTRESOURCEW(AnimationResource(layout_.dpi()))));
  ::SendMessageW(animation_, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, 0xFFFF));
}

void CDlgDownload::LayoutForDpi(int dpi) {
  layout_.Apply(dpi);
  PlayAnimation();
}

void CDlgDownload::StartRequests() {
  if (race_.size() == 0) {
    ShowMessageBox(messageBox, GetText("NoLoginHost"), MB_OK);
    // Nothing can ever answer; waiting on for a Cancel would only look like a hang.
    notStarted_ = true;
    Finish(IDCANCEL);
    return;
  }
  // One that cannot start will never report, so it counts as ended now; otherwise the dialog
  // could only wait.
  if (race_.Start() > 0) {
    ShowMessageBox(messageBox, GetText("CannotStartInternetConnection"), MB_OK);
    if (finished_) return;
  }
  if (!finished_ && race_.AllEnded()) {
    notStarted_ = true;
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
    OnRequestEnded(reinterpret_cast<const void*>(lParam));
  }
  return true;
}

void CDlgDownload::OnRequestEnded(const void* request) {
  const FirstAnswerRace::End end = race_.OnEnded(request);
  if (end == FirstAnswerRace::End::kWon) {
    winner_ = race_.winner();
    const std::string& body = race_.request(static_cast<size_t>(winner_)).Body();
    if (output_ && !body.empty()) *output_ = body;
    Finish(IDOK);
    return;
  }
  if (end == FirstAnswerRace::End::kLost && race_.AllEnded()) Finish(IDCANCEL);
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
  race_.Clear();
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
  return dialog.notStarted() ? Result::kNotStarted : Result::kFailed;
}
