#include "framework/dialog_win.h"

#include <cstring>
#include <string_view>

#include "framework/application_win.h"
#include "framework/dpi_win.h"

namespace {

constexpr DWORD kEmptyTemplateStyle =
    DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
constexpr WORD kTemplateFontPoints = 9;
constexpr std::wstring_view kTemplateFont = L"MS Shell Dlg";

}  // namespace

CDialog::CDialog(UINT templateId) : templateId_(templateId) {}

std::vector<uint8_t> CDialog::BuildEmptyTemplate() {
  DLGTEMPLATE header = {};
  header.style = kEmptyTemplateStyle;
  header.cx = 10;
  header.cy = 10;
  // After the header: no menu, the predefined dialog class, an empty caption, then the font.
  std::vector<WORD> tail = {0, 0, 0, kTemplateFontPoints};
  tail.insert(tail.end(), kTemplateFont.begin(), kTemplateFont.end());
  tail.push_back(0);
  std::vector<uint8_t> out(sizeof(header) + tail.size() * sizeof(WORD));
  std::memcpy(out.data(), &header, sizeof(header));
  std::memcpy(out.data() + sizeof(header), tail.data(), tail.size() * sizeof(WORD));
  return out;
}

const DLGTEMPLATE* CDialog::FindTemplate(HINSTANCE& module) {
  const HINSTANCE candidates[] = {
      CApplication::Current() ? CApplication::Current()->Instance() : nullptr,
      GetModuleHandleW(nullptr)};
  for (HINSTANCE candidate : candidates) {
    if (!candidate) continue;
    HRSRC info = FindResourceW(candidate, MAKEINTRESOURCEW(templateId_), RT_DIALOG);
    if (!info) continue;
    HGLOBAL loaded = LoadResource(candidate, info);
    if (const void* data = loaded ? LockResource(loaded) : nullptr) {
      module = candidate;
      return static_cast<const DLGTEMPLATE*>(data);
    }
  }
  if (templateId_ != kEmptyTemplateId) return nullptr;
  if (builtTemplate_.empty()) builtTemplate_ = BuildEmptyTemplate();
  module = GetModuleHandleW(nullptr);
  return reinterpret_cast<const DLGTEMPLATE*>(builtTemplate_.data());
}

HWND CDialog::DefaultOwner() const {
  CApplication* app = CApplication::Current();
  CWindow* main = app ? app->MainWindow() : nullptr;
  if (!main || main == this || !main->hwnd()) return nullptr;
  // A dialog opened from a modal dialog of the main window must be owned by that dialog: if
  // it took the (disabled) main window instead, ending it would re-enable the main window
  // underneath the dialog that is still running.
  return GetLastActivePopup(main->hwnd());
}

INT_PTR CDialog::DoModal(HWND owner) {
  if (hwnd()) return -1;
  HINSTANCE module = nullptr;
  const DLGTEMPLATE* dialogTemplate = FindTemplate(module);
  if (!dialogTemplate) return -1;
  if (!owner) owner = DefaultOwner();
  modal_ = true;
  SetPendingAttach(this);
  const INT_PTR code = DialogBoxIndirectParamW(module, dialogTemplate, owner, DialogProc, 0);
  SetPendingAttach(nullptr);
  modal_ = false;
  return code;
}

bool CDialog::Create(HWND owner) {
  if (hwnd()) return false;
  HINSTANCE module = nullptr;
  const DLGTEMPLATE* dialogTemplate = FindTemplate(module);
  if (!dialogTemplate) return false;
  if (!owner) owner = DefaultOwner();
  modal_ = false;
  SetPendingAttach(this);
  HWND window = CreateDialogIndirectParamW(module, dialogTemplate, owner, DialogProc, 0);
  SetPendingAttach(nullptr);
  return window && window == hwnd();
}

void CDialog::EndDialog(INT_PTR code) {
  if (!hwnd()) return;
  if (modal_) {
    ::EndDialog(hwnd(), code);
  } else {
    DestroyWindow();
  }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT, WPARAM, LPARAM) {
  // The first message the dialog manager hands us takes the window over; from then on the
  // object's window procedure sees every message first, and only what it leaves alone comes
  // back here, to be left to the system's default dialog handling.
  if (!FromHandle(window)) AttachPending(window);
  return FALSE;
}

bool CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == WM_INITDIALOG) {
    KeepDialogFromScalingItself(hwnd());
    result = OnInitDialog() ? TRUE : FALSE;
    return true;
  }
  if (CWindow::HandleMessage(message, wParam, lParam, result)) return true;
  // Notification 0 is a click (or Enter / Escape from the dialog manager), 1 an accelerator.
  if (message == WM_COMMAND && HIWORD(wParam) <= 1) {
    if (LOWORD(wParam) == IDOK) {
      OnOK();
      return true;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      OnCancel();
      return true;
    }
  }
  return false;
}

bool CDialog::PreTranslateMessage(MSG& message) {
  return hwnd() && IsDialogMessageW(hwnd(), &message);
}

bool CDialog::OnInitDialog() { return true; }
void CDialog::OnOK() { EndDialog(IDOK); }
void CDialog::OnCancel() { EndDialog(IDCANCEL); }
