#include "foundation/url_escape.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(UrlEncode, EscapesItsSetInUpperCaseHexAndKeepsTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"a b", "a b"},
      {"100%", "100%25"},
      {"/", "%2F"},
      {"\xC8", "\xC8"},  // byte 200
      {"\"#%&+/;<=>?", "%22%23%25%26%2B%2F%3B%3C%3D%3E%3F"},
      {"\x01\x1F\x7F", "%01%1F%7F"},
      {" !$'()*,-.:@[\\]^_`{|}~", " !$'()*,-.:@[\\]^_`{|}~"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(urlEncode(in), out) << in;
}

// The output with its zero byte stays within `size`; bytes behind stay untouched.
TEST(UrlEncodeInto, StopsSilentlyWhereRoomEnds) {
  struct Case {
    const char* text;
    std::size_t size;
    const char* expected;
  };
  const Case cases[] = {
      {"a%", 4, "a"},     // the escape would leave no room for the zero byte
      {"%a", 4, "%25"},   // then fewer than three bytes are free
      {"abc", 4, "ab"},
      {"abc", 3, "a"},
      {"abc", 2, ""},
      {"%", 3, ""},
      {"ab", 5, "ab"},
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(c.size + 4, '#');
    urlEncodeInto(c.text, buffer.data(), c.size);
    EXPECT_EQ(std::string(buffer.data()), c.expected) << c.text << " in " << c.size;
    for (std::size_t i = std::string(c.expected).size(); i < c.size; ++i) EXPECT_EQ(buffer[i], '\0');
    EXPECT_EQ(std::string(buffer.data() + c.size, 4), "####") << c.text << " in " << c.size;
  }
  std::vector<char> untouched(8, '#');
  urlEncodeInto(nullptr, untouched.data(), untouched.size());
  EXPECT_EQ(std::string(untouched.begin(), untouched.end()), "########");
  urlEncodeInto("a", nullptr, 8);
  char none = '#';
  urlEncodeInto("a", &none, 0);
  EXPECT_EQ(none, '#');
}

TEST(UrlEncode, CutsAtItsBufferOfSixtyFourKilobytes) {
  EXPECT_EQ(urlEncode(std::string(70000, 'x')).size(), 65534u);
  EXPECT_EQ(urlEncode(std::string(30000, '/')).size(), 65535u);
}

TEST(UrlDecode, DecodesEveryEscapeWithoutValidating) {
  const std::pair<std::string, std::string> cases[] = {
      {"%41", "A"}, {"%4a", "J"}, {"a+b", "a+b"}, {"x%00y", "x"},
      {"%zz", "S"}, {"%2F%5c", "/\\"}, {"ab%4", "ab\x04"}, {"ab%", "ab"}, {"%", ""},
      {"%C8", "\xC8"}, {"", ""},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(urlDecode(in), out) << in;
}

TEST(UrlDecodeInto, CountsDecodedBytesAndStaysInItsBuffer) {
  struct Case {
    std::string text;
    std::size_t size;
    std::string expected;  // the bytes written before the zero byte
  };
  const Case cases[] = {
      {"x%00y", 10, std::string("x\0y", 3)},
      {"ab%", 10, std::string("ab\0", 3)},  // "%" at the end gives a zero byte and ends
      {"%4", 10, "\x04"},
      {"abcdef", 5, "abc"},                 // at most size - 2 bytes
      {"%41%42%43", 4, "AB"},
      {"abc", 2, ""},
  };
  for (const Case& c : cases) {
    std::vector<char> buffer(c.size + 4, '#');
    EXPECT_EQ(urlDecodeInto(c.text.c_str(), buffer.data(), c.size), c.expected.size()) << c.text;
    EXPECT_EQ(std::string(buffer.data(), c.expected.size()), c.expected) << c.text;
    for (std::size_t i = c.expected.size(); i < c.size; ++i) EXPECT_EQ(buffer[i], '\0') << c.text;
    EXPECT_EQ(std::string(buffer.data() + c.size, 4), "####") << c.text;
  }
  // Nothing behind the terminating zero is read.
  const char escapeAtEnd[] = {'a', '%', '4', '\0', '1', '2', '\0'};
  char out[16];
  EXPECT_EQ(urlDecodeInto(escapeAtEnd, out, sizeof out), 2u);
  EXPECT_EQ(out[1], '\x04');
  const char percentAtEnd[] = {'%', '\0', '4', '1', '\0'};
  EXPECT_EQ(urlDecodeInto(percentAtEnd, out, sizeof out), 1u);
  EXPECT_EQ(out[0], '\0');

  EXPECT_EQ(urlDecodeInto(nullptr, out, sizeof out), 0u);
  EXPECT_EQ(urlDecodeInto("a", nullptr, 8), 0u);
  char none = '#';
  EXPECT_EQ(urlDecodeInto("a", &none, 0), 0u);
  EXPECT_EQ(none, '#');
}

TEST(EscapeControlBytes, ControlBytesAndTheNamedOnesBecomeEscapes) {
  EXPECT_EQ(escapeControlBytes(std::string("a\x7f\x01\x1f b\x80\0", 8)), "a%7F%01%1F b\x80%00");
  EXPECT_EQ(escapeControlBytes("x'\"<y>\r\n", "'\"<>"), "x%27%22%3Cy%3E%0D%0A");
  EXPECT_EQ(escapeControlBytes("plain / text?"), "plain / text?");
}

}  // namespace
