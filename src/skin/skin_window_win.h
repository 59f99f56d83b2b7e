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
  const RECT& titleBand() const { return titleBand_; }
  HDC background() const { return backgroundDc_.get(); }
  // The DPI the frame is drawn for (its window's).
  int dpi() const;

  CSkinSystemButton& closeButton() { return close_; }
  CSkinSystemButton& minimizeButton() { return minimize_; }
  CSkinSystemButton& restoreButton() { return restore_; }
  CSkinSystemButton& maximizeButton() { return maximize_; }

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

  UniqueMemoryDc backgroundDc_;
  UniqueBitmap backgroundBitmap_;
  HGDIOBJ previousBitmap_ = nullptr;
  RECT client_ = {};
  RECT titleBand_ = {};
  CSkinSystemButtonClose close_;
  CSkinSystemButtonMinimize minimize_;
  CSkinSystemButtonRestore restore_;
  CSkinSystemButtonMaximize maximize_;
  WNDPROC previousProc_ = nullptr;
  HWND window_ = nullptr;
};
