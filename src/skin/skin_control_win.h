// The shared part of every skinned control: its style name (the base of the part, font and
// attribute names it looks up), its own attribute set, hover tracking and cursor, and the
// background protocol with its parent.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "framework/dpi_win.h"
#include "framework/window_win.h"
#include "skin/skin_attributes.h"
#include "skin/skin_registry_win.h"

// Sent by a skinned control to its parent: paint what lies under the control (lParam) onto the
// surface (wParam); the answer is 1 when the parent did.
constexpr UINT kSkinPaintBackgroundMessage = 0x07FD;

// Controls the system asks their parent to draw (owner-draw buttons, statics and list views)
// draw themselves; a parent passes WM_DRAWITEM on with ReflectSkinDrawItem.
class ISkinItemDrawer {
 public:
  virtual ~ISkinItemDrawer() = default;
  virtual void DrawSkinItem(const DRAWITEMSTRUCT& item) = 0;
};

// True when the item belongs to a skinned control, which has then drawn it.
bool ReflectSkinDrawItem(LPARAM drawItem);

// Fills `dc` (in the control's client coordinates) with what the parent shows under `control`:
// the background message first, the parent's erase with its origin shifted under the control
// when the parent does not know it.
void PaintParentBackground(HWND control, HDC dc);

// The dotted focus rectangle round `around` when the item has the focus and the window shows
// keyboard cues.
void DrawSkinFocus(HDC dc, const DRAWITEMSTRUCT& item, const RECT& around);

// The control's rectangle in its parent's client coordinates.
RECT WindowRectInParent(HWND window);

template <class TWindow = CWindow>
class CSkinControl : public TWindow, public CSkinAttributes {
 public:
  const std::string& style() const { return style_; }
  void SetStyle(std::string style) { style_ = std::move(style); }
  bool hovered() const { return hovered_ != 0; }
  // The DPI the control is drawn for (its window's).
  int dpi() const { return WindowDpi(this->hwnd()); }
  int Scale(int value) const { return ScaleForDpi(value, dpi()); }

  int32_t ResolveInt(std::string_view name, std::string_view suffix, int32_t fallback) const {
    return CSkinAttributes::ResolveInt(CSkinRegistry::Instance().attributes(), style_, name,
                                       suffix, fallback);
  }
  std::wstring ResolveText(std::string_view name, std::string_view suffix,
                           std::wstring_view fallback) const {
    return CSkinAttributes::ResolveText(CSkinRegistry::Instance().attributes(), style_, name,
                                        suffix, fallback);
  }
  // style + "Font" + suffix, style + "Font", else the control's current font; at its DPI.
  HFONT ResolveFont(std::string_view suffix) const {
    HFONT current = reinterpret_cast<HFONT>(::SendMessageW(this->hwnd(), WM_GETFONT, 0, 0));
    return CSkinRegistry::Instance().FindFont(SkinName(style_, "Font"), suffix, current, dpi());
  }
  // The part of the "Icon" attribute: its name + suffix, else the name alone; may be empty.
  const SkinPart& ResolveIcon(std::string_view suffix) const {
    const std::string icon = WideToAscii(ResolveText("Icon", suffix, L""));
    if (icon.empty()) return SkinPartTable::EmptyPart();
    const CSkinRegistry& registry = CSkinRegistry::Instance();
    const SkinPart& withState = registry.FindPart(icon, suffix);
    return withState.IsEmpty() ? registry.FindPart(icon) : withState;
  }

 protected:
  explicit CSkinControl(std::string style = {}) : style_(std::move(style)) {}

  // Runs on every message before the control's own handling; return true to consume it.
  virtual bool OnSkinMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }
  virtual void OnFirstMessage() {}

  const RECT& windowRect() const { return windowRect_; }
  const RECT& clientRect() const { return clientRect_; }

  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    if (!initialised_) {
      initialised_ = true;
      CaptureRects();
      OnFirstMessage();
    }
    switch (message) {
      case WM_WINDOWPOSCHANGED:
      case WM_SIZE:
        CaptureRects();
        break;
      case WM_MOUSEMOVE:
        if (!hovered_) {
          TRACKMOUSEEVENT track = {sizeof(track), TME_HOVER | TME_LEAVE, this->hwnd(), 1};
          TrackMouseEvent(&track);
        }
        break;
      case WM_MOUSEHOVER:
        if (!hovered_) {
          hovered_ = 1;
          InvalidateRect(this->hwnd(), nullptr, FALSE);
        }
        break;
      case WM_MOUSELEAVE:
        hovered_ = 0;
        InvalidateRect(this->hwnd(), nullptr, FALSE);
        break;
      case WM_SETCURSOR:
        if (const int32_t cursor = ResolveInt("Cursor", "", 0)) {
          SetCursor(reinterpret_cast<HCURSOR>(static_cast<intptr_t>(cursor)));
          result = TRUE;
          return true;
        }
        break;
      default:
        break;
    }
    return OnSkinMessage(message, wParam, lParam, result);
  }

  // Test hook and keyboard paths: hover without a real mouse.
 public:
  void SetHovered(bool hovered) {
    hovered_ = hovered ? 1 : 0;
    InvalidateRect(this->hwnd(), nullptr, FALSE);
  }

 private:
  static std::string WideToAscii(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
  }
  void CaptureRects() {
    windowRect_ = WindowRectInParent(this->hwnd());
    ::GetClientRect(this->hwnd(), &clientRect_);
  }

  std::string style_;
  RECT windowRect_ = {};
  RECT clientRect_ = {};
  bool initialised_ = false;
  int32_t hovered_ = 0;
};
