#include <fstream>

#include "app/log_tail.h"
#include "base/file_path.h"

namespace {

class PosixLogFiles final : public LogFiles {
 public:
  explicit PosixLogFiles(std::wstring folder) : folder_(std::move(folder)) {}

  std::optional<LogFileEnd> ReadEnd(const std::wstring& name, size_t maxBytes) override {
    std::ifstream in(FileSystemPath(folder_ + name), std::ios::binary | std::ios::ate);
    if (!in) return std::nullopt;
    const std::streamoff size = in.tellg();
    if (size < 0) return std::nullopt;
    LogFileEnd end;
    end.size = static_cast<uint64_t>(size);
    const size_t count = end.size < maxBytes ? static_cast<size_t>(end.size) : maxBytes;
    in.seekg(size - static_cast<std::streamoff>(count));
    end.bytes.resize(count);
    in.read(end.bytes.data(), static_cast<std::streamsize>(count));
    end.bytes.resize(static_cast<size_t>(in.gcount()));
    return end;
  }

 private:
  const std::wstring folder_;
};

}  // namespace

std::unique_ptr<LogFiles> FolderLogFiles(std::wstring folder) {
  return std::make_unique<PosixLogFiles>(std::move(folder));
}
