// The frame's own close, minimize, restore and maximize buttons: skinned buttons whose style is
// the image base ("SystemButtonClose", ...), sized to their picture.
#pragma once

#include "skin/skin_button_win.h"

class CSkinSystemButton : public CSkinButton {
 public:
  // The system command the frame sends when the button is clicked.
  virtual UINT SystemCommand() const = 0;

  // Created 10 by 10 and then sized to the picture; without a picture it stays 10 by 10 and
  // draws nothing.
  bool CreateSystemButton(HWND frame, UINT id);

 protected:
  explicit CSkinSystemButton(std::string base) : CSkinButton(std::move(base)) {}
};

class CSkinSystemButtonClose : public CSkinSystemButton {
 public:
  CSkinSystemButtonClose() : CSkinSystemButton("SystemButtonClose") {}
  UINT SystemCommand() const override { return SC_CLOSE; }
};

class CSkinSystemButtonMinimize : public CSkinSystemButton {
 public:
  CSkinSystemButtonMinimize() : CSkinSystemButton("SystemButtonMinimize") {}
  UINT SystemCommand() const override { return SC_MINIMIZE; }
};

class CSkinSystemButtonRestore : public CSkinSystemButton {
 public:
  CSkinSystemButtonRestore() : CSkinSystemButton("SystemButtonRestore") {}
  UINT SystemCommand() const override { return SC_RESTORE; }
};

class CSkinSystemButtonMaximize : public CSkinSystemButton {
 public:
  CSkinSystemButtonMaximize() : CSkinSystemButton("SystemButtonMaximize") {}
  UINT SystemCommand() const override { return SC_MAXIMIZE; }
};
