// Turns the bytes of an HTTP/1.1 response, as they arrive, into status, headers and body. Knows
// nothing of sockets, so it can be fed from a test or a fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "service/http_body.h"

using HttpHeaders = std::map<std::string, std::string>;  // names in lower case

enum class HttpOutcome {
  kRunning,     // still receiving
  kComplete,    // the whole response arrived
  kFailed,      // no response: no connection, nothing sent, or no header block before the end
  kIncomplete,  // the body stopped short of its length or its last chunk, was malformed, or
                // could not be stored
  kTooLarge,    // the header block, a chunk-size line or a body kept in memory passed its bound
};

// What a broken or hostile server may make the client hold.
struct HttpLimits {
  size_t headerBlock = 64 * 1024;
  size_t chunkSizeLine = 1024;
  int64_t memoryBody = 32 * 1024 * 1024;
};

class HttpResponseParser {
 public:
  // `bodyInMemory`: `body` keeps the bytes in memory, so they are bounded, and a plain body
  // ends as soon as its content length is reached (a body going to a file ends with the
  // connection).
  HttpResponseParser(HttpBodySink& body, bool bodyInMemory, HttpLimits limits = {});

  // Takes the next received bytes. kRunning while more are expected; any other result is final
  // and later calls return it without looking at their bytes.
  HttpOutcome Feed(std::string_view bytes);
  // The server closed the connection.
  HttpOutcome Finish();
  // The connection failed or was stopped.
  HttpOutcome Abort();

  HttpOutcome outcome() const { return outcome_; }
  bool headersParsed() const { return headersParsed_; }
  int32_t statusCode() const { return statusCode_; }
  int64_t contentLength() const { return contentLength_; }  // -1 when not given
  bool chunked() const { return chunked_; }
  int64_t bytesReceived() const { return bytesReceived_; }
  const HttpHeaders& headers() const { return headers_; }

 private:
  bool ParseHeaderBlock();
  HttpOutcome TakeBody(std::string_view bytes);
  HttpOutcome TakePlain(std::string_view bytes);
  HttpOutcome TakeChunked(std::string_view bytes);
  bool Store(std::string_view bytes);
  HttpOutcome End(HttpOutcome outcome) { return outcome_ = outcome; }

  HttpBodySink& body_;
  const bool bodyInMemory_;
  const HttpLimits limits_;

  HttpOutcome outcome_ = HttpOutcome::kRunning;
  bool headersParsed_ = false;
  int32_t statusCode_ = 0;
  int64_t contentLength_ = -1;
  bool chunked_ = false;
  int64_t bytesReceived_ = 0;
  HttpHeaders headers_;

  // Before the headers: everything received. In a chunked body: the size line so far.
  std::string raw_;
  size_t headerScanFrom_ = 0;
  int64_t chunkRemaining_ = 0;
  int chunkTrailerToSkip_ = 0;  // the CR LF after a chunk's data
};
