// The skinned frame of a top-level dialog: takes the window over (no system frame, a rounded
// shape), paints frame and background from the "WindowPicture" parts, draws the title, places
// its own system buttons and lets the title band drag the window.
//
// A dialog owns one as a member, sets its attributes ("CloseBox", "MaximizeBox", "MinimizeBox",
// "CustomBackground", "Title", "Font") and attaches it while initialising.
#pragma once

#include <windows.h>

#include <memory>

#include "base/unique_handle_win.h"
#include "skin/skin_attributes.h"
#include "skin/skin_system_button_win.h"

class CSkinWindow : public CSkinAttributes {
 public:
  CSkinWindow() = default;
  CSkinWindow(const CSkinWindow&) = delete;
  CSkinWindow& operator=(const CSkinWindow&) = delete;
  ~CSkinWindow() override;

  bool Attach(HWND window);
  HWND hwnd() const { return window_; }

  static CSkinWindow* FromHandle(HWND window);

  // Title band in client coordinates (what drags the window).
  const RECT& title_band() const { return title_band_; }
  HDC background() const { return background_dc_.get(); }

  CSkinSystemButton& close_button() { return close_; }
  CSkinSystemButton& minimize_button() { return minimize_; }
  CSkinSystemButton& restore_button() { return restore_; }
  CSkinSystemButton& maximize_button() { return maximize_; }

 protected:
  virtual LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam);
  // True when the frame answered the message (in `result`).
  virtual bool Filter(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  virtual void Layout();

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void RenderBackground(int width, int height);
  void Detach();
  bool IsFlag(const char* name) const { return FindInt(name, "", 1) != 0; }

  UniqueMemoryDc background_dc_;
  UniqueBitmap background_bitmap_;
  HGDIOBJ previous_bitmap_ = nullptr;
  RECT client_ = {};
  RECT title_band_ = {};
  CSkinSystemButtonClose close_;
  CSkinSystemButtonMinimize minimize_;
  CSkinSystemButtonRestore restore_;
  CSkinSystemButtonMaximize maximize_;
  WNDPROC previous_proc_ = nullptr;
  HWND window_ = nullptr;
};
