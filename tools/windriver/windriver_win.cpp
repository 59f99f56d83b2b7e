// windriver: finds top-level windows of other processes, reads their controls and presses their
// buttons, so end-to-end tests wait for what is on screen instead of sleeping.
//
//   wait       <class|*> <caption|*> <timeout_ms>            a visible match exists; prints HWND
//   texts      <class|*> <caption|*> <timeout_ms>            prints "window\t<class>\t<caption>",
//                                                            then "<id>\t<class>\t<text>" per
//                                                            child control, and the same per
//                                                            row of a list box
//   click      <class|*> <caption|*> <text|#id> <timeout_ms> presses a button of a visible match
//   gone       <class|*> <caption|*> <timeout_ms>            no match exists (visible or not)
//   count      <class|*> <caption|*>                         prints the number of matches
//   foreground <class|*> <caption|*>                         prints 1 when a match is in front
//   rect       <class|*> <caption|*> <timeout_ms>            prints "window\tL T R B" and
//                                                            "work\tL T R B" (its monitor's)
//   layout     <class|*> <caption|*> <timeout_ms>            prints "window\tL T R B\t<dpi>", then
//                                                            "<id>\t<class>\tL T R B\t<text
//                                                            width>" per visible child, in the
//                                                            window's coordinates; the text
//                                                            width is an edit's (else 0)
//   msgbox     <caption> <timeout_ms>                        prints "text\t<message>" and
//                                                            "icon\t<information|warning|
//                                                            question|error|none|unknown>"
//
// Exit code 0: done; 1: the condition did not hold within the timeout; 2: usage.
// Arguments come from the wide command line, so captions in any language match; output is
// UTF-8 with "\n" line ends.
#include <windows.h>
// Needs the types of <windows.h>.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "base/text.h"

namespace {

constexpr DWORD kPollMs = 50;
constexpr UINT kSendTimeoutMs = 2000;
constexpr int kUsage = 2;

// The message text of a box sits in a static with this id, on Windows and under Wine alike
// (the icon static's id differs between them, so it is found by its style).
constexpr int kMessageBoxTextId = 0xFFFF;

struct Query {
  std::wstring className;   // "*" matches any
  std::wstring caption;     // "*" matches any
};

void PrintUtf8(const std::wstring& text) {
  const std::string bytes = WideToUtf8(text) + '\n';
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? static_cast<size_t>(length) : 0);
}

// WM_GETTEXT rather than GetWindowText: across processes GetWindowText only returns the
// creation text of a control, not what an edit box holds now. A hung target times out.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length)) {
    return {};
  }
  if (length == 0 || length > 1 << 20) return {};
  std::vector<wchar_t> buffer(length + 1);
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                           reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &copied)) {
    return {};
  }
  return std::wstring(buffer.data(), copied < buffer.size() ? copied : length);
}

std::wstring HandleText(HWND window) {
  wchar_t text[32];
  std::swprintf(text, 32, L"0x%08lX",
                static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
  return text;
}

bool Matches(HWND window, const Query& query) {
  if (query.className != L"*" && lstrcmpiW(ClassOf(window).c_str(), query.className.c_str())) {
    return false;
  }
  return query.caption == L"*" || TextOf(window) == query.caption;
}

// The rows of a list box that keeps its strings (the system carries LB_GETTEXT across
// processes for such lists).
std::vector<std::wstring> RowsOf(HWND list) {
  std::vector<std::wstring> rows;
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count) ||
      static_cast<LRESULT>(count) == LB_ERR) {
    return rows;
  }
  for (WPARAM i = 0; i < count; ++i) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &length) ||
        static_cast<LRESULT>(length) == LB_ERR || length > 1 << 16) {
      break;
    }
    std::vector<wchar_t> buffer(length + 1);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied) ||
        static_cast<LRESULT>(copied) == LB_ERR) {
      break;
    }
    rows.emplace_back(buffer.data(), copied < buffer.size() ? copied : length);
  }
  return rows;
}

struct FindState {
  const Query* query;
  bool visibleOnly;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
  auto* state = reinterpret_cast<FindState*>(param);
  if (state->visibleOnly && !IsWindowVisible(window)) return TRUE;
  if (Matches(window, *state->query)) state->found.push_back(window);
  return TRUE;
}

std::vector<HWND> FindWindows(const Query& query, bool visibleOnly) {
  FindState state{&query, visibleOnly, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&state));
  return state.found;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
  reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
  return TRUE;
}

std::vector<HWND> ChildrenOf(HWND window) {
  std::vector<HWND> children;
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
  return children;
}

// Polls `probe` until it succeeds or `timeoutMs` has passed; it always runs at least once.
template <typename Probe>
bool WaitFor(DWORD timeoutMs, Probe probe) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (probe()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    Sleep(kPollMs);
  }
}

HWND WaitVisible(const Query& query, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitFor(timeoutMs, [&] {
    const auto windows = FindWindows(query, true);
    found = windows.empty() ? nullptr : windows.front();
    return found != nullptr;
  });
  return found;
}

std::wstring WithoutMnemonics(const std::wstring& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

bool ParseNumber(const std::wstring& text, long& value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  value = std::wcstol(text.c_str(), &end, 0);
  return end && *end == L'\0' && value >= 0;
}

int Wait(const Query& query, DWORD timeoutMs) {
  HWND window = WaitVisible(query, timeoutMs);
  if (!window) return 1;
  PrintUtf8(HandleText(window));
  return 0;
}

int Texts(const Query& query, DWORD timeoutMs) {
  HWND window = WaitVisible(query, timeoutMs);
  if (!window) return 1;
  PrintUtf8(L"window\t" + ClassOf(window) + L"\t" + TextOf(window));
  for (HWND child : ChildrenOf(window)) {
    const std::wstring prefix = std::to_wstring(GetDlgCtrlID(child)) + L"\t" + ClassOf(child);
    PrintUtf8(prefix + L"\t" + TextOf(child));
    // A list box's rows follow its own line, one line each under the same id.
    if (lstrcmpiW(ClassOf(child).c_str(), L"ListBox") == 0) {
      for (const std::wstring& row : RowsOf(child)) PrintUtf8(prefix + L"\t" + row);
    }
  }
  return 0;
}

int Click(const Query& query, const std::wstring& button, DWORD timeoutMs) {
  long wantedId = -1;
  if (button.size() > 1 && button[0] == L'#' && !ParseNumber(button.substr(1), wantedId)) {
    return kUsage;
  }
  HWND window = nullptr;
  HWND target = nullptr;
  const bool found = WaitFor(timeoutMs, [&] {
    const auto windows = FindWindows(query, true);
    if (windows.empty()) return false;
    window = windows.front();
    for (HWND child : ChildrenOf(window)) {
      const bool hit = wantedId >= 0 ? GetDlgCtrlID(child) == wantedId
                                     : lstrcmpiW(ClassOf(child).c_str(), L"Button") == 0 &&
                                           (TextOf(child) == button ||
                                            WithoutMnemonics(TextOf(child)) == button);
      if (hit) {
        target = child;
        return true;
      }
    }
    // A command id needs no control: message boxes and dialogs take IDOK / IDCANCEL as is.
    return wantedId >= 0;
  });
  if (!found) return 1;
  // A posted WM_COMMAND is what the button itself would send on a click; BM_CLICK needs the
  // target active and on screen, which a test cannot promise.
  HWND receiver = target ? GetParent(target) : window;
  const int id = target ? GetDlgCtrlID(target) : static_cast<int>(wantedId);
  if (!PostMessageW(receiver, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                    reinterpret_cast<LPARAM>(target))) {
    return 1;
  }
  PrintUtf8(HandleText(target ? target : window));
  return 0;
}

int Gone(const Query& query, DWORD timeoutMs) {
  return WaitFor(timeoutMs, [&] { return FindWindows(query, false).empty(); }) ? 0 : 1;
}

int Count(const Query& query) {
  PrintUtf8(std::to_wstring(FindWindows(query, false).size()));
  return 0;
}

int Foreground(const Query& query) {
  HWND front = GetForegroundWindow();
  bool inFront = false;
  for (HWND window : FindWindows(query, false)) {
    if (window == front || (IsWindowVisible(window) && !IsIconic(window))) inFront = true;
  }
  PrintUtf8(inFront ? L"1" : L"0");
  return inFront ? 0 : 1;
}

// The window's own close command, as the close box sends it.
int Close(const Query& query, DWORD timeoutMs) {
  const auto windows = [&] { return FindWindows(query, false); };
  HWND window = nullptr;
  if (!WaitFor(timeoutMs, [&] {
        const auto found = windows();
        window = found.empty() ? nullptr : found.front();
        return window != nullptr;
      })) {
    return 1;
  }
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  return 0;
}

int Hide(const Query& query, DWORD timeoutMs) {
  HWND window = WaitVisible(query, timeoutMs);
  if (!window) return 1;
  ShowWindow(window, SW_HIDE);
  return WaitFor(timeoutMs, [&] { return !IsWindowVisible(window); }) ? 0 : 1;
}

struct IconCandidate {
  LPCWSTR id;
  const wchar_t* name;
};

const IconCandidate kIconKinds[] = {{IDI_INFORMATION, L"information"},
                                    {IDI_WARNING, L"warning"},
                                    {IDI_QUESTION, L"question"},
                                    {IDI_ERROR, L"error"}};

// A 32-bit top-down surface of the static's size to draw or copy into.
struct Surface {
  Surface(HDC reference, int width, int height) : dc(CreateCompatibleDC(reference)) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* raw = nullptr;
    bitmap = CreateDIBSection(reference, &bmi, DIB_RGB_COLORS, &raw, nullptr, 0);
    bits = static_cast<DWORD*>(raw);
    if (dc && bitmap) previous = SelectObject(dc, bitmap);
  }
  ~Surface() {
    if (previous) SelectObject(dc, previous);
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
  }
  bool ok() const { return dc && bitmap && bits; }

  HDC dc;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  DWORD* bits = nullptr;
};

unsigned PixelDistance(DWORD a, DWORD b) {
  unsigned sum = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int da = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    sum += static_cast<unsigned>(da < 0 ? -da : da);
  }
  return sum;
}

// Where each process gets its own copy of the shared icons (Wine does), the handles never
// match and another process's icon cannot be read; what is on screen can. The static is copied
// from the screen and each candidate icon drawn the same way over the same background; the
// closest one wins, if it is close at all.
std::wstring IconKindOnScreen(HWND iconStatic) {
  RECT client = {};
  GetClientRect(iconStatic, &client);
  const int width = client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0 || width > 256 || height > 256) return L"unknown";
  POINT origin = {0, 0};
  ClientToScreen(iconStatic, &origin);
  HDC screen = GetDC(nullptr);
  Surface shot(screen, width, height);
  Surface drawn(screen, width, height);
  const bool copied = shot.ok() && drawn.ok() &&
                      BitBlt(shot.dc, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
  ReleaseDC(nullptr, screen);
  if (!copied) return L"unknown";
  GdiFlush();
  const size_t pixels = static_cast<size_t>(width) * height;
  // The shared icons are round or triangular: the corner shows the background.
  const DWORD background = shot.bits[0];
  const wchar_t* best = L"unknown";
  unsigned bestDistance = ~0u;
  for (const auto& kind : kIconKinds) {
    for (size_t i = 0; i < pixels; ++i) drawn.bits[i] = background;
    DrawIconEx(drawn.dc, 0, 0, LoadIconW(nullptr, kind.id), width, height, 0, nullptr, DI_NORMAL);
    GdiFlush();
    unsigned distance = 0;
    for (size_t i = 0; i < pixels; ++i) distance += PixelDistance(shot.bits[i], drawn.bits[i]);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = kind.name;
    }
  }
  // On average within a few levels per channel: anti-aliasing differences, not another icon.
  return bestDistance <= pixels * 3 * 8 ? best : L"unknown";
}

std::wstring IconKind(HWND box) {
  for (HWND child : ChildrenOf(box)) {
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
    DWORD_PTR shown = 0;
    if (!SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &shown) ||
        !shown) {
      return L"none";
    }
    for (const auto& kind : kIconKinds) {
      if (reinterpret_cast<DWORD_PTR>(LoadIconW(nullptr, kind.id)) == shown) return kind.name;
    }
    return IconKindOnScreen(child);
  }
  return L"none";
}

// "window L T R B" and "work L T R B": the window's rectangle and the work area of its monitor.
int Rect(const Query& query, DWORD timeoutMs) {
  HWND window = WaitVisible(query, timeoutMs);
  if (!window) return 1;
  RECT r = {};
  GetWindowRect(window, &r);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  auto line = [](const wchar_t* name, const RECT& rect) {
    return std::wstring(name) + L"\t" + std::to_wstring(rect.left) + L" " +
           std::to_wstring(rect.top) + L" " + std::to_wstring(rect.right) + L" " +
           std::to_wstring(rect.bottom);
  };
  PrintUtf8(line(L"window", r));
  PrintUtf8(line(L"work", monitor.rcWork));
  return 0;
}

std::wstring Numbers(const RECT& r) {
  return std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
         std::to_wstring(r.right) + L" " + std::to_wstring(r.bottom);
}

// How wide an edit control draws its text, first character to last (EM_POSFROMCHAR): the
// size of the font it draws with, seen from outside. 0 without two characters.
long TextExtentOf(HWND control) {
  if (ClassOf(control) != L"Edit") return 0;
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length) ||
      length < 2) {
    return 0;
  }
  DWORD_PTR first = 0, last = 0;
  if (!SendMessageTimeoutW(control, EM_POSFROMCHAR, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &first) ||
      !SendMessageTimeoutW(control, EM_POSFROMCHAR, length - 1, 0, SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &last)) {
    return 0;
  }
  return static_cast<short>(LOWORD(last)) - static_cast<short>(LOWORD(first));
}

int Layout(const Query& query, DWORD timeoutMs) {
  HWND window = WaitVisible(query, timeoutMs);
  if (!window) return 1;
  // What the window's code lays out against: its DPI (its monitor's, seen by the window).
  using DpiForWindowFn = UINT(WINAPI*)(HWND);
  const auto dpiForWindow = reinterpret_cast<DpiForWindowFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  RECT r = {};
  GetWindowRect(window, &r);
  PrintUtf8(L"window\t" + Numbers(r) + L"\t" +
            std::to_wstring(dpiForWindow ? dpiForWindow(window) : 0));
  for (HWND child : ChildrenOf(window)) {
    if (!IsWindowVisible(child)) continue;
    RECT at = {};
    GetWindowRect(child, &at);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&at), 2);
    PrintUtf8(std::to_wstring(GetDlgCtrlID(child)) + L"\t" + ClassOf(child) + L"\t" +
              Numbers(at) + L"\t" + std::to_wstring(TextExtentOf(child)));
  }
  return 0;
}

int MessageBoxInfo(const std::wstring& caption, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  HWND box = WaitVisible(Query{L"#32770", caption}, timeoutMs);
  if (!box) return 1;
  // A box just shown may not have painted its icon yet.
  std::wstring icon;
  const DWORD elapsed = GetTickCount() - start;
  WaitFor(elapsed < timeoutMs ? timeoutMs - elapsed : 0, [&] {
    icon = IconKind(box);
    return icon != L"unknown";
  });
  HWND text = GetDlgItem(box, kMessageBoxTextId);
  PrintUtf8(L"text\t" + (text ? TextOf(text) : std::wstring()));
  PrintUtf8(L"icon\t" + icon);
  return 0;
}

int Usage() {
  std::fputs(
      "usage: windriver wait|visible|texts|gone|close|hide|rect|layout <class|*> <caption|*> "
      "<timeout_ms>\n"
      "       windriver click <class|*> <caption|*> <button text|#id> <timeout_ms>\n"
      "       windriver count|foreground <class|*> <caption|*>\n"
      "       windriver msgbox <caption> <timeout_ms>\n",
      stderr);
  return kUsage;
}

int Dispatch(const std::vector<std::wstring>& args) {
  if (args.size() < 2) return Usage();
  const std::wstring& command = args[1];
  long timeout = 0;
  auto timeoutAt = [&](size_t index) {
    return args.size() == index + 1 && ParseNumber(args[index], timeout);
  };
  if (command == L"msgbox") {
    if (!timeoutAt(3)) return Usage();
    return MessageBoxInfo(args[2], static_cast<DWORD>(timeout));
  }
  if (args.size() < 4) return Usage();
  const Query query{args[2], args[3]};
  if (command == L"count" && args.size() == 4) return Count(query);
  if (command == L"foreground" && args.size() == 4) return Foreground(query);
  if (command == L"wait" && timeoutAt(4)) return Wait(query, static_cast<DWORD>(timeout));
  if (command == L"texts" && timeoutAt(4)) return Texts(query, static_cast<DWORD>(timeout));
  if (command == L"gone" && timeoutAt(4)) return Gone(query, static_cast<DWORD>(timeout));
  // "visible" is "wait" without the handle: a hidden window coming back.
  if (command == L"visible" && timeoutAt(4)) {
    return WaitVisible(query, static_cast<DWORD>(timeout)) ? 0 : 1;
  }
  if (command == L"close" && timeoutAt(4)) return Close(query, static_cast<DWORD>(timeout));
  if (command == L"hide" && timeoutAt(4)) return Hide(query, static_cast<DWORD>(timeout));
  if (command == L"rect" && timeoutAt(4)) return Rect(query, static_cast<DWORD>(timeout));
  if (command == L"layout" && timeoutAt(4)) return Layout(query, static_cast<DWORD>(timeout));
  if (command == L"click" && timeoutAt(5)) {
    return Click(query, args[4], static_cast<DWORD>(timeout));
  }
  return Usage();
}

}  // namespace

// Sees other programs' windows as they are on screen: a program that is not DPI aware gets
// rectangles scaled back to 96 DPI from the system.
void BecomeDpiAware() {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  using ContextFn = BOOL(WINAPI*)(HANDLE);
  using AwareFn = BOOL(WINAPI*)();
  if (const auto context = reinterpret_cast<ContextFn>(reinterpret_cast<void*>(
          GetProcAddress(user32, "SetProcessDpiAwarenessContext")))) {
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (context(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) return;
  }
  if (const auto aware = reinterpret_cast<AwareFn>(reinterpret_cast<void*>(
          GetProcAddress(user32, "SetProcessDPIAware")))) {
    aware();
  }
}

int main() {
  BecomeDpiAware();
  int count = 0;
  LPWSTR* raw = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!raw) return kUsage;
  std::vector<std::wstring> args(raw, raw + count);
  LocalFree(raw);
  return Dispatch(args);
}
