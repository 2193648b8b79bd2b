#include "foundation/query_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CountPairs, CountsEveryEquals) {
  EXPECT_EQ(countPairs("a=1&b=2"), 2);
  EXPECT_EQ(countPairs("a=b=c"), 2);
  EXPECT_EQ(countPairs("a&b"), 0);
  EXPECT_EQ(countPairs(""), 0);
}

TEST(QueryValue, FindsTheFirstKeyEvenInsideALongerKey) {
  struct Case {
    const char* key;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"port", "proxyport=3128&port=8080", "3128"},  // the tail of a longer key matches
      {"port", "port=8080&proxyport=3128", "8080"},
      {"b", "a=1&b=2&c=3", "2"},
      {"c", "a=1&b=2&c=3", "3"},
      {" a ", "a=1", "1"},          // the key is trimmed of blanks
      {"missing", "a=1", ""},
      {"a", "x=1&a=", ""},          // "=" ends the text
      {"a", "a=&b=2", ""},
      {"A", "a=1", ""},             // keys are case-sensitive
      {"a", "a=x=y&b", "x=y"},
  };
  for (const Case& c : cases) EXPECT_EQ(queryValue(c.key, c.text), c.expected) << c.key << " in " << c.text;
}

TEST(QueryPair, TakesTheNthPairCountingAmpersandsFromIndexOne) {
  struct Case {
    const char* text;
    int n;
    const char* key;
    const char* value;
  };
  const Case cases[] = {
      {"a=1&b=2", 0, "a", "1"},
      {"a=1&b=2", 1, "b", "2"},
      {"a=1&b=2", 2, "", ""},        // two pairs, n = 2
      {"&a=1&b=2", 0, "&a", "1"},
      {"&a=1&b=2", 1, "b", "2"},     // the "&" at index 0 is not counted
      {"a=1&", 1, "", ""},           // the n-th "&" ends the text
      {" k = v &x=1", 0, "k", " v "},  // key blank-trimmed, value as it is
      {"a&b=2", 0, "a&b", "2"},
      {"abc", 0, "", ""},
      {" \t\r\n", 0, "", ""},
      {"a=1", -1, "", ""},
  };
  for (const Case& c : cases) {
    std::string key = "old";
    std::string value = "old";
    EXPECT_EQ(queryPair(key, value, c.text, c.n), c.value) << c.text << " #" << c.n;
    EXPECT_EQ(key, c.key) << c.text << " #" << c.n;
    EXPECT_EQ(value, c.value) << c.text << " #" << c.n;
  }
}

TEST(SetQueryValue, RebuildsEveryPairWithTheKeysValueReplaced) {
  struct Case {
    const char* key;
    const char* value;
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"b", "X", "a=1&b=&c=3", "a=1&b=X&c=3"},  // an empty value is filled in
      {"proxyhost", "h", "varlume=8080&proxyhost=&proxyport=-1", "varlume=8080&proxyhost=h&proxyport=-1"},
      {"z", "X", "a=1", "a=1"},                  // absent keys are not added
      {"a", "X", "a=b=c", "a=X&="},              // one "=" too many gives a trailing "&="
      {"a", "X", " a =1&a=2", "a=X&a=X"},
      {"port", "X", "proxyport=1", "proxyport=1"},
      {"a", "X", "", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(setQueryValue(c.key, c.value, c.text), c.expected) << c.text;
}

}  // namespace
