#include "rtl/Files.h"
#include "rtl/StringList.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

TEST(StringListTest, SplitLines) {
    struct {
        std::string_view text;
        Lines lines;
    } const cases[] = {
        {"a\r\nb", {"a", "b"}},
        {"a\rb", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\r\nb\r\n", {"a", "b"}},  // a final break adds no empty line
        {"a\n", {"a"}},
        {"a\r", {"a"}},
        {"", {}},
        {"\r\n", {""}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\n\nb\n", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},  // LF then CR: two breaks
        {"mixed\rcr\nlf\r\ncrlf", {"mixed", "cr", "lf", "crlf"}},
        {" keep blanks \t", {" keep blanks \t"}},
    };
    for (const auto& c : cases) EXPECT_EQ(rtl::SplitLines(c.text), c.lines) << testing::PrintToString(std::string(c.text));
}

TEST(StringListTest, LoadLines) {
    TempDir dir;
    Lines lines{"old"};
    EXPECT_FALSE(rtl::LoadLines(dir / "missing.txt", lines));
    ASSERT_TRUE(rtl::WriteWholeFile(dir / "f.txt", "one\r\ntwo\nthree\r\n"));
    ASSERT_TRUE(rtl::LoadLines(dir / "f.txt", lines));
    EXPECT_EQ(lines, (Lines{"one", "two", "three"}));
}

TEST(StringListTest, SplitCommaText) {
    struct {
        std::string_view line;
        Lines fields;
    } const cases[] = {
        {"a,b,c", {"a", "b", "c"}},
        {"\"KEY\",\"Text one\",\"x, y\"", {"KEY", "Text one", "x, y"}},  // quotes keep blanks and commas
        {"KEY Text1 Text2", {"KEY", "Text1", "Text2"}},                   // blanks separate
        {"  a  ,  b  ", {"a", "b"}},
        {"\ta\x01,\x1f" "b", {"a", "b"}},                                   // control characters count as blanks
        {"\"say \"\"hi\"\"\",x", {"say \"hi\"", "x"}},                      // a doubled quote is one quote
        {"\"\"", {""}},
        {"\"\",\"\"", {"", ""}},
        {"a,", {"a", ""}},     // a trailing comma adds one empty field
        {"a,,b", {"a", "", "b"}},
        {"a, ,b", {"a", "", "b"}},
        {",a", {"", "a"}},
        {"\"unclosed, text", {"unclosed, text"}},  // runs to the end
        {"\"a\"b", {"a", "b"}},
        {"a\"b", {"a\"b"}},                     // a quote inside an unquoted field is kept
        {"", {}},
        {"   ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(rtl::SplitCommaText(c.line), c.fields) << testing::PrintToString(std::string(c.line));
}

}  // namespace
