#include "service/http_response_parser.h"

#include <algorithm>
#include <climits>
#include <optional>

#include "base/text.h"

namespace {

constexpr std::string_view kHeaderEnd = "\r\n\r\n";
// A size line that has not ended within this many pending bytes is not coming.
constexpr size_t kSizeLineWait = 16;
// The status code follows "HTTP/1.1 ".
constexpr size_t kStatusOffset = 9;

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// atoi, saturated instead of undefined on overflow.
int32_t Atoi(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{INT_MAX} + 1);
  }
  if (negative) return static_cast<int32_t>(-value);
  return static_cast<int32_t>(std::min<int64_t>(value, INT_MAX));
}

// The chunk size as strtol reads it in base 16 (blanks, a sign, an optional 0x, digits; whatever
// follows, such as a chunk extension, is ignored). Empty when the line has no digits, is
// negative, or is too large for the 32-bit long the size is read into.
std::optional<int64_t> ParseChunkSize(std::string_view line) {
  size_t i = 0;
  while (i < line.size() && IsCSpace(line[i])) ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) negative = line[i++] == '-';
  if (i + 2 < line.size() && line[i] == '0' && (line[i + 1] == 'x' || line[i + 1] == 'X') &&
      HexDigit(line[i + 2]) >= 0) {
    i += 2;
  }
  int64_t value = 0;
  size_t digits = 0;
  for (; i < line.size() && HexDigit(line[i]) >= 0; ++i, ++digits) {
    value = value * 16 + HexDigit(line[i]);
    if (value > INT32_MAX) return std::nullopt;
  }
  if (digits == 0 || (negative && value != 0)) return std::nullopt;
  return value;
}

std::string_view StripCarriageReturns(std::string_view line) {
  while (!line.empty() && line.front() == '\r') line.remove_prefix(1);
  while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

HttpResponseParser::HttpResponseParser(HttpBodySink& body, bool bodyInMemory, HttpLimits limits)
    : body_(body), bodyInMemory_(bodyInMemory), limits_(limits) {}

HttpOutcome HttpResponseParser::Feed(std::string_view bytes) {
  if (outcome_ != HttpOutcome::kRunning) return outcome_;
  if (headersParsed_) return TakeBody(bytes);
  raw_.append(bytes);
  if (!ParseHeaderBlock()) return outcome_;
  const std::string rest = std::move(raw_);
  raw_.clear();
  return TakeBody(rest);
}

HttpOutcome HttpResponseParser::Finish() {
  if (outcome_ != HttpOutcome::kRunning) return outcome_;
  if (!headersParsed_) return End(HttpOutcome::kFailed);
  // A chunked body is whole only once its last (empty) chunk arrived, which ends it earlier.
  if (chunked_) return End(HttpOutcome::kIncomplete);
  if (contentLength_ >= 0 && bytesReceived_ < contentLength_) {
    return End(HttpOutcome::kIncomplete);
  }
  return End(HttpOutcome::kComplete);
}

HttpOutcome HttpResponseParser::Abort() {
  if (outcome_ != HttpOutcome::kRunning) return outcome_;
  return End(headersParsed_ ? HttpOutcome::kIncomplete : HttpOutcome::kFailed);
}

bool HttpResponseParser::ParseHeaderBlock() {
  const size_t found = raw_.find(kHeaderEnd, headerScanFrom_);
  if (found == std::string::npos) {
    if (raw_.size() > limits_.headerBlock) End(HttpOutcome::kTooLarge);
    headerScanFrom_ = raw_.size() < kHeaderEnd.size() ? 0 : raw_.size() - kHeaderEnd.size() + 1;
    return false;
  }
  const size_t blockSize = found + kHeaderEnd.size();
  if (blockSize > limits_.headerBlock) {
    End(HttpOutcome::kTooLarge);
    return false;
  }
  headersParsed_ = true;
  std::string_view block(raw_.data(), blockSize);
  if (block.size() > kStatusOffset) statusCode_ = Atoi(block.substr(kStatusOffset));

  while (!block.empty()) {
    const size_t lf = block.find('\n');
    const std::string_view line = StripCarriageReturns(block.substr(0, lf));
    block.remove_prefix(lf == std::string_view::npos ? block.size() : lf + 1);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    headers_[LowerAscii(line.substr(0, colon))] = TrimText(line.substr(colon + 1));
  }
  if (const auto length = headers_.find("content-length"); length != headers_.end()) {
    // A negative length is no length at all; taking it would end the body before it began.
    const int32_t value = Atoi(length->second);
    contentLength_ = value < 0 ? -1 : value;
  }
  if (const auto coding = headers_.find("transfer-encoding"); coding != headers_.end()) {
    chunked_ = LowerAscii(coding->second) == "chunked";
  }
  raw_.erase(0, blockSize);
  return true;
}

HttpOutcome HttpResponseParser::TakeBody(std::string_view bytes) {
  return chunked_ ? TakeChunked(bytes) : TakePlain(bytes);
}

HttpOutcome HttpResponseParser::TakePlain(std::string_view bytes) {
  if (!Store(bytes)) return outcome_;
  if (bodyInMemory_ && contentLength_ >= 0 && bytesReceived_ >= contentLength_) {
    return End(HttpOutcome::kComplete);
  }
  return outcome_;
}

// Chunk data is passed on as it arrives rather than held until the whole chunk is in, so a
// large chunk never sits in memory twice.
HttpOutcome HttpResponseParser::TakeChunked(std::string_view bytes) {
  while (!bytes.empty()) {
    if (chunkRemaining_ > 0) {
      const size_t take = static_cast<size_t>(
          std::min<int64_t>(chunkRemaining_, static_cast<int64_t>(bytes.size())));
      if (!Store(bytes.substr(0, take))) return outcome_;
      bytes.remove_prefix(take);
      chunkRemaining_ -= static_cast<int64_t>(take);
      if (chunkRemaining_ == 0) chunkTrailerToSkip_ = 2;
      continue;
    }
    if (chunkTrailerToSkip_ > 0) {
      const size_t skip = std::min<size_t>(static_cast<size_t>(chunkTrailerToSkip_), bytes.size());
      bytes.remove_prefix(skip);
      chunkTrailerToSkip_ -= static_cast<int>(skip);
      continue;
    }
    const size_t lf = bytes.find('\n');
    if (lf == std::string_view::npos) {
      raw_.append(bytes);
      if (raw_.size() > kSizeLineWait) return End(HttpOutcome::kIncomplete);
      return outcome_;
    }
    raw_.append(bytes.substr(0, lf));
    bytes.remove_prefix(lf + 1);
    if (raw_.size() > limits_.chunkSizeLine) return End(HttpOutcome::kTooLarge);
    const std::optional<int64_t> size = ParseChunkSize(raw_);
    raw_.clear();
    if (!size) return End(HttpOutcome::kIncomplete);
    // The trailer lines after the last chunk are of no interest.
    if (*size == 0) return End(HttpOutcome::kComplete);
    chunkRemaining_ = *size;
  }
  return outcome_;
}

bool HttpResponseParser::Store(std::string_view bytes) {
  if (bytes.empty()) return true;
  if (bodyInMemory_ && bytesReceived_ + static_cast<int64_t>(bytes.size()) > limits_.memoryBody) {
    End(HttpOutcome::kTooLarge);
    return false;
  }
  if (!body_.Write(bytes.data(), bytes.size())) {
    End(HttpOutcome::kIncomplete);
    return false;
  }
  bytesReceived_ += static_cast<int64_t>(bytes.size());
  return true;
}
