// The download dialog of the online update: one request writing the package straight into its
// target file, a progress bar while the length is known and the busy bar while it is not, the
// speed line, and Cancel with a question first.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "base/unique_handle_win.h"
#include "framework/dialog_win.h"
#include "framework/message_box_win.h"
#include "framework/window_message_target_win.h"
#include "service/http_request.h"
#include "service/online_update.h"
#include "service/online_update_win.h"
#include "skin/skin_button_win.h"
#include "skin/skin_layout_win.h"
#include "skin/skin_static_win.h"
#include "skin/skin_window_win.h"

class CDlgOnlineUpdate : public CDialog {
 public:
  static constexpr UINT kRequestMessage = WM_USER + 1;
  static constexpr int kWidth = 425;
  static constexpr int kHeight = 140;
  static constexpr int kProgressId = 1101;
  static constexpr int kBusyBarId = 1102;
  static constexpr int kStatusId = 1103;

  // Downloads `url` as `fileName` into a new folder in `parent` (ending with a separator).
  CDlgOnlineUpdate(std::wstring url, std::wstring parent, std::wstring fileName);
  ~CDlgOnlineUpdate() override;

  // How the dialog tells of a failure and asks before cancelling; a plain box when empty.
  MessageBoxFn messageBox;

  // Only before the run; kMaxUpdatePackageBytes unless set.
  void SetSizeLimit(int64_t bytes) { limit_ = bytes; }

  bool cancelled() const { return cancelled_; }
  // After a download that ended: the package, still held. Null otherwise.
  std::unique_ptr<HeldUpdatePackage> TakePackage() { return std::move(package_); }

 protected:
  bool OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void OnPaint() override;
  void LayoutForDpi(int dpi) override;
  void OnOK() override;
  void OnCancel() override;

 private:
  // Not WM_USER + 2: the dialog manager uses that for DM_REPOSITION.
  static constexpr UINT kStartMessage = WM_APP + 1;

  class FileSink;

  void CreateControls();
  void Start();
  void OnRequestEvent(WPARAM event);
  void ShowProgressBar(bool known);
  void Finish(INT_PTR code);

  const std::wstring url_;
  const std::wstring parent_;
  const std::wstring fileName_;
  int64_t limit_ = kMaxUpdatePackageBytes;

  HWND progress_ = nullptr;
  HWND busyBar_ = nullptr;
  CSkinStatic status_;
  CSkinButton cancel_;
  CSkinWindow frame_;
  CSkinLayout layout_;

  std::unique_ptr<HeldUpdatePackage> package_;
  std::unique_ptr<FileSink> sink_;
  std::unique_ptr<BoundedBodySink> bounded_;
  std::unique_ptr<HttpRequest> request_;
  WindowMessageTarget messages_;
  std::optional<DownloadMeter> meter_;
  bool cancelled_ = false;
  bool finished_ = false;
};

// The update's downloads through CDlgOnlineUpdate, owned by the application's main window.
class DialogUpdateDownloader : public UpdateDownloader {
 public:
  // Download folders are made in `parent` (ending with a separator); the program data folder
  // when empty.
  explicit DialogUpdateDownloader(std::wstring parent = {}, MessageBoxFn messageBox = {})
      : parent_(std::move(parent)), messageBox_(std::move(messageBox)) {}
  Result Download(const std::wstring& url, const std::wstring& fileName,
                  std::unique_ptr<DownloadedPackage>& package) override;

 private:
  const std::wstring parent_;
  MessageBoxFn messageBox_;
};
