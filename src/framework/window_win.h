// Base class of every window the program drives: owns the link from a window handle to its
// object and turns window messages into typed virtual calls.
//
// A window is either created through Create() (the framework's own window class, or any
// registered class such as "BUTTON" or "EDIT") or an existing window is attached with Attach();
// both replace the window procedure so that every message passes through Dispatch(). Handlers
// that are not overridden fall through to the previous window procedure, so controls and dialogs
// keep their system behaviour.
#pragma once

#include <windows.h>

#include <string>

class CWindow {
 public:
  CWindow() = default;
  CWindow(const CWindow&) = delete;
  CWindow& operator=(const CWindow&) = delete;
  // Destroys a window still owned by this object, so no message reaches a dead object.
  virtual ~CWindow();

  // The object attached to `window`, or null. Safe from any thread; the pointer is only
  // guaranteed alive on the window's own thread.
  static CWindow* FromHandle(HWND window);

  // `className` null means the framework's own class (default window procedure behaviour,
  // arrow cursor, no background brush). `rect` is in the parent's client coordinates.
  bool Create(DWORD exStyle, const wchar_t* className, const std::wstring& text, DWORD style,
              const RECT& rect, HWND parent, UINT id);
  // Takes over a window of this thread; fails when it already belongs to an object.
  bool Attach(HWND window);
  // Gives the window back its previous procedure and forgets it.
  HWND Detach();
  bool DestroyWindow();

  HWND hwnd() const { return hwnd_; }
  operator HWND() const { return hwnd_; }

  void SetWindowText(const std::wstring& text);
  std::wstring GetWindowText() const;
  static std::wstring GetWindowText(HWND window);
  void Show(int command = SW_SHOW);
  void Hide() { Show(SW_HIDE); }
  bool IsVisible() const;
  void Enable(bool enable);
  HWND GetDlgItem(int id) const;
  void SetDlgItemText(int id, const std::wstring& text);
  std::wstring GetDlgItemText(int id) const;
  bool SetTimer(UINT_PTR id, UINT elapseMs);
  void KillTimer(UINT_PTR id);
  bool PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
  bool MoveWindow(int x, int y, int width, int height, bool repaint = true);
  bool MoveWindow(const RECT& rect, bool repaint = true);
  bool SetWindowPos(HWND insertAfter, int x, int y, int width, int height, UINT flags);
  RECT GetClientRect() const;
  RECT GetWindowRect() const;
  void SetFont(HFONT font, bool redraw = true);

  // Gives the window a chance at a message before the message loop translates and dispatches
  // it; true means it was consumed (dialogs use it for keyboard navigation).
  virtual bool PreTranslateMessage(MSG& message);

 protected:
  // Every message comes here first; return true (and set `result`) to consume it. This is the
  // place for the program's own posted messages (WM_USER + n, WM_APP + n).
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // Return false to let the previous window procedure see the command.
  virtual bool OnCommand(UINT id, UINT notifyCode);
  virtual void OnTimer(UINT_PTR id);
  // `screenPoint` is in screen coordinates; the result is an HT* code.
  virtual LRESULT OnNcHitTest(POINT screenPoint);
  virtual void OnPaint();
  // Return true when the background was erased.
  virtual bool OnEraseBkgnd(HDC dc);
  virtual void OnSize(UINT type, int cx, int cy);
  // The DPI the window is shown at changed (it moved to a monitor of another scale, or the
  // monitor's scale was changed): the default takes the rectangle the system suggests for the
  // new DPI, then lays the window out again.
  virtual void OnDpiChanged(int dpi, const RECT& suggested);
  // Places and sizes the window's contents for `dpi`; the window itself is already sized.
  virtual void LayoutForDpi(int dpi);
  // `command` has the low four bits masked off (SC_CLOSE, SC_MINIMIZE, ...); return true to
  // stop the system's handling.
  virtual bool OnSysCommand(UINT command);
  // Return true to keep the window open.
  virtual bool OnClose();
  virtual void OnDestroy();
  // After the last message; the handle is already gone. Deleting the object here is only safe
  // for a window destroyed from outside its own handlers.
  virtual void OnFinalMessage();

  // The typed dispatch; derived framework classes extend it for their own messages.
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // Runs the previous window procedure on the message being handled.
  LRESULT Default();

  // Marks `window` as the object of the next window this thread creates, which attaches on
  // its first message (messages arrive before the creating call returns a handle).
  static void SetPendingAttach(CWindow* window);
  // Attaches `window` to the pending object, if any.
  static bool AttachPending(HWND window);

 private:
  struct CurrentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static const wchar_t* FrameworkClassName();
  bool Subclass(HWND window);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam);
  void FinishDestroy();

  HWND hwnd_ = nullptr;
  WNDPROC previousProc_ = nullptr;
  const CurrentMessage* current_ = nullptr;
};

// Sizes `window` and places it over the middle of its owner when the owner is visible, else of
// the work area, but always whole inside the work area: our dialogs are wider than the main
// window, which often sits at a screen edge. The work area is that of the owner's monitor (the
// window's own without an owner).
void CenterOverOwner(HWND window, int width, int height);

// Tab and Shift+Tab follow the order of a parent's children; this puts `child` last.
void MoveToEndOfTabOrder(HWND child);
