// control_probe: the state of one control of another process's dialog, for end-to-end tests
// that must see more than text (windriver) or enabled state (e2e_input).
//
//   control_probe <caption> <control id>     prints "visible\t<0|1>", "position\t<n>" (the
//                                            progress-bar position; 0 for other controls) and
//                                            "text\t<text>" of the control of the first visible
//                                            dialog with that caption
//
// Numbers may be decimal or 0x hex. Exit code 0: done; 1: no such dialog or control; 2: usage.
// Output is UTF-8 with "\n" line ends.
#include <windows.h>
// Need the types of <windows.h>.
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "base/text.h"

namespace {

constexpr UINT kSendTimeoutMs = 2000;
constexpr int kUsage = 2;

void PrintUtf8(const std::wstring& text) {
  const std::string bytes = WideToUtf8(text) + '\n';
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

HWND VisibleDialog(const std::wstring& caption) {
  for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", caption.c_str()); w;
       w = FindWindowExW(nullptr, w, L"#32770", caption.c_str())) {
    if (IsWindowVisible(w)) return w;
  }
  return nullptr;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  const int n = GetClassNameW(window, name, 64);
  return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}

// WM_GETTEXT: across processes GetWindowText only sees a control's creation text.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length) ||
      length == 0 || length > 1 << 16) {
    return {};
  }
  std::vector<wchar_t> buffer(length + 1);
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                      SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied);
  return std::wstring(buffer.data(), copied < buffer.size() ? copied : 0);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc != 3) return kUsage;
  HWND dialog = VisibleDialog(argv[1]);
  if (!dialog) return 1;
  HWND control = GetDlgItem(dialog, static_cast<int>(std::wcstoul(argv[2], nullptr, 0)));
  if (!control) return 1;
  DWORD_PTR position = 0;
  if (ClassOf(control) == PROGRESS_CLASSW) {
    SendMessageTimeoutW(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &position);
  }
  PrintUtf8(L"visible\t" + std::to_wstring(IsWindowVisible(control) ? 1 : 0));
  PrintUtf8(L"position\t" + std::to_wstring(position));
  PrintUtf8(L"text\t" + TextOf(control));
  return 0;
}
