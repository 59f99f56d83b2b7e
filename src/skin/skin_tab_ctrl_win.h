// A row of tabs along the top drawn from the "TabButton" parts, each with a caption, a picture
// and a page window that fills the framed body while its tab is selected. Optional windows of
// the owner sit at the left and right of the tab row.
#pragma once

#include <string>
#include <vector>

#include "skin/skin_geometry.h"
#include "skin/skin_wnd_win.h"

class CSkinTabCtrl : public CSkinWnd {
 public:
  struct Tab {
    std::wstring caption;
    std::string image;  // part name drawn at the tab's left
    HWND page = nullptr;
    SkinRect rect;
  };

  CSkinTabCtrl() : CSkinWnd("TabCtrl") {}

  // Inserts before `index` (-1 appends); returns the new tab's index.
  int InsertTab(int index, const std::wstring& caption, const std::string& image, HWND page);
  // Clamps to the tabs there are; hides the old page, shows the new one.
  void SelectTab(int index);
  int selected() const { return selected_; }
  int count() const { return static_cast<int>(tabs_.size()); }
  const Tab& tab(int index) const { return tabs_[static_cast<size_t>(index)]; }
  int tabHeight() const { return tabHeight_; }
  void SetLeftWindow(HWND window);
  void SetRightWindow(HWND window);
  // The body's inside, where pages go.
  RECT PageRect() const;

 protected:
  void Paint(HDC dc) override;
  bool OnSkinMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  void OnFirstMessage() override;

 private:
  void Layout();

  std::vector<Tab> tabs_;
  int selected_ = -1;
  int tabHeight_ = 20;
  HWND left_ = nullptr;
  HWND right_ = nullptr;
};
