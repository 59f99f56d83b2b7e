// KavrinSetup.dll: the installer's own plug-in (NSIS calls its functions with the installer's
// string stack), for what the script language cannot do safely by itself.
//
//   KavrinSetup::ProtectFolder <folder>       pushes "ok", "not-a-folder", "link-inside",
//                                             "not-secured", "not-ours" or "unsafe-parent"
//                                             (config/install_folder.h)
//   KavrinSetup::IsProgramRunning <program>   pushes "running", "idle", or "squatted" (idle,
//                                             but a user's object holds the program's name)
//   KavrinSetup::RegisterModule <module>      the binding module's own registration: pushes
//                                             "ok", "missing" or its result in hex
//   KavrinSetup::UnregisterModule <module>    its unregistration: "ok" when nothing of ours is
//                                             left in the catalogs, "missing", or the result
//
// The stack's layout is the plug-in interface's: a list of GlobalAlloc'd entries, each a link
// and the text, no longer than `string_size` characters.
#include <windows.h>

#include <string>

#include "app/instance_objects_win.h"
#include "config/install_folder.h"
#include "config/program_data_folder_win.h"

namespace {

struct StackEntry {
  StackEntry* next;
  wchar_t text[1];
};

std::wstring Pop(StackEntry** top) {
  if (top == nullptr || *top == nullptr) return {};
  StackEntry* entry = *top;
  std::wstring text = entry->text;
  *top = entry->next;
  GlobalFree(entry);
  return text;
}

void Push(StackEntry** top, int size, const std::wstring& text) {
  if (top == nullptr || size <= 0) return;
  auto* entry = static_cast<StackEntry*>(
      GlobalAlloc(GPTR, sizeof(StackEntry) + static_cast<size_t>(size) * sizeof(wchar_t)));
  if (entry == nullptr) return;
  lstrcpynW(entry->text, text.c_str(), size);
  entry->next = *top;
  *top = entry;
}

// NSIS hands over a path as the user typed it (the folder page, "/D="): separators at the end
// would make the folder's entries look like they are somewhere else.
std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

const wchar_t* ResultText(InstallFolderResult result) {
  switch (result) {
    case InstallFolderResult::kProtected:
      return L"ok";
    case InstallFolderResult::kNotAFolder:
      return L"not-a-folder";
    case InstallFolderResult::kLinkInside:
      return L"link-inside";
    case InstallFolderResult::kNotOurs:
      return L"not-ours";
    case InstallFolderResult::kUnsafeParent:
      return L"unsafe-parent";
    case InstallFolderResult::kNotSecured:
      break;
  }
  return L"not-secured";
}

// The module's registration entry `name`, called from the module at `path`; "missing" when it
// cannot be loaded or lacks the entry.
std::wstring CallModule(const std::wstring& path, const char* name, bool unregistering) {
  const HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) return L"missing";
  using Entry = HRESULT(__stdcall*)();
  const auto entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  const HRESULT result = entry != nullptr ? entry() : E_NOINTERFACE;
  FreeLibrary(module);
  if (entry == nullptr) return L"missing";
  // "Nothing of ours there" is what an unregistration wants to hear.
  if (result == S_OK || (unregistering && result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))) {
    return L"ok";
  }
  wchar_t text[16];
  wsprintfW(text, L"0x%08lX", static_cast<unsigned long>(result));
  return text;
}

}  // namespace

extern "C" {

__declspec(dllexport) void __cdecl RegisterModule(HWND, int size, wchar_t*, StackEntry** top,
                                                  void*) {
  Push(top, size, CallModule(Pop(top), "DllRegisterServer", false));
}

__declspec(dllexport) void __cdecl UnregisterModule(HWND, int size, wchar_t*, StackEntry** top,
                                                    void*) {
  Push(top, size, CallModule(Pop(top), "DllUnregisterServer", true));
}

__declspec(dllexport) void __cdecl ProtectFolder(HWND, int size, wchar_t*, StackEntry** top,
                                                 void*) {
  const std::wstring folder = WithoutTrailingSeparators(Pop(top));
  SystemFolderSecurity security;
  const InstallFolderResult result = folder.empty()
                                         ? InstallFolderResult::kNotAFolder
                                         : ProtectInstallFolder(security, folder);
  Push(top, size, ResultText(result));
}

__declspec(dllexport) void __cdecl IsProgramRunning(HWND, int size, wchar_t*, StackEntry** top,
                                                    void*) {
  const std::wstring program = Pop(top);
  bool squatted = false;
  const bool running = IsProgramRunning(program, squatted);
  Push(top, size, running ? L"running" : squatted ? L"squatted" : L"idle");
}

}  // extern "C"
