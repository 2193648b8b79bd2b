// Filling a page with a value: where a key is replaced and where it is
// left alone (tags, comments wherever a browser ends them, raw-text
// elements, SVG and MathML, handlers, unquoted values, script code), which
// texts are filled at all (by their encoding), and how the value is
// escaped for text, a data attribute and a script string.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "varlumefile/page_values.h"

namespace {

struct FillCase {
  const char* name;
  std::string page;
  std::string value;
  std::string expected;
  VLFillForm form = VLFillForm::Page;
};

class PageFill : public ::testing::TestWithParam<FillCase> {};

TEST_P(PageFill, ReplacesOnlyWhereTheValueStaysData) {
  std::string page = GetParam().page;
  ASSERT_TRUE(fillText(page, {{"KEY", GetParam().value}}, GetParam().form, VLFillBounds{1 << 20, 1 << 24, 1 << 26}));
  EXPECT_EQ(page, GetParam().expected);
}

void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }

const FillCase kFillCases[] = {
    {"Text", "<p>KEY and KEY</p>", "<b>&'\"", "<p>&lt;b&gt;&amp;&#39;&quot; and &lt;b&gt;&amp;&#39;&quot;</p>"},
    {"DataAttribute", "<p data-x=\"KEY\" title='KEY'>", "a\"b", "<p data-x=\"a&quot;b\" title='a&quot;b'>"},
    {"HandlerAttribute", "<p onclick=\"go('KEY')\">", "x", "<p onclick=\"go('KEY')\">"},
    {"LinkAttribute", "<a href=\"KEY\">", "javascript:x", "<a href=\"KEY\">"},
    {"UnquotedValue", "<p title=KEY>", "x", "<p title=KEY>"},
    {"TagAndAttributeNames", "<KEY KEY=\"1\">", "x", "<KEY KEY=\"1\">"},
    {"Comment", "<!-- KEY --><p>KEY</p>", "x", "<!-- KEY --><p>x</p>"},
    {"Style", "<style>KEY</style>", "x", "<style>KEY</style>"},
    {"ScriptCode", "<script>var KEY = \"KEY\";</script>", "x", "<script>var KEY = \"KEY\";</script>"},
    {"Title", "<title>KEY</title>", "<x>", "<title>&lt;x&gt;</title>"},
    {"TagInTextareaKeepsItsText", "<textarea><b>KEY</b></textarea>", "x", "<textarea><b>KEY</b></textarea>"},
    {"TextThatWouldOpenATag", "<p>1 <KEY</p>", "b", "<p>1 <KEY</p>"},
    {"Svg", "<svg><script>KEY</script></svg><p>KEY</p>", "x", "<svg><script>KEY</script></svg><p>KEY</p>"},
    {"MathMl", "<math><mi>KEY</mi></math>", "x", "<math><mi>KEY</mi></math>"},
    {"CommentInAScript", "<script><!--</script>--></script><p>KEY</p>", "x",
     "<script><!--</script>--></script><p>KEY</p>"},
    {"QuotedGreaterThanInAnEndTag", "</p a=\"><b title='>\"><script>f(KEY)</script>'>", "alert(1)",
     "</p a=\"><b title='>\"><script>f(KEY)</script>'>"},
    {"BogusComments", "<!x -- KEY><?x KEY><!DOCTYPE KEY></ KEY><p>KEY</p>", "x",
     "<!x -- KEY><?x KEY><!DOCTYPE KEY></ KEY><p>x</p>"},
    {"UnclosedAttribute", "<p title=\"KEY>KEY", "x", "<p title=\"KEY>KEY"},
    {"ScriptString", "<script>a = \"KEY\"; b = 'KEY'; c = KEY; d = \"KEY\"KEY\";</script>", "\"</script>\xC3\xA9",
     "<script>a = \"\\x22\\x3C\\x2Fscript\\x3E\\u00E9\"; b = '\\x22\\x3C\\x2Fscript\\x3E\\u00E9'; c = KEY; "
     "d = \"\\x22\\x3C\\x2Fscript\\x3E\\u00E9\"KEY\";</script>",
     VLFillForm::PageWithScriptStrings},
    {"ScriptStringOnlyWhereAsked", "<script>a = \"KEY\";</script>", "x", "<script>a = \"KEY\";</script>"},
    {"PlainTextAsItIs", "<p>KEY</p>", "<b>", "<p><b></p>", VLFillForm::PlainText},
};

INSTANTIATE_TEST_SUITE_P(Cases, PageFill, ::testing::ValuesIn(kFillCases),
                         [](const ::testing::TestParamInfo<FillCase>& info) { return std::string(info.param.name); });

// A comment before a script whose text holds "-->": wherever a browser
// ends the comment, the script's code is never filled; after a comment
// that readers could end in different places nothing is filled.
struct CommentCase {
  const char* name;
  const char* comment;
  bool restFilled;
};

class CommentBeforeAScript : public ::testing::TestWithParam<CommentCase> {};

TEST_P(CommentBeforeAScript, NeverFillsTheScript) {
  const std::string rest = "<script>var s = \"-->\"; f(KEY);</script><p>KEY</p>";
  std::string page = "<p>KEY</p>" + std::string(GetParam().comment) + rest;
  ASSERT_TRUE(fillText(page, {{"KEY", "alert(1)"}}, VLFillForm::Page, VLFillBounds{1 << 20, 1 << 24, 1 << 26}));
  std::string filledRest = rest;
  if (GetParam().restFilled) filledRest.replace(filledRest.rfind("KEY"), 3, "alert(1)");
  EXPECT_EQ(page, "<p>alert(1)</p>" + std::string(GetParam().comment) + filledRest);
}

void PrintTo(const CommentCase& c, std::ostream* os) { *os << c.name; }

const CommentCase kCommentCases[] = {
    {"Plain", "<!-- a -->", true},
    {"MoreDashesBeforeTheEnd", "<!-- a --->", true},
    {"FourDashes", "<!---->", true},
    {"NestedOpening", "<!-- <!-- a -->", true},
    {"BangNotAtTheEnd", "<!-- a --! b -->", true},
    {"EmptyAtOnce", "<!-->", false},
    {"EmptyWithADash", "<!--->", false},
    {"EndedByBang", "<!-- a --!>", false},
    {"EndedByBangAfterMoreDashes", "<!-- a ---!>", false},
    {"DashesBlanksAndGreaterThan", "<!-- a -- >", false},
};

INSTANTIATE_TEST_SUITE_P(Forms, CommentBeforeAScript, ::testing::ValuesIn(kCommentCases),
                         [](const ::testing::TestParamInfo<CommentCase>& info) { return std::string(info.param.name); });

// A text whose encoding does not keep ASCII bytes as themselves stays as it
// is; NUL bytes are text like any other.
TEST(PageFillEncodings, OnlyAsciiCompatibleTextsAreFilled) {
  struct Case {
    const char* name;
    std::string text;
    VLFillForm form;
    std::string expected;
  };
  const Case cases[] = {
      {"UTF-16LE mark", std::string("\xFF\xFE<\0p\0>\0KEY", 11), VLFillForm::Page, ""},
      {"UTF-16BE mark in a plain text", "\xFE\xFFKEY", VLFillForm::PlainText, ""},
      {"declared UTF-16", "<meta charset = 'utf-16le'>KEY", VLFillForm::Page, ""},
      {"declared UTF-7", "<meta http-equiv=content-type content=\"text/html;charset=UTF-7\">KEY", VLFillForm::Page, ""},
      {"declared ISO-2022-JP", "<meta charset=\"ISO-2022-JP\">KEY", VLFillForm::Page, ""},
      {"ISO-2022 escape", "\x1B(BKEY", VLFillForm::Page, ""},
      {"declared UTF-8", "<meta charset=\"utf-8\">KEY", VLFillForm::Page, "<meta charset=\"utf-8\">x"},
      {"UTF-8 mark", "\xEF\xBB\xBFKEY", VLFillForm::Page, "\xEF\xBB\xBFx"},
      {"escape in a plain text", "\x1BKEY", VLFillForm::PlainText, "\x1Bx"},
      {"NUL bytes", std::string("<p>\0KEY</p>\0KEY", 15), VLFillForm::Page, std::string("<p>\0x</p>\0x", 11)},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    ASSERT_TRUE(fillText(text, {{"KEY", "x"}}, c.form, VLFillBounds{1 << 20, 1 << 24, 1 << 26})) << c.name;
    EXPECT_EQ(text, c.expected.empty() ? c.text : c.expected) << c.name;
  }
  // A value never begins a text with such a mark, nor carries an escape into a page.
  std::string start = "KEY<p>x</p>";
  EXPECT_FALSE(fillText(start, {{"KEY", "\xFF\xFE"}}, VLFillForm::Page, VLFillBounds{1 << 20, 1 << 24, 1 << 26}));
  std::string escaped = "<p>KEY</p>";
  ASSERT_TRUE(fillText(escaped, {{"KEY", "\x1B$B"}}, VLFillForm::Page, VLFillBounds{1 << 20, 1 << 24, 1 << 26}));
  EXPECT_EQ(escaped, "<p>&#27;$B</p>");
}

TEST(PageFillBounds, AGrowingValueOrAValueHoldingItsKeyEnds) {
  std::string page = "<p>" + std::string(100, 'a') + "</p>";
  EXPECT_FALSE(fillText(page, {{"a", std::string(5000, 'b')}}, VLFillForm::Page, VLFillBounds{1 << 16, 1 << 24, 1 << 26}));
  std::string held = "<p>KEY KEY</p>";
  ASSERT_TRUE(fillText(held, {{"KEY", "KEYKEY"}}, VLFillForm::Page, VLFillBounds{1 << 20, 1 << 24, 1 << 26}));
  EXPECT_EQ(held, "<p>KEYKEY KEYKEY</p>");
}

// Every key looked for costs a pass over the text, found or not: keys past
// the bound of text looked through are refused, in pages and plain texts.
TEST(PageFillBounds, KeysThatNeverOccurCountTowardsTheTextLookedThrough) {
  const std::string large(1 << 16, 'a');
  std::vector<VLReplacement> absent;
  for (int i = 0; i < 16; ++i) absent.push_back({"absent" + std::to_string(i), "x"});
  for (VLFillForm form : {VLFillForm::PlainText, VLFillForm::Page}) {
    std::string within = large;
    EXPECT_TRUE(fillText(within, absent, form, VLFillBounds{1 << 20, 1 << 24, 16u << 16}));
    EXPECT_EQ(within, large);
    std::string past = large;
    absent.push_back({"a", "b"});
    EXPECT_FALSE(fillText(past, absent, form, VLFillBounds{1 << 20, 1 << 24, 16u << 16}));
    absent.pop_back();
  }
}

}  // namespace
