// What the command line asks of start-up: nothing, or one of the three actions.
#pragma once

#include <string>
#include <vector>

struct CommandLineAction {
  enum class Kind { kNone, kRegister, kUnregister, kUpdate };
  Kind kind = Kind::kNone;
  // The file to overwrite and start, for kUpdate; may be empty when the caller gave none.
  std::wstring target;
};

// `args` is the split command line, program name first. The action word is the second item,
// matched without regard to case; anything after the items an action uses is ignored.
CommandLineAction ParseCommandLineAction(const std::vector<std::wstring>& args);

// The portable copy replacing an installed program: the program being replaced may still be
// exiting, so the copy is tried `attempts` times with a pause after each failure. Returns true
// on the first successful copy, false after the last failed attempt and its pause.
template <typename CopyOnce, typename Pause>
bool CopyWithRetries(CopyOnce copyOnce, Pause pause, int attempts = 10) {
  for (int i = 0; i < attempts; ++i) {
    if (copyOnce()) return true;
    pause();
  }
  return false;
}
