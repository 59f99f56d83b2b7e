// e2e_input: what an end-to-end test needs beyond windriver to use a form of another process.
//
//   settext <caption> <control id> <text> <timeout_ms>   sets the text of a control of the first
//                                                        visible dialog with that caption
//   enabled <caption> <control id> <timeout_ms>          prints 1 or 0: whether the control of a
//                                                        visible dialog is enabled
//   post <caption> <message> <wparam> <lparam>           posts a message to the dialog with that
//                                                        caption, visible or hidden
//   shown <caption>                                      prints 1 when a dialog with that caption
//                                                        is visible, 0 when all are hidden
//   check <caption> <control id> <timeout_ms>            checks a radio button the way a click
//                                                        does: the others beside it are
//                                                        unchecked and its parent is told;
//                                                        fails for a disabled or hidden one
//   broadcast <message name>                             posts the registered message to every
//                                                        top-level window, as the shell does
//   hold <file> <ready file> <seconds>                   opens (or makes) the file the way an
//                                                        ordinary user can: shared for reading
//                                                        only, so nobody may rename or delete
//                                                        it; writes <ready file> once it holds,
//                                                        then keeps it that long
//   watch <caption> <ready file> <stop file> <interval>  sends the dialog (visible or hidden) an
//                                                        empty message, waits for its answer,
//                                                        rests the interval (ms), and again,
//                                                        creating the ready file after the first
//                                                        answer, until the stop file exists;
//                                                        then prints
//                                                        "longest <ms> at <ms> sends <n>" (the
//                                                        longest wait for an answer and when it
//                                                        began, from the first send) and a
//                                                        "slow <at> <ms>" line for each wait over
//                                                        100 ms. Fails when the window goes.
//
// Controls are found at any depth below the dialog.
//
// Numbers may be decimal or 0x hex. Exit code 0: done; 1: no such window or control within the
// timeout; 2: usage.
#include <windows.h>
// Needs the types of <windows.h>.
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD kPollMs = 50;
constexpr UINT kSendTimeoutMs = 2000;
constexpr int kUsage = 2;

HWND FindDialog(const std::wstring& caption, bool visibleOnly) {
  for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", caption.c_str()); w;
       w = FindWindowExW(nullptr, w, L"#32770", caption.c_str())) {
    if (!visibleOnly || IsWindowVisible(w)) return w;
  }
  return nullptr;
}

template <typename Try>
bool Poll(DWORD timeoutMs, Try attempt) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (attempt()) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(kPollMs);
  }
}

struct ChildSearch {
  int id;
  HWND found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM param) {
  auto* search = reinterpret_cast<ChildSearch*>(param);
  if (GetDlgCtrlID(child) != search->id) return TRUE;
  search->found = child;
  return FALSE;
}

HWND Control(const std::wstring& caption, int id) {
  HWND dialog = FindDialog(caption, true);
  if (!dialog) return nullptr;
  if (HWND direct = GetDlgItem(dialog, id)) return direct;
  ChildSearch search{id, nullptr};
  EnumChildWindows(dialog, MatchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool IsRadioButton(HWND window) {
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  const LONG_PTR type = GetWindowLongPtrW(window, GWL_STYLE) & BS_TYPEMASK;
  return lstrcmpiW(name, L"Button") == 0 && (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON);
}

LRESULT SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result);
  return static_cast<LRESULT>(result);
}

unsigned long Number(const wchar_t* text) { return std::wcstoul(text, nullptr, 0); }

double NowMs() {
  LARGE_INTEGER frequency = {};
  LARGE_INTEGER now = {};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int Watch(const std::wstring& caption, const std::wstring& readyFile, const std::wstring& stopFile,
          DWORD intervalMs) {
  HWND dialog = nullptr;
  if (!Poll(10000, [&] { return (dialog = FindDialog(caption, false)) != nullptr; })) return 1;
  constexpr UINT kAnswerLimitMs = 60000;
  constexpr double kSlowMs = 100;
  const double start = NowMs();
  double longest = 0;
  double longestAt = 0;
  unsigned long sends = 0;
  std::string slow;
  while (GetFileAttributesW(stopFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
    const double sent = NowMs();
    DWORD_PTR ignored = 0;
    const bool answered =
        SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerLimitMs, &ignored) != 0;
    const double waited = NowMs() - sent;
    if (!answered && !IsWindow(dialog)) {
      std::printf("window gone after %lu sends\n", sends);
      return 1;
    }
    if (++sends == 1) {
      const HANDLE ready = CreateFileW(readyFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
      if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    }
    if (waited > longest) {
      longest = waited;
      longestAt = sent - start;
    }
    if (waited > kSlowMs) {
      char line[64];
      std::snprintf(line, sizeof line, "slow %.0f %.0f\n", sent - start, waited);
      slow += line;
    }
    Sleep(intervalMs);
  }
  std::printf("longest %.0f at %.0f sends %lu\n%s", longest, longestAt, sends, slow.c_str());
  return 0;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv || argc < 2) return kUsage;
  const std::wstring command = argv[1];
  if (command == L"settext" && argc == 6) {
    const int id = static_cast<int>(Number(argv[3]));
    const std::wstring text = argv[4];
    return Poll(static_cast<DWORD>(Number(argv[5])),
                [&] {
                  HWND control = Control(argv[2], id);
                  DWORD_PTR ignored = 0;
                  return control &&
                         SendMessageTimeoutW(control, WM_SETTEXT, 0,
                                             reinterpret_cast<LPARAM>(text.c_str()),
                                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored) != 0;
                })
               ? 0
               : 1;
  }
  if (command == L"enabled" && argc == 5) {
    HWND control = nullptr;
    const int id = static_cast<int>(Number(argv[3]));
    if (!Poll(static_cast<DWORD>(Number(argv[4])),
              [&] { return (control = Control(argv[2], id)) != nullptr; })) {
      return 1;
    }
    std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
    return 0;
  }
  if (command == L"post" && argc == 6) {
    HWND dialog = FindDialog(argv[2], false);
    if (!dialog) return 1;
    return PostMessageW(dialog, static_cast<UINT>(Number(argv[3])),
                        static_cast<WPARAM>(Number(argv[4])), static_cast<LPARAM>(Number(argv[5])))
               ? 0
               : 1;
  }
  if (command == L"check" && argc == 5) {
    HWND button = nullptr;
    const int id = static_cast<int>(Number(argv[3]));
    if (!Poll(static_cast<DWORD>(Number(argv[4])),
              [&] { return (button = Control(argv[2], id)) != nullptr; })) {
      return 1;
    }
    if (!IsRadioButton(button) || !IsWindowEnabled(button) || !IsWindowVisible(button)) return 1;
    HWND parent = GetParent(button);
    for (HWND other = GetWindow(parent, GW_CHILD); other; other = GetWindow(other, GW_HWNDNEXT)) {
      if (other != button && IsRadioButton(other)) SendWithin(other, BM_SETCHECK, BST_UNCHECKED, 0);
    }
    SendWithin(button, BM_SETCHECK, BST_CHECKED, 0);
    SendWithin(parent, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return 0;
  }
  if (command == L"broadcast" && argc == 3) {
    const UINT message = RegisterWindowMessageW(argv[2]);
    return message != 0 && PostMessageW(HWND_BROADCAST, message, 0, 0) ? 0 : 1;
  }
  if (command == L"hold" && argc == 5) {
    HANDLE held = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    HANDLE ready = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    Sleep(static_cast<DWORD>(Number(argv[4]) * 1000));
    CloseHandle(held);
    return 0;
  }
  if (command == L"watch" && argc == 6) {
    return Watch(argv[2], argv[3], argv[4], static_cast<DWORD>(Number(argv[5])));
  }
  if (command == L"shown" && argc == 3) {
    if (!FindDialog(argv[2], false)) return 1;
    std::printf("%d\n", FindDialog(argv[2], true) ? 1 : 0);
    return 0;
  }
  return kUsage;
}
