#include "app/command_line.h"

#include "base/text.h"

CommandLineAction ParseCommandLineAction(const std::vector<std::wstring>& args) {
  CommandLineAction action;
  if (args.size() < 2) return action;
  const std::wstring word = LowerAscii(args[1]);
  if (word == L"/register") {
    action.kind = CommandLineAction::Kind::kRegister;
  } else if (word == L"/unregister") {
    action.kind = CommandLineAction::Kind::kUnregister;
  } else if (word == L"/update") {
    action.kind = CommandLineAction::Kind::kUpdate;
    if (args.size() >= 3) action.target = args[2];
  }
  return action;
}
