// The instance objects on Windows: a mutex in the program's private namespace, or under the
// global name with its owner checked, and the main window found by its process's program file
// and rights.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "app/single_instance.h"
#include "base/own_namespace_win.h"
#include "base/unique_handle_win.h"

inline constexpr wchar_t kSingleInstanceLeaf[] =
    L"ORUMAVPN_SINGLE_{05F607A4-6E2F-42e8-AFE0-7F56211E6B88}";
inline constexpr wchar_t kMainWindowCaption[] = L"OrumaVPN";

class SystemInstanceObjects : public InstanceObjects {
 public:
  // `programFile`: the program file whose windows count as ours.
  explicit SystemInstanceObjects(std::wstring programFile);

  bool EnterOwnNamespace() override;
  Claim ClaimInNamespace(const std::wstring& name) override;
  Claim ClaimGlobal(const std::wstring& name) override;
  Window OwnWindowShown() override;

  // The elevated window OwnWindowShown found.
  HWND ownWindow() const { return ownWindow_; }

 private:
  Claim ClaimName(const std::wstring& fullName);

  std::wstring programFile_;
  // Held for the life of the program: the namespace's name and the object go with them.
  std::unique_ptr<OwnNamespace> namespace_;
  UniqueHandle mutex_;
  HWND ownWindow_ = nullptr;
};

// A main window of ours ("#32770" captioned "OrumaVPN") of another process whose program file
// is `programFile` itself (the same file, however its path is written) and whose token is
// elevated or in the administrators; null when none is. `unelevatedSeen` tells that such a
// window of a process without those rights (or whose rights cannot be read) was passed over.
HWND FindOwnMainWindow(const std::wstring& programFile, bool* unelevatedSeen = nullptr);

// Whether the process runs with administrator rights: its token is elevated, or (where the
// system knows no elevation) the administrators are among its enabled groups. False when its
// token cannot be read.
bool ProcessHasAdministratorRights(DWORD processId);

// For the installer, which creates nothing: whether the program runs, by its instance object in
// the private namespace, else the global one owned by the administrators or the system, else a
// main window of `programFile`. `squatted` tells that the global name is someone else's.
bool IsProgramRunning(const std::wstring& programFile, bool& squatted);
