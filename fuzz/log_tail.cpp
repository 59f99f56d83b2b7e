// Arbitrary bytes as the two log files, read for a number of lines, with the writer perhaps
// rolling over between the reads. Every line is text without line breaks, NULs or control
// characters (tabs aside) and no longer than a cut line; never more lines than asked for; and
// without a roll-over the lines are exactly the last ones of both files read whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/log_tail.h"
#include "fakes/fake_log_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const size_t maxLines = data[0] % 40;
  const int rollAt = data[1] % 8;  // the read before which the writer rolls over; 0: never
  std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);
  const size_t split = rest.empty() ? 0 : data[2] * rest.size() / 256;

  FakeLogFiles files;
  files.files[kConnectionLogOldName] = std::string(rest.substr(0, split));
  files.files[kConnectionLogName] = std::string(rest.substr(split));
  if (data[2] & 1) files.locked.insert(kConnectionLogOldName);
  files.beforeRead = [&](int read) {
    if (read == rollAt) files.RollOver(std::string(rest.substr(0, split / 2)));
  };
  const std::vector<std::wstring> lines = ReadLogTail(files, maxLines);

  if (lines.size() > maxLines) std::abort();
  for (const std::wstring& line : lines) {
    if (line.empty() || line.size() > kLogLineMaxBytes + 1) std::abort();
    for (const wchar_t c : line) {
      if ((c < 0x20 && c != L'\t') || c == 0x7F) std::abort();
    }
  }
  if (rollAt == 0 && files.reads > 0) {
    std::vector<std::wstring> whole;
    if (!(data[2] & 1)) AppendLogLines(files.files[kConnectionLogOldName], true, whole);
    AppendLogLines(files.files[kConnectionLogName], true, whole);
    if (whole.size() > maxLines) whole.erase(whole.begin(), whole.end() - maxLines);
    // Inputs are far below the first read: both files are read whole.
    if (rest.size() < kLogTailFirstRead && whole != lines) std::abort();
  }
  return 0;
}
