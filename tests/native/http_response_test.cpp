#include <gtest/gtest.h>

#include <string>

#include "service/http_response_parser.h"
#include "service/http_url.h"

namespace {

struct Parsed {
  HttpOutcome outcome;
  std::string body;
  int32_t status;
  int64_t contentLength;
};

// Feeds `response` in pieces of `piece` bytes, then reports the close of the connection.
Parsed Parse(const std::string& response, size_t piece, bool inMemory = true,
             HttpLimits limits = {}) {
  StringBodySink sink;
  HttpResponseParser parser(sink, inMemory, limits);
  HttpOutcome outcome = HttpOutcome::kRunning;
  for (size_t at = 0; at < response.size() && outcome == HttpOutcome::kRunning; at += piece) {
    outcome = parser.Feed(std::string_view(response).substr(at, piece));
  }
  outcome = parser.Finish();
  return {outcome, sink.data(), parser.statusCode(), parser.contentLength()};
}

const std::string kChunked =
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
    "1\r\na\r\n1B;name=value\r\nbcdefghijklmnopqrstuvwxyz01\r\n0x5\r\n23456\r\n0\r\nT: x\r\n\r\n";

}  // namespace

TEST(HttpResponseParser, ChunkedBodyDecodesAlikeHoweverItIsSplit) {
  for (size_t piece = 1; piece <= kChunked.size(); ++piece) {
    const Parsed parsed = Parse(kChunked, piece);
    ASSERT_EQ(parsed.outcome, HttpOutcome::kComplete) << piece;
    ASSERT_EQ(parsed.body, "abcdefghijklmnopqrstuvwxyz0123456") << piece;
  }
}

TEST(HttpResponseParser, ReadsStatusAndHeadersAsTheClientAlwaysHas) {
  StringBodySink sink;
  HttpResponseParser parser(sink, true);
  parser.Feed("HTTP/1.0 404 Not Found\r\n\n\nSERVER:  kv \r\r\nserver: later\r\nNoColonLine\r\n");
  EXPECT_FALSE(parser.headersParsed());
  parser.Feed("Content-Length: 3\r\n\r\nabcdef");
  EXPECT_TRUE(parser.headersParsed());
  EXPECT_EQ(parser.statusCode(), 404);
  EXPECT_EQ(parser.headers().at("server"), "later");
  EXPECT_EQ(parser.headers().size(), 2u);
  // In memory the body ends at its length, keeping what came with the last receive.
  EXPECT_EQ(parser.outcome(), HttpOutcome::kComplete);
  EXPECT_EQ(sink.data(), "abcdef");
}

TEST(HttpResponseParser, LengthAndCloseDecideCompleteness) {
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n";
  EXPECT_EQ(Parse(head + "0123456789", 7).outcome, HttpOutcome::kComplete);
  EXPECT_EQ(Parse(head + "01234", 7).outcome, HttpOutcome::kIncomplete);
  // Into a file the body runs until the close, then must have reached its length.
  EXPECT_EQ(Parse(head + "0123456789", 3, false).outcome, HttpOutcome::kComplete);
  EXPECT_EQ(Parse(head + "012", 3, false).outcome, HttpOutcome::kIncomplete);
  EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\n\r\nanything", 4).outcome, HttpOutcome::kComplete);
  EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\n", 4).outcome, HttpOutcome::kFailed);
  // A negative length is no length: the body runs to the close instead of ending at once.
  const Parsed negative = Parse("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nbody", 50);
  EXPECT_EQ(negative.contentLength, -1);
  EXPECT_EQ(negative.body, "body");
  EXPECT_EQ(negative.outcome, HttpOutcome::kComplete);
  // No status code after the protocol name, or a header block too short to have one.
  EXPECT_EQ(Parse("HTTP/1.1 \r\n\r\n", 50).status, 0);
  EXPECT_EQ(Parse("H\r\n\r\n200", 50).status, 0);
}

TEST(HttpResponseParser, BrokenChunkedBodiesAreNotTakenAsWhole) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(Parse(head + "5\r\nabcde\r\n", 100).outcome, HttpOutcome::kIncomplete);
  // A size line without digits would read as the last chunk.
  EXPECT_EQ(Parse(head + "zz\r\n", 100).outcome, HttpOutcome::kIncomplete);
  EXPECT_EQ(Parse(head + "-5\r\nabc\r\n0\r\n\r\n", 100).outcome, HttpOutcome::kIncomplete);
  EXPECT_EQ(Parse(head + "100000000\r\n", 100).outcome, HttpOutcome::kIncomplete);
  // Seventeen bytes without the line's end: the size line is not coming.
  EXPECT_EQ(Parse(head + "00000000000000001", 100).outcome, HttpOutcome::kIncomplete);
  EXPECT_EQ(Parse(head + "000000000000001\r\nx\r\n0\r\n\r\n", 1).outcome, HttpOutcome::kComplete);
}

TEST(HttpResponseParser, BoundsWhatAHostileServerCanMakeItHold) {
  HttpLimits limits;
  limits.headerBlock = 100;
  limits.chunkSizeLine = 40;
  limits.memoryBody = 8;
  EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\n" + std::string(200, 'x'), 1000, true, limits).outcome,
            HttpOutcome::kTooLarge);
  EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nX: " + std::string(90, 'x') + "\r\n\r\n", 1000, true, limits)
                .outcome,
            HttpOutcome::kTooLarge);
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_EQ(Parse(chunked + "1;" + std::string(60, 'e') + "\r\nx\r\n0\r\n\r\n", 1000, true, limits)
                .outcome,
            HttpOutcome::kTooLarge);
  const Parsed big = Parse(chunked + "10\r\n0123456789abcdef\r\n0\r\n\r\n", 3, true, limits);
  EXPECT_EQ(big.outcome, HttpOutcome::kTooLarge);
  EXPECT_LE(big.body.size(), 8u);
  // Only a body kept in memory is bounded.
  EXPECT_EQ(Parse(chunked + "10\r\n0123456789abcdef\r\n0\r\n\r\n", 3, false, limits).outcome,
            HttpOutcome::kComplete);
}

TEST(HttpResponseParser, AFailingOutputEndsTheRequest) {
  class FullDisk : public HttpBodySink {
   public:
    bool Write(const char*, size_t) override { return false; }
  } sink;
  HttpResponseParser parser(sink, false);
  EXPECT_EQ(parser.Feed("HTTP/1.1 200 OK\r\n\r\nbytes"), HttpOutcome::kIncomplete);
}

TEST(HttpUrl, TakesHostPortAndPathApart) {
  auto url = ParseHttpUrl(L"http://h/a");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->host, L"h");
  EXPECT_EQ(url->port, 80);
  EXPECT_EQ(url->path, L"/a");
  EXPECT_EQ(BuildRequestText(*url), L"GET /a HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");

  url = ParseHttpUrl(L"http://h:8088/client_login.php?u=x&cmd=login");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->host, L"h");
  EXPECT_EQ(url->port, 8088);
  EXPECT_EQ(url->path, L"/client_login.php?u=x&cmd=login");
  EXPECT_EQ(BuildRequestText(*url).find(L"Host: h\r\n") != std::wstring::npos, true);

  // The scheme is never looked at; the port is cut to 16 bits.
  url = ParseHttpUrl(L"xxxxxxx10.0.0.1:65617/");
  ASSERT_TRUE(url);
  EXPECT_EQ(url->host, L"10.0.0.1");
  EXPECT_EQ(url->port, 81);
}

TEST(HttpUrl, RejectsShortSlashlessAndControlCharacterAddresses) {
  EXPECT_FALSE(ParseHttpUrl(L"http://"));
  EXPECT_FALSE(ParseHttpUrl(L"http://host"));
  EXPECT_TRUE(ParseHttpUrl(L"http://h/"));
  EXPECT_FALSE(ParseHttpUrl(L"http://h/a\r\nX-Injected: 1"));
  EXPECT_FALSE(ParseHttpUrl(std::wstring(L"http://h/a\0b", 12)));
}

TEST(PercentEncode, KeepsOnlyLettersAndDigits) {
  EXPECT_EQ(PercentEncode("aZ09"), L"aZ09");
  EXPECT_EQ(PercentEncode("a b-._~+/="), L"a%20b%2d%2e%5f%7e%2b%2f%3d");
  EXPECT_EQ(PercentEncode("\xC4\xE3\x80"), L"%c4%e3%80");
  EXPECT_EQ(PercentEncode(std::string("\0", 1)), L"%00");
}
