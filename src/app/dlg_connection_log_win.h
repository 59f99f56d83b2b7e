// The connection log's window ("连接日志"): the log's last lines, followed as the writer adds
// them, and "复制诊断信息", which puts the diagnostics on the clipboard for support. Modeless
// beside the main window; ConnectionLogWindow keeps one at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/log_tail.h"
#include "framework/dialog_win.h"
#include "skin/skin_button_win.h"
#include "skin/skin_layout_win.h"
#include "skin/skin_list_box_win.h"
#include "skin/skin_static_win.h"
#include "skin/skin_window_win.h"

struct ConnectionLogSources {
  // The log's files; null when the data folder is not the program's own (no log is kept).
  LogFiles* log = nullptr;
  // The diagnostics text, gathered when the button is pressed.
  std::function<std::wstring()> diagnostics;
};

class CDlgConnectionLog : public CDialog {
 public:
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 420;
  static constexpr int kLinesId = 1201;
  static constexpr int kCopyId = 1202;
  static constexpr int kNoteId = 1203;
  static constexpr int kStatusId = 1204;
  static constexpr UINT_PTR kRefreshTimer = 1;
  static constexpr UINT kRefreshMs = 1000;
  static constexpr size_t kShownLines = 300;

  explicit CDlgConnectionLog(ConnectionLogSources sources);

  // Reads the log's end again and shows what changed (the timer does so every second). The
  // list follows new lines unless the user has scrolled up.
  void Refresh();
  // The diagnostics to the clipboard as Unicode text; false when the clipboard could not be had.
  bool CopyDiagnostics();

  const std::vector<std::wstring>& shownLines() const { return shown_; }
  HWND lines() const { return lines_.hwnd(); }
  HWND note() const { return note_.hwnd(); }

 protected:
  bool OnInitDialog() override;
  bool OnCommand(UINT id, UINT notifyCode) override;
  void OnTimer(UINT_PTR id) override;
  void LayoutForDpi(int dpi) override;
  void OnOK() override {}
  void OnCancel() override;

 private:
  // Shows `text` in place of the lines.
  void ShowNote(const std::wstring& text);
  void ShowLines(std::vector<std::wstring> lines);

  ConnectionLogSources sources_;
  std::vector<std::wstring> shown_;
  CSkinListBox lines_;
  CSkinStatic note_;
  CSkinStatic status_;
  CSkinButton copy_;
  CSkinWindow frame_;
  CSkinLayout layout_;
};

// The one log window of the program: the tray's item opens it, or brings the open one forward.
class ConnectionLogWindow {
 public:
  explicit ConnectionLogWindow(ConnectionLogSources sources) : sources_(std::move(sources)) {}
  // The main window, once it exists; the log window stays over it.
  void SetOwner(HWND owner) { owner_ = owner; }
  void Open();
  // The open window, or null.
  CDlgConnectionLog* window() const { return dialog_ && dialog_->hwnd() ? dialog_.get() : nullptr; }

 private:
  ConnectionLogSources sources_;
  HWND owner_ = nullptr;
  // A window the user closed is freed at the next Open (never inside its own handlers).
  std::unique_ptr<CDlgConnectionLog> dialog_;
};

// Puts `text` on the clipboard as CF_UNICODETEXT, owned by `owner`. Retries a moment while
// another program holds the clipboard open.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);
