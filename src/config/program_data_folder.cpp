#include "config/program_data_folder.h"

#include <utility>

ProgramDataFolder::ProgramDataFolder(Locator locate) : locate_(std::move(locate)) {}

const std::wstring& ProgramDataFolder::Path() {
  std::call_once(once_, [this] { path_ = locate_(); });
  return path_;
}
