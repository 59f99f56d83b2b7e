// Dialogs: every window of the program is a real dialog ("#32770") built on the one empty dialog
// template, with its controls created in code during OnInitDialog.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "framework/window_win.h"
#include "resource.h"

class CDialog : public CWindow {
 public:
  static constexpr UINT kEmptyTemplateId = IDD_EMPTY;

  explicit CDialog(UINT templateId = kEmptyTemplateId);

  // Runs the dialog modally and returns the code given to EndDialog, or -1 when the dialog
  // could not be created. A null `owner` means the application's main window, if there is one.
  INT_PTR DoModal(HWND owner = nullptr);
  // Creates the dialog modeless (hidden unless the template says otherwise).
  bool Create(HWND owner = nullptr);
  // Ends a modal run with `code`; a modeless dialog is destroyed.
  void EndDialog(INT_PTR code);
  bool IsModal() const { return modal_; }

  // The empty template built in memory, used when the program's resources do not carry it (the
  // test binary has no resource script). Same styles and font as the resource.
  static std::vector<uint8_t> BuildEmptyTemplate();

  bool PreTranslateMessage(MSG& message) override;

 protected:
  // Return true to let the system give focus to the first tab stop.
  virtual bool OnInitDialog();
  // Enter (or the default button) and IDOK; the default ends the dialog with IDOK.
  virtual void OnOK();
  // Escape, the close box and IDCANCEL; the default ends the dialog with IDCANCEL.
  virtual void OnCancel();

  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  const DLGTEMPLATE* FindTemplate(HINSTANCE& module);
  HWND DefaultOwner() const;

  UINT templateId_;
  std::vector<uint8_t> builtTemplate_;
  bool modal_ = false;
};
