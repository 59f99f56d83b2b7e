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
  const bool in_memory = (data[0] & 0x40) != 0;
  const bool closes = (data[0] & 0x80) != 0;
  std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);

  HttpLimits limits;
  limits.header_block = 512;
  limits.chunk_size_line = 64;
  limits.memory_body = 1024;
  StringBodySink sink;
  HttpResponseParser parser(sink, in_memory, limits);
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

  if (static_cast<int64_t>(sink.data().size()) != parser.bytes_received()) std::abort();
  if (in_memory && parser.bytes_received() > limits.memory_body) std::abort();
  if (!parser.headers_parsed() && (parser.bytes_received() != 0 || parser.status_code() != 0 ||
                                   outcome == HttpOutcome::kComplete)) {
    std::abort();
  }
  if (parser.content_length() < -1) std::abort();
  for (const auto& [name, value] : parser.headers()) {
    for (const char c : name) {
      if (c >= 'A' && c <= 'Z') std::abort();
    }
    if (!value.empty() && (value.front() == ' ' || value.back() == ' ')) std::abort();
  }
  return 0;
}
