#include "app/user_shell_win.h"

#include <windows.h>
// After <windows.h>.
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>

#include <memory>

#include "service/online_update.h"

namespace {

struct ComReleaser {
  void operator()(IUnknown* object) const {
    if (object != nullptr) object->Release();
  }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComReleaser>;

template <typename T>
ComPtr<T> Query(IUnknown* from, REFIID iid) {
  void* out = nullptr;
  if (from == nullptr || FAILED(from->QueryInterface(iid, &out))) return nullptr;
  return ComPtr<T>(static_cast<T*>(out));
}

// The desktop's Shell.Application object, which lives in the user's Explorer (the SDK's
// "ExecInExplorer" sample walks the same way).
ComPtr<IShellDispatch2> DesktopShell() {
  void* found = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                              IID_IShellWindows, &found))) {
    return nullptr;
  }
  ComPtr<IShellWindows> windows(static_cast<IShellWindows*>(found));
  VARIANT location;
  VariantInit(&location);
  location.vt = VT_I4;
  location.lVal = CSIDL_DESKTOP;
  VARIANT root;
  VariantInit(&root);
  LONG window = 0;
  IDispatch* desktop = nullptr;
  if (windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                            &desktop) != S_OK) {
    return nullptr;
  }
  ComPtr<IDispatch> holdDesktop(desktop);
  auto provider = Query<IServiceProvider>(desktop, IID_IServiceProvider);
  if (!provider) return nullptr;
  void* browserOut = nullptr;
  if (FAILED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, &browserOut))) {
    return nullptr;
  }
  ComPtr<IShellBrowser> browser(static_cast<IShellBrowser*>(browserOut));
  IShellView* viewOut = nullptr;
  if (FAILED(browser->QueryActiveShellView(&viewOut))) return nullptr;
  ComPtr<IShellView> view(viewOut);
  void* backgroundOut = nullptr;
  if (FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, &backgroundOut))) {
    return nullptr;
  }
  ComPtr<IDispatch> background(static_cast<IDispatch*>(backgroundOut));
  auto folderView = Query<IShellFolderViewDual>(background.get(), IID_IShellFolderViewDual);
  IDispatch* application = nullptr;
  if (!folderView || FAILED(folderView->get_Application(&application))) return nullptr;
  ComPtr<IDispatch> holdApplication(application);
  return Query<IShellDispatch2>(application, IID_IShellDispatch2);
}

}  // namespace

bool OpenWebPageAsUser(const std::wstring& url) {
  // A control character or a blank could end the address and start something else.
  if (!IsWebAddress(url)) return false;
  for (const wchar_t c : url) {
    if (c <= L' ' || c == L'"' || c == 0x7F) return false;
  }
  const ComPtr<IShellDispatch2> shell = DesktopShell();
  if (!shell) return false;
  BSTR file = SysAllocStringLen(url.data(), static_cast<UINT>(url.size()));
  if (file == nullptr) return false;
  VARIANT none;
  VariantInit(&none);
  VARIANT operation;
  VariantInit(&operation);
  operation.vt = VT_BSTR;
  operation.bstrVal = SysAllocString(L"open");
  VARIANT show;
  VariantInit(&show);
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  const HRESULT result = shell->ShellExecute(file, none, none, operation, show);
  VariantClear(&operation);
  SysFreeString(file);
  return SUCCEEDED(result);
}
