#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "framework/dialog_win.h"
#include "skin/busy_bar_win.h"
#include "skin/skin_button_win.h"
#include "skin/skin_check_box_win.h"
#include "skin/skin_list_ctrl_win.h"
#include "skin/skin_registry_win.h"
#include "skin/skin_scrollbar_win.h"
#include "skin/skin_startup_table.h"
#include "skin/skin_startup_win.h"
#include "skin/skin_tab_ctrl_win.h"
#include "skin/skin_window_win.h"
#include "test_skin_win.h"

namespace {

CSkinRegistry& Skin() { return TestSkin(); }

// A plain top-level window (no skinned frame) to host controls; it passes owner-draw requests
// back to the controls like a skinned frame does.
class CHost : public CWindow {
 public:
  explicit CHost(bool visible = false) {
    Create(0, nullptr, L"host", WS_POPUP | (visible ? WS_VISIBLE : 0), RECT{0, 0, 400, 300},
           nullptr, 0);
  }

 protected:
  bool OnMessage(UINT message, WPARAM, LPARAM lParam, LRESULT& result) override {
    if (message == WM_DRAWITEM && ReflectSkinDrawItem(lParam)) {
      result = TRUE;
      return true;
    }
    return false;
  }
};

// A bitmap the size of `window` to draw into, or holding what the window shows on screen.
class Snapshot {
 public:
  explicit Snapshot(HWND window, bool fromScreen = false) {
    RECT r;
    GetClientRect(window, &r);
    WindowDc screen(window);
    dc_.reset(CreateCompatibleDC(screen.get()));
    bitmap_.reset(CreateCompatibleBitmap(screen.get(), r.right, r.bottom));
    old_ = SelectObject(dc_.get(), bitmap_.get());
    if (fromScreen) BitBlt(dc_.get(), 0, 0, r.right, r.bottom, screen.get(), 0, 0, SRCCOPY);
  }
  ~Snapshot() { SelectObject(dc_.get(), old_); }
  HDC dc() const { return dc_.get(); }
  COLORREF At(int x, int y) const { return GetPixel(dc_.get(), x, y); }

 private:
  UniqueMemoryDc dc_;
  UniqueBitmap bitmap_;
  HGDIOBJ old_ = nullptr;
};

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// Draws an owner-draw control straight into a memory bitmap through its own item routine.
template <typename Control>
std::unique_ptr<Snapshot> DrawItem(Control& control, UINT state = 0) {
  auto shot = std::make_unique<Snapshot>(control.hwnd());
  DRAWITEMSTRUCT item = {};
  item.CtlType = ODT_BUTTON;
  item.hwndItem = control.hwnd();
  item.hDC = shot->dc();
  item.itemState = state;
  GetClientRect(control.hwnd(), &item.rcItem);
  control.DrawSkinItem(item);
  return shot;
}

int CountPixels(const Snapshot& shot, const RECT& area, COLORREF colour) {
  int count = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) count += shot.At(x, y) == colour;
  }
  return count;
}

TEST(SkinRegistryWin, StartupImagesDecodeWithTheirSizes) {
  CSkinRegistry& skin = Skin();
  ASSERT_EQ(skin.imageCount(), 19);
  EXPECT_EQ(skin.ImageSize(2).width, 326);
  EXPECT_EQ(skin.ImageSize(4).height, 56);  // the 24-bit BMP
  EXPECT_EQ(skin.FindPart("WindowPictureBottom").right, 114);
  EXPECT_EQ(skin.FindPart("IconSpeedTest", "Good").image, 18);
  EXPECT_TRUE(skin.FindPart("SystemButtonMaximize").IsEmpty());
  EXPECT_NE(skin.FindObject("LinkButtonFont", "Disabled"), nullptr);
  EXPECT_EQ(skin.FindObject("LinkButtonFont", "Disabled"), skin.FindObject("LinkButtonFont"));
  EXPECT_EQ(skin.FindObject("NoSuchFont", "", nullptr), nullptr);
}

// The larger artwork sets come with every picture, on the same grid, and fonts are made for
// any DPI from the same description.
TEST(SkinRegistryWin, LargerSetsAndFontsFollowTheDpi) {
  CSkinRegistry& skin = Skin();
  int index = 0;
  for (const SkinStartupImage& image : SkinStartupImages()) {
    EXPECT_EQ(skin.ImageScales(index), (std::vector<int32_t>{100, 150, 200})) << image.file;
    for (int32_t percent : {150, 200}) {
      EXPECT_EQ(skin.ImageSize(index, percent), ArtworkSizeForScale(image, percent))
          << image.file << " at " << percent;
    }
    ++index;
  }
  const auto height = [](HFONT font) {
    LOGFONTW described = {};
    GetObjectW(font, sizeof(described), &described);
    return described.lfHeight;
  };
  HFONT base = skin.FindFont("ButtonFont");
  HFONT large = skin.FindFont("ButtonFont", {}, nullptr, 144);
  EXPECT_EQ(height(base), -14);
  EXPECT_EQ(height(large), -21);
  EXPECT_EQ(skin.FindFont("CancelButtonFont", {}, nullptr, 144), large);  // one font, two names
  EXPECT_EQ(skin.FontForDpi(large, 96), base);
  EXPECT_EQ(skin.FontForDpi(large, 192), skin.FindFont("ButtonFont", {}, nullptr, 192));
  HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  EXPECT_EQ(skin.FontForDpi(stock, 192), stock);
}

TEST(SkinRegistryWin, UndecodableBytesStillTakeAnIndexWithEmptyParts) {
  CSkinRegistry registry;
  const char junk[] = "not an image";
  EXPECT_EQ(registry.RegisterImageBytes(junk, sizeof(junk), "Junk,0/2\n"), 0);
  EXPECT_EQ(registry.FindPart("Junk").Width(), 0);
  EXPECT_EQ(registry.RegisterImageBytes(nullptr, 0, "Nothing\n"), -1);
  EXPECT_EQ(registry.imageCount(), 1);
}

TEST(SkinRegistryWin, AlphaPartsBlendOverWhatIsThere) {
  CSkinRegistry& skin = Skin();
  CHost host;
  Snapshot shot(host.hwnd());
  RECT all = {0, 0, 16, 16};
  FillRect(shot.dc(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  ASSERT_TRUE(skin.DrawPart("FlagChina", "", shot.dc(), RECT{0, 0, 0, 0}, 96));
  EXPECT_GE(GetGValue(shot.At(8, 0)), 250);  // the transparent edge kept the white
  EXPECT_GE(GetBValue(shot.At(8, 0)), 250);
  EXPECT_GT(GetRValue(shot.At(8, 10)), 180);      // red field
  EXPECT_FALSE(skin.DrawPart("IconSpeedTest", "Unknown", shot.dc(), RECT{0, 0, 0, 0}, 96));
  // At 120 DPI the 150 % flag is shrunk to 20 pixels: red to the new edge, white past it.
  RECT wider = {0, 0, 32, 32};
  FillRect(shot.dc(), &wider, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  ASSERT_TRUE(skin.DrawPart("FlagChina", "", shot.dc(), RECT{0, 0, 0, 0}, 120));
  EXPECT_GT(GetRValue(shot.At(18, 12)), 180);
  EXPECT_LT(GetGValue(shot.At(18, 12)), 120);
  EXPECT_GE(GetGValue(shot.At(22, 12)), 250);
}

TEST(SkinButtonWin, HoveredLinkButtonDrawsOrangeUnderlinedText) {
  Skin();
  CHost host;
  CSkinButton link("LinkButton");
  ASSERT_TRUE(link.Create(host.hwnd(), RECT{10, 10, 200, 30}, 1040, L"\u5fd8\u8bb0\u5bc6\u7801"));
  const RECT all = {0, 0, 190, 20};
  EXPECT_EQ(CountPixels(*DrawItem(link), all, RGB(234, 83, 4)), 0);
  link.SetHovered(true);
  const auto hovered = DrawItem(link);
  EXPECT_GT(CountPixels(*hovered, all, RGB(234, 83, 4)), 20);
  // Left-aligned: nothing orange in the right half.
  EXPECT_EQ(CountPixels(*hovered, RECT{120, 0, 190, 20}, RGB(234, 83, 4)), 0);
  EXPECT_EQ(reinterpret_cast<intptr_t>(LoadCursorW(nullptr, IDC_HAND)),
            link.ResolveInt("Cursor", "", 0));
}

TEST(SkinButtonWin, PushingShiftsTheIconAndCancelIsItsOwnStyle) {
  Skin();
  CHost host;
  // A style without pictures, so that only the icon differs between the two drawings.
  CSkinButton button("Plain");
  ASSERT_TRUE(button.Create(host.hwnd(), RECT{0, 0, 100, 27}, 1003, L""));
  button.TextAttribute("Icon") = L"IconConnect";
  const auto up = DrawItem(button);
  const auto down = DrawItem(button, ODS_SELECTED);
  // The icon (18 px, centred) moved one pixel right and down.
  int same = 0;
  for (int y = 5; y < 22; ++y) {
    for (int x = 41; x < 58; ++x) same += up->At(x, y) == down->At(x + 1, y + 1);
  }
  EXPECT_GT(same, 17 * 17 * 3 / 4);
  CSkinButton cancel, ok;
  ASSERT_TRUE(cancel.Create(host.hwnd(), RECT{0, 30, 100, 57}, IDCANCEL, L""));
  ASSERT_TRUE(ok.Create(host.hwnd(), RECT{0, 60, 100, 87}, IDOK, L""));
  EXPECT_EQ(cancel.style(), "CancelButton");
  EXPECT_EQ(ok.style(), "Button");
}

TEST(SkinCheckBoxWin, KeepsTheStateBmSetCheckStores) {
  Skin();
  CHost host;
  CSkinCheckBox box;
  ASSERT_TRUE(box.Create(host.hwnd(), RECT{10, 10, 110, 25}, 1008, L"\u8bb0\u4f4f"));
  EXPECT_EQ(GetWindowLongPtrW(box.hwnd(), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
  EXPECT_EQ(SendMessageW(box.hwnd(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(SendMessageW(box.hwnd(), BM_SETCHECK, BST_CHECKED, 0), 0);
  EXPECT_EQ(SendMessageW(box.hwnd(), BM_GETCHECK, 0, 0), BST_CHECKED);
  SendMessageW(box.hwnd(), WM_KEYUP, VK_SPACE, 0);
  EXPECT_EQ(SendMessageW(box.hwnd(), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  // The box picture follows the stored state (checked is filled blue).
  SendMessageW(box.hwnd(), BM_SETCHECK, BST_CHECKED, 0);
  EXPECT_LT(GetRValue(DrawItem(box)->At(6, 3)), 120);
}

// One 120-pixel column and `rows` empty rows.
void AddColumnAndRows(HWND list, int rows) {
  LVCOLUMNW column = {};
  column.mask = LVCF_WIDTH;
  column.cx = 120;
  SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  for (int row = 0; row < rows; ++row) {
    LVITEMW item = {};
    item.iItem = row;
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
}

TEST(SkinListCtrlWin, RowsAlternateStartingLightBlue) {
  Skin();
  CHost host;
  CSkinListCtrl list;
  ASSERT_TRUE(list.Create(host.hwnd(), RECT{0, 0, 300, 200}, 1022));
  AddColumnAndRows(list.hwnd(), 3);
  Snapshot shot(list.hwnd());
  for (int row = 0; row < 2; ++row) {
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_LISTVIEW;
    item.itemID = static_cast<UINT>(row);
    item.hwndItem = list.hwnd();
    item.hDC = shot.dc();
    item.rcItem = RECT{0, row * 20, 300, row * 20 + 20};
    list.DrawSkinItem(item);
  }
  EXPECT_EQ(shot.At(40, 10), RGB(232, 239, 248));
  EXPECT_EQ(shot.At(40, 30), RGB(255, 255, 255));
  EXPECT_EQ(shot.At(250, 10), RGB(232, 239, 248));  // the last column reaches the right edge
}

TEST(SkinListCtrlWin, HeaderClicksReverseTheSameColumn) {
  Skin();
  CHost host;
  CSkinListCtrl list;
  ASSERT_TRUE(list.Create(host.hwnd(), RECT{0, 0, 300, 200}, 1022));
  list.SortColumn(0);
  EXPECT_EQ(list.sortDirection(), -1);
  list.SortColumn(2);
  EXPECT_EQ(list.sortColumn(), 2);
  EXPECT_EQ(list.sortDirection(), 1);
  list.ResetSort();
  EXPECT_EQ(list.sortColumn(), 0);
}

// The skinned bar standing over `list`'s system bar (a sibling of the list).
CSkinScrollbar* SkinnedBar(HWND list, bool vertical) {
  for (HWND child = GetWindow(GetParent(list), GW_CHILD); child;
       child = GetWindow(child, GW_HWNDNEXT)) {
    auto* bar = dynamic_cast<CSkinScrollbar*>(CWindow::FromHandle(child));
    if (bar && bar->vertical() == vertical) return bar;
  }
  return nullptr;
}

TEST(SkinListCtrlWin, ThumbDragScrollsTheListAndTheBarHidesWithIt) {
  Skin();
  CHost host(true);
  CSkinListCtrl list;
  ASSERT_TRUE(list.Create(host.hwnd(), RECT{0, 0, 300, 200}, 1022));
  AddColumnAndRows(list.hwnd(), 100);
  CSkinScrollbar* bar = SkinnedBar(list.hwnd(), true);
  ASSERT_NE(bar, nullptr);
  ASSERT_TRUE(IsWindowVisible(bar->hwnd()));
  const auto thumb = bar->Measure().thumb;
  ASSERT_TRUE(thumb.has_value());
  const int x = (thumb->left + thumb->right) / 2;
  const int y = (thumb->top + thumb->bottom) / 2;
  SendMessageW(bar->hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
  SendMessageW(bar->hwnd(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y + 60));
  const LRESULT top = SendMessageW(list.hwnd(), LVM_GETTOPINDEX, 0, 0);
  EXPECT_GT(top, 0);
  SendMessageW(bar->hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(x, y + 60));
  EXPECT_EQ(SendMessageW(list.hwnd(), LVM_GETTOPINDEX, 0, 0), top) << "letting go keeps it";
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_POS;
  GetScrollInfo(list.hwnd(), SB_VERT, &info);
  EXPECT_EQ(info.nPos, top);

  list.Hide();
  EXPECT_FALSE(IsWindowVisible(bar->hwnd()));
  list.Show();
  EXPECT_TRUE(IsWindowVisible(bar->hwnd()));
}

TEST(SkinTabCtrlWin, SelectionClampsAndSwitchesPages) {
  Skin();
  CHost host;
  CSkinTabCtrl tabs;
  ASSERT_TRUE(tabs.Create(host.hwnd(), RECT{0, 0, 300, 200}, 1032, L""));
  EXPECT_EQ(tabs.tabHeight(), TabHeightForDpi(GetDeviceCaps(WindowDc(nullptr).get(), LOGPIXELSY)));
  CWindow first, second;
  first.Create(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}, tabs.hwnd(), 0);
  second.Create(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}, tabs.hwnd(), 0);
  tabs.InsertTab(-1, L"A", "FlagChina", first.hwnd());
  tabs.InsertTab(-1, L"B", "FlagUSA", second.hwnd());
  tabs.InsertTab(-1, L"C", "FlagAsia", second.hwnd());
  EXPECT_EQ(tabs.selected(), -1);
  tabs.SelectTab(0);
  auto shown = [](const CWindow& w) { return (GetWindowLongPtrW(w.hwnd(), GWL_STYLE) & WS_VISIBLE) != 0; };
  EXPECT_TRUE(shown(first));
  tabs.SelectTab(5);
  EXPECT_EQ(tabs.selected(), 2);
  EXPECT_FALSE(shown(first));
  EXPECT_TRUE(shown(second));
}

class CFramedDialog : public CDialog {
 public:
  CSkinWindow frame;
  bool boxes = true;

 protected:
  bool OnInitDialog() override {
    if (!boxes) {
      frame.IntAttribute("MaximizeBox") = 0;
      frame.IntAttribute("CloseBox") = 0;
      frame.IntAttribute("MinimizeBox") = 0;
    }
    frame.Attach(hwnd());
    ::SetWindowPos(hwnd(), nullptr, 0, 0, 400, 300, SWP_NOZORDER | SWP_NOMOVE);
    return true;
  }
};

TEST(SkinWindowWin, SystemButtonsAndTitleBand) {
  Skin();
  CFramedDialog plain;
  plain.boxes = false;
  ASSERT_TRUE(plain.Create());
  EXPECT_EQ(plain.frame.titleBand().right, 392);
  EXPECT_EQ(plain.frame.closeButton().hwnd(), nullptr);

  CFramedDialog full;
  ASSERT_TRUE(full.Create());
  const RECT close = WindowRectInParent(full.frame.closeButton().hwnd());
  EXPECT_EQ(close.right, 392);
  EXPECT_EQ(close.right - close.left, 29);
  const RECT minimize = WindowRectInParent(full.frame.minimizeButton().hwnd());
  EXPECT_LT(minimize.left, close.left);
  EXPECT_EQ(full.frame.titleBand().right, minimize.left);
  // Dragging works from the title band, clicks below reach the dialog.
  POINT inBand = {60, 10}, below = {60, 100};
  ClientToScreen(full.hwnd(), &inBand);
  ClientToScreen(full.hwnd(), &below);
  EXPECT_EQ(SendMessageW(full.hwnd(), WM_NCHITTEST, 0, MAKELPARAM(inBand.x, inBand.y)), HTCAPTION);
  EXPECT_EQ(SendMessageW(full.hwnd(), WM_NCHITTEST, 0, MAKELPARAM(below.x, below.y)), HTCLIENT);
  EXPECT_EQ(SendMessageW(full.hwnd(), WM_GETFONT, 0, 0),
            reinterpret_cast<LRESULT>(Skin().FindObject("DefaultFont")));
  full.DestroyWindow();
  plain.DestroyWindow();
}

TEST(BusyBarWin, MessagesTimerAndEmptyWhenDisabled) {
  ASSERT_TRUE(RegisterBusyBarClass(GetModuleHandleW(nullptr)));
  CHost host(true);
  HWND bar = CreateWindowExW(0, kBusyBarClassName, L"", WS_CHILD | WS_VISIBLE | kBusyBarClassicStyle,
                             0, 0, 304, 24, host.hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(GetClassLongW(bar, GCL_STYLE), DWORD{CS_VREDRAW | CS_HREDRAW | CS_GLOBALCLASS});
  EXPECT_EQ(SendMessageW(bar, kBusyBarGetInterval, 0, 0), 30);
  EXPECT_EQ(SendMessageW(bar, kBusyBarGetBlockCount, 0, 0), 20);
  EXPECT_EQ(SendMessageW(bar, kBusyBarSetBlockCount, 0, 0), 0);
  EXPECT_EQ(SendMessageW(bar, kBusyBarSetBlockCount, 21, 0), 0);
  EXPECT_EQ(SendMessageW(bar, kBusyBarGetBlockCount, 0, 0), 20);
  EXPECT_EQ(SendMessageW(bar, kBusyBarSetBlockCount, 1, 0), 1);
  EXPECT_EQ(SendMessageW(bar, kBusyBarSetBlockCount, 20, 0), 1);

  const DWORD until = GetTickCount() + 400;
  while (BusyBarStep(bar) < 3 && GetTickCount() < until) {
    Pump();
    Sleep(5);
  }
  EXPECT_GE(BusyBarStep(bar), 3u);
  const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
  const RECT content = {2, 2, 302, 22};
  {
    UpdateWindow(bar);
    Snapshot running(bar, true);
    EXPECT_GT(CountPixels(running, content, highlight), 0);
  }
  EnableWindow(bar, FALSE);
  EXPECT_EQ(BusyBarStep(bar), 0u);
  Snapshot stopped(bar, true);
  EXPECT_EQ(CountPixels(stopped, content, highlight), 0);
  EXPECT_EQ(stopped.At(150, 12), GetSysColor(COLOR_BTNFACE));
  DestroyWindow(bar);
}

}  // namespace
