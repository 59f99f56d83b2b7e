#include "app/log_tail.h"

#include <algorithm>
#include <iterator>

#include "base/text.h"

namespace {

constexpr wchar_t kReplacement = 0xFFFD;
constexpr wchar_t kCutMark = 0x2026;  // "…"
// Reading both files again when a roll-over came between them; a writer that rolls over on
// every attempt gets the last attempt's lines.
constexpr int kReadAttempts = 3;

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

struct FileTail {
  bool present = false;
  // The whole file was read.
  bool whole = false;
  uint64_t size = 0;
  // The bytes last read.
  std::string bytes;
  std::vector<std::wstring> lines;
};

// The lines of `bytes` (see AppendLogLines) as pieces of it, without their line breaks; blank
// lines stay in (they may hold only what decoding drops).
std::vector<std::string_view> SplitLines(std::string_view bytes, bool fromStart) {
  std::vector<std::string_view> pieces;
  if (!fromStart) {
    const size_t first = bytes.find('\n');
    if (first == std::string_view::npos) return pieces;
    bytes.remove_prefix(first + 1);
  }
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pieces.push_back(line);
  }
  return pieces;
}

// The last `wanted` lines of `bytes` that are not blank, decoded from the end: the rest is
// never decoded.
std::vector<std::wstring> LastLines(std::string_view bytes, bool fromStart, size_t wanted) {
  const std::vector<std::string_view> pieces = SplitLines(bytes, fromStart);
  std::vector<std::wstring> lines;
  for (auto piece = pieces.rbegin(); piece != pieces.rend() && lines.size() < wanted; ++piece) {
    std::wstring text = DecodeLogLine(*piece);
    if (!text.empty()) lines.push_back(std::move(text));
  }
  std::reverse(lines.begin(), lines.end());
  return lines;
}

// The file's last lines, reading more of its end while it gives fewer than `wanted`.
FileTail TailOf(LogFiles& files, const std::wstring& name, size_t wanted) {
  FileTail tail;
  for (size_t chunk = kLogTailFirstRead;; chunk = std::min(chunk * 4, kLogTailReadLimit)) {
    std::optional<LogFileEnd> end = files.ReadEnd(name, chunk);
    if (!end) return {};
    tail.present = true;
    tail.size = end->size;
    tail.whole = end->bytes.size() >= end->size;
    const bool last = tail.whole || chunk >= kLogTailReadLimit;
    // At the limit the start of the first line may lie further back than is ever read: it is
    // kept, as a piece of a line, rather than leaving nothing.
    tail.lines = LastLines(end->bytes, last, wanted);
    tail.bytes = std::move(end->bytes);
    if (tail.lines.size() >= wanted || last) return tail;
  }
}

void KeepLast(std::vector<std::wstring>& lines, size_t count) {
  if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<ptrdiff_t>(count));
}

}  // namespace

std::wstring DecodeLogLine(std::string_view bytes) {
  bool cut = false;
  if (bytes.size() > kLogLineMaxBytes) {
    size_t keep = kLogLineMaxBytes;
    // Not in the middle of a character: back to its first byte (a valid one has at most three
    // continuation bytes).
    for (int back = 0; back < 3 && keep > 0 && IsContinuationByte(bytes[keep]); ++back) --keep;
    bytes = bytes.substr(0, keep);
    cut = true;
  }
  std::wstring text;
  text.reserve(bytes.size());
  for (const wchar_t c : Utf8ToWide(bytes)) {
    if (c == 0) continue;
    const bool control = (c < 0x20 && c != L'\t') || c == 0x7F;
    text.push_back(control ? kReplacement : c);
  }
  if (cut) text.push_back(kCutMark);
  return text;
}

void AppendLogLines(std::string_view bytes, bool fromStart, std::vector<std::wstring>& lines) {
  for (const std::string_view piece : SplitLines(bytes, fromStart)) {
    std::wstring text = DecodeLogLine(piece);
    if (!text.empty()) lines.push_back(std::move(text));
  }
}

std::vector<std::wstring> ReadLogTail(LogFiles& files, size_t maxLines) {
  std::vector<std::wstring> lines;
  if (maxLines == 0) return lines;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    FileTail newest = TailOf(files, kConnectionLogName, maxLines);
    lines = std::move(newest.lines);
    if (lines.size() >= maxLines || (newest.present && !newest.whole)) break;
    FileTail older = TailOf(files, kConnectionLogOldName, maxLines - lines.size());
    if (!older.present) break;
    // The writer rolled over after the newer file was read: the older one may now hold what
    // was read from it. The newer file was read whole (it is small) and only ever grows until
    // it is rolled over, so it must still begin with what was read.
    const std::optional<LogFileEnd> again =
        files.ReadEnd(kConnectionLogName, newest.bytes.size() + kLogTailFirstRead);
    const bool rolledOver = newest.present && (!again || again->bytes.size() != again->size ||
                                               !again->bytes.starts_with(newest.bytes));
    if (rolledOver) {
      if (attempt + 1 < kReadAttempts) continue;
      // Still rolling over: the newer lines alone rather than some of them twice.
      break;
    }
    lines.insert(lines.begin(), std::make_move_iterator(older.lines.begin()),
                 std::make_move_iterator(older.lines.end()));
    break;
  }
  KeepLast(lines, maxLines);
  return lines;
}
