#include <windows.h>

#include "app/log_tail.h"
#include "base/unique_handle_win.h"

namespace {

// CreateFileW / GetFileSizeEx / SetFilePointerEx / ReadFile as Microsoft Learn describes them:
// FILE_SHARE_DELETE lets the writer rename the file over the older one while it is held here.
class WinLogFiles final : public LogFiles {
 public:
  explicit WinLogFiles(std::wstring folder) : folder_(std::move(folder)) {}

  std::optional<LogFileEnd> ReadEnd(const std::wstring& name, size_t maxBytes) override {
    UniqueHandle file(CreateFileW((folder_ + name).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                  nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return std::nullopt;
    LogFileEnd end;
    end.size = static_cast<uint64_t>(size.QuadPart);
    const size_t count = end.size < maxBytes ? static_cast<size_t>(end.size) : maxBytes;
    LARGE_INTEGER from = {};
    from.QuadPart = static_cast<LONGLONG>(end.size - count);
    if (!SetFilePointerEx(file.get(), from, nullptr, FILE_BEGIN)) return std::nullopt;
    end.bytes.resize(count);
    size_t got = 0;
    while (got < count) {
      DWORD read = 0;
      if (!ReadFile(file.get(), end.bytes.data() + got, static_cast<DWORD>(count - got), &read,
                    nullptr)) {
        return std::nullopt;
      }
      // The file was cut short while it was read: what is there is its end.
      if (read == 0) break;
      got += read;
    }
    end.bytes.resize(got);
    return end;
  }

 private:
  const std::wstring folder_;
};

}  // namespace

std::unique_ptr<LogFiles> FolderLogFiles(std::wstring folder) {
  return std::make_unique<WinLogFiles>(std::move(folder));
}
