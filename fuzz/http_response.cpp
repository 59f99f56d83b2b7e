// Arbitrary bytes as an HTTP response, received in pieces of a size the input chooses: the parser
// must neither crash nor hold more than its bounds, and must account for every body byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/http_response_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = (data[0] & 0x3F) + 1;
  const bool inMemory = (data[0] & 0x40) != 0;
  const bool closes = (data[0] & 0x80) != 0;
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  HttpLimits limits;
  limits.headerBlock = 512;
  limits.chunkSizeLine = 64;
  limits.memoryBody = 1024;
  StringBodySink sink;
  HttpResponseParser parser(sink, inMemory, limits);
  HttpOutcome outcome = HttpOutcome::kRunning;
  while (!bytes.empty()) {
    const std::string_view next = bytes.substr(0, piece);
    bytes.remove_prefix(next.size());
    const HttpOutcome was = outcome;
    outcome = parser.Feed(next);
    if (was != HttpOutcome::kRunning && outcome != was) std::abort();
  }
  outcome = closes ? parser.Finish() : parser.Abort();
  if (outcome == HttpOutcome::kRunning) std::abort();

  if (static_cast<int64_t>(sink.data().size()) != parser.bytesReceived()) std::abort();
  if (inMemory && parser.bytesReceived() > limits.memoryBody) std::abort();
  if (!parser.headersParsed() && (parser.bytesReceived() != 0 || parser.statusCode() != 0 ||
                                  outcome == HttpOutcome::kComplete)) {
    std::abort();
  }
  if (parser.contentLength() < -1) std::abort();
  for (const auto& [name, value] : parser.headers()) {
    for (const char c : name) {
      if (c >= 'A' && c <= 'Z') std::abort();
    }
    if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) std::abort();
  }
  return 0;
}
