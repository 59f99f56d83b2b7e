// The system's side of the online update: the shell that starts the package or opens the update
// page, and the version resource of the running program.
#pragma once

#include <windows.h>

#include "service/online_update.h"

class ShellProgramLauncher : public ProgramLauncher {
 public:
  // `owner` may be null.
  explicit ShellProgramLauncher(HWND owner = nullptr) : owner_(owner) {}
  void SetOwner(HWND owner) { owner_ = owner; }
  bool Open(const std::wstring& file, const std::wstring& parameters) override;

 private:
  HWND owner_;
};

// The file version of the executable this process runs.
class ExecutableVersionSource : public ClientVersionSource {
 public:
  uint64_t CurrentVersion() override;
};
