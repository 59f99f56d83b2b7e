// The server list of the policy dialog: the skinned report list with the speed column drawn as a
// quality picture beside its text, a notice in place of an empty list, and sorting by the
// controller's comparison of the servers the rows carry (item data = server id).
#pragma once

#include <functional>

#include "skin/skin_list_ctrl_win.h"

class CVpnServerListCtrl : public CSkinListCtrl {
 public:
  static constexpr int kSpeedColumn = 2;
  static constexpr COLORREF kNoticeColor = RGB(150, 150, 150);

  // Ascending order of two server ids in a column; negative when the first goes first.
  using Comparison = std::function<int(int32_t first, int32_t second, int column)>;

  void SetComparison(Comparison compare, std::function<void()> afterSort) {
    compare_ = std::move(compare);
    afterSort_ = std::move(afterSort);
  }

  void DrawSkinItem(const DRAWITEMSTRUCT& item) override;

 protected:
  int Compare(LPARAM first, LPARAM second) override;
  void AfterSort() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void DrawSpeedCell(const DRAWITEMSTRUCT& item);
  void DrawEmptyNotice();

  Comparison compare_;
  std::function<void()> afterSort_;
};
