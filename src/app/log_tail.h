// The last lines of the connection log, for its window and the diagnostics: read from the end of
// "Kavrin.log.1" and "Kavrin.log" only, never the whole files, each time they are wanted.
//
// The files are outside input (anyone who could write the data folder once may have left
// anything there), so whatever they hold comes out as lines of text: invalid UTF-8 as U+FFFD,
// NULs dropped, other control characters as U+FFFD, a line longer than the writer ever makes cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/connection_log_files.h"

// A line is shown with at most this many bytes of the file, then "…".
inline constexpr size_t kLogLineMaxBytes = 2048;
// The first read from a file's end; grown fourfold while it holds too few lines.
inline constexpr size_t kLogTailFirstRead = 16384;
// The most read from one file: what the writer ever leaves in it.
inline constexpr size_t kLogTailReadLimit = static_cast<size_t>(kConnectionLogLimitBytes);

// The end of one file as read in one go.
struct LogFileEnd {
  // The file's whole size when it was read.
  uint64_t size = 0;
  // Its last bytes, at most as many as were asked for.
  std::string bytes;
};

// The log's folder.
class LogFiles {
 public:
  virtual ~LogFiles() = default;
  // The last `maxBytes` bytes of the file `name`; nothing when it is missing or cannot be opened.
  virtual std::optional<LogFileEnd> ReadEnd(const std::wstring& name, size_t maxBytes) = 0;
};

// The files in `folder` (ending with a separator). A file is held open only while it is read,
// and shares writing, renaming and deletion, so the writer's roll-over is never held up.
std::unique_ptr<LogFiles> FolderLogFiles(std::wstring folder);

// The last `maxLines` lines of the log, oldest first: the end of "Kavrin.log", and before it the
// end of "Kavrin.log.1" when the newer file holds fewer. A roll-over between the two reads is
// seen (the newer file shrank) and the reading done again, so no line shows twice. Missing files
// give no lines.
std::vector<std::wstring> ReadLogTail(LogFiles& files, size_t maxLines);

// Appends the lines of `bytes` to `lines`. Unless `fromStart`, the bytes begin somewhere in a
// line, and what comes before the first line break is left out. A last line without its line
// break (the writer may be writing it) is kept. Blank lines are left out.
void AppendLogLines(std::string_view bytes, bool fromStart, std::vector<std::wstring>& lines);

// One line's bytes (without its line break) as text; see above.
std::wstring DecodeLogLine(std::string_view bytes);
