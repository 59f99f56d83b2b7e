// The fetch-with-progress dialog of the login: runs one request per address at once, shows an
// animation while they run, takes the first good answer and can be cancelled.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/dialog_win.h"
#include "framework/message_box_win.h"
#include "framework/window_message_target_win.h"
#include "service/first_answer_race.h"
#include "service/http_host_probe.h"
#include "service/http_request.h"
#include "service/login_exchange.h"
#include "skin/skin_button_win.h"
#include "skin/skin_layout_win.h"
#include "skin/skin_static_win.h"
#include "skin/skin_window_win.h"

class CDlgDownload : public CDialog {
 public:
  static constexpr UINT kRequestMessage = WM_USER + 1;
  static constexpr int kWidth = 425;
  static constexpr int kHeight = 120;

  CDlgDownload();
  ~CDlgDownload() override;

  // How the dialog tells of a failure; a plain box when empty.
  MessageBoxFn messageBox;

  void AddUrl(const std::wstring& url);
  // Where the winning body goes; must outlive the run.
  void SetOutput(std::string* output) { output_ = output; }
  // Take any complete answer with status 200, marker or not (the route list carries none).
  void ClearRequireMarker() { requireMarker_ = false; }

  bool cancelled() const { return cancelled_; }
  // No request could start (or there was none); the dialog has said so in its box.
  bool notStarted() const { return notStarted_; }
  int winner() const { return winner_; }

 protected:
  bool OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void OnOK() override;
  void OnCancel() override;
  void LayoutForDpi(int dpi) override;

 private:
  static constexpr UINT kStartMessage = WM_USER + 2;

  void PlayAnimation();

  void StartRequests();
  void OnRequestEnded(const void* request);
  void Finish(INT_PTR code);

  int winner_ = -1;
  bool requireMarker_ = true;
  std::string* output_ = nullptr;
  bool cancelled_ = false;
  bool notStarted_ = false;
  bool finished_ = false;
  WindowMessageTarget target_;
  HttpHostProbeFactory probes_{target_, kRequestMessage};
  FirstAnswerRace race_;
  CSkinWindow frame_;
  CSkinStatic text_;
  CSkinButton cancel_;
  HWND animation_ = nullptr;
  CSkinLayout layout_;
};

// The login's fetches through CDlgDownload, owned by the application's main window.
class DownloadDialogFetcher : public LoginFetcher {
 public:
  explicit DownloadDialogFetcher(MessageBoxFn messageBox = {}) : messageBox_(std::move(messageBox)) {}
  Result Fetch(const std::vector<std::wstring>& urls, bool requireMarker,
               std::string& body) override;

 private:
  MessageBoxFn messageBox_;
};
