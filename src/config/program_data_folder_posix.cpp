#include <filesystem>
#include <system_error>

#include "base/text.h"
#include "config/program_data_folder.h"

ProgramDataFolder& SystemProgramDataFolder() {
  static ProgramDataFolder folder([] {
    std::error_code error;
    std::filesystem::path path = std::filesystem::temp_directory_path(error) / "Kavrin";
    std::filesystem::create_directories(path, error);
    const std::u8string utf8 = path.u8string();
    return ProgramDataFolder::Location{Utf8ToWide(std::string(utf8.begin(), utf8.end())) + L"/",
                                       !error};
  });
  return folder;
}
