#include "app/dlg_connection_log_win.h"

#include <cstring>

#include "config/text_table.h"
#include "framework/dpi_win.h"

namespace {

// At 96 DPI, in client coordinates under the frame's title band.
constexpr SkinRect kLinesRect = {15, 40, 625, 360};
constexpr SkinRect kStatusRect = {15, 375, 450, 400};
constexpr SkinRect kCopyRect = {465, 372, 625, 402};

constexpr int kClipboardAttempts = 10;
constexpr DWORD kClipboardRetryMs = 20;

// The widest of `lines` in the list's font, for its horizontal scroll range.
int WidestLine(HWND list, const std::vector<std::wstring>& lines) {
  HDC dc = GetDC(list);
  if (!dc) return 0;
  const HGDIOBJ previous =
      SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(list, WM_GETFONT, 0, 0)));
  int widest = 0;
  for (const std::wstring& line : lines) {
    SIZE size = {};
    if (GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size)) {
      widest = widest > size.cx ? widest : size.cx;
    }
  }
  SelectObject(dc, previous);
  ReleaseDC(list, dc);
  return widest;
}

}  // namespace

bool CopyTextToClipboard(HWND owner, const std::wstring& text) {
  // OpenClipboard fails while another window has it open (Microsoft Learn, "OpenClipboard").
  bool open = false;
  for (int attempt = 0; attempt < kClipboardAttempts && !open; ++attempt) {
    open = OpenClipboard(owner) != FALSE;
    if (!open) Sleep(kClipboardRetryMs);
  }
  if (!open) return false;
  bool copied = false;
  if (EmptyClipboard()) {
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    // The clipboard takes over memory it is given only when SetClipboardData succeeds.
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (void* at = memory ? GlobalLock(memory) : nullptr) {
      std::memcpy(at, text.c_str(), bytes);
      GlobalUnlock(memory);
      copied = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (memory && !copied) GlobalFree(memory);
  }
  CloseClipboard();
  return copied;
}

CDlgConnectionLog::CDlgConnectionLog(ConnectionLogSources sources)
    : sources_(std::move(sources)) {}

bool CDlgConnectionLog::OnInitDialog() {
  SetWindowText(GetText("ConnectionLog"));
  frame_.IntAttribute("MaximizeBox") = 0;
  frame_.IntAttribute("MinimizeBox") = 0;
  layout_.SetDpi(WindowDpi(hwnd()));
  CenterOverOwner(hwnd(), layout_.Scale(kWidth), layout_.Scale(kHeight));
  frame_.Attach(hwnd());
  layout_.Create(lines_, hwnd(), kLinesRect, kLinesId, WS_HSCROLL | LBS_NOSEL);
  note_.TextAttribute("Icon") = L"IconTipInfo";
  layout_.Create(note_, hwnd(), kLinesRect, kNoteId, L"");
  layout_.Create(status_, hwnd(), kStatusRect, kStatusId, L"");
  layout_.Create(copy_, hwnd(), kCopyRect, kCopyId, GetText("CopyDiagnostics"));
  Refresh();
  SetTimer(kRefreshTimer, kRefreshMs);
  // The button, not the list, takes the focus: the list has nothing to select.
  ::SetFocus(copy_.hwnd());
  return false;
}

void CDlgConnectionLog::LayoutForDpi(int dpi) {
  layout_.Apply(dpi);
  if (!shown_.empty()) {
    ::SendMessageW(lines_.hwnd(), LB_SETHORIZONTALEXTENT, WidestLine(lines_.hwnd(), shown_), 0);
  }
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CDlgConnectionLog::OnTimer(UINT_PTR id) {
  if (id == kRefreshTimer) Refresh();
}

bool CDlgConnectionLog::OnCommand(UINT id, UINT notifyCode) {
  if (id == kCopyId && notifyCode == BN_CLICKED) {
    status_.SetWindowText(GetText(CopyDiagnostics() ? "DiagnosticsCopied" : "CannotCopyDiagnostics"));
    return true;
  }
  return CDialog::OnCommand(id, notifyCode);
}

void CDlgConnectionLog::OnCancel() {
  KillTimer(kRefreshTimer);
  EndDialog(IDCANCEL);
}

void CDlgConnectionLog::Refresh() {
  if (!sources_.log) {
    ShowNote(GetText("ConnectionLogNotKept"));
    return;
  }
  std::vector<std::wstring> lines = ReadLogTail(*sources_.log, kShownLines);
  if (lines.empty()) {
    shown_.clear();
    ShowNote(GetText("ConnectionLogEmpty"));
    return;
  }
  ShowLines(std::move(lines));
}

void CDlgConnectionLog::ShowNote(const std::wstring& text) {
  if (note_.GetWindowText() != text) note_.SetWindowText(text);
  note_.Show(SW_SHOW);
  lines_.Show(SW_HIDE);
}

void CDlgConnectionLog::ShowLines(std::vector<std::wstring> lines) {
  note_.Show(SW_HIDE);
  lines_.Show(SW_SHOW);
  if (lines == shown_) return;
  const HWND list = lines_.hwnd();
  const int count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
  const int top = static_cast<int>(::SendMessageW(list, LB_GETTOPINDEX, 0, 0));
  const int rowHeight = static_cast<int>(::SendMessageW(list, LB_GETITEMHEIGHT, 0, 0));
  RECT client = {};
  ::GetClientRect(list, &client);
  const int rows = rowHeight > 0 ? (client.bottom - client.top) / rowHeight : 1;
  // At the end (or nothing shown yet): follow the new lines. Scrolled up: stay on the rows the
  // user is reading.
  const bool follow = count <= 0 || top + rows >= count;
  shown_ = std::move(lines);
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const std::wstring& line : shown_) {
    ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  }
  ::SendMessageW(list, LB_SETHORIZONTALEXTENT, WidestLine(list, shown_), 0);
  const int last = static_cast<int>(shown_.size()) - 1;
  ::SendMessageW(list, LB_SETTOPINDEX, follow ? last : (top < last ? top : last), 0);
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  lines_.SyncScrollbars();
}

bool CDlgConnectionLog::CopyDiagnostics() {
  const std::wstring text = sources_.diagnostics ? sources_.diagnostics() : std::wstring();
  return !text.empty() && CopyTextToClipboard(hwnd(), text);
}

void ConnectionLogWindow::Open() {
  if (CDlgConnectionLog* open = window()) {
    if (IsIconic(open->hwnd())) ShowWindow(open->hwnd(), SW_RESTORE);
    open->Show(SW_SHOW);
    SetForegroundWindow(open->hwnd());
    return;
  }
  dialog_ = std::make_unique<CDlgConnectionLog>(sources_);
  if (!dialog_->Create(owner_)) {
    dialog_.reset();
    return;
  }
  dialog_->Show(SW_SHOW);
  SetForegroundWindow(dialog_->hwnd());
}
