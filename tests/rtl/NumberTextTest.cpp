// Numbers spelt with a point whatever locale the suite runs in (make test-locale runs it under
// it_IT.UTF-8).
#include "rtl/NumberText.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <clocale>
#include <cstdio>

namespace {

TEST(NumberText, FormatsWithAPoint) {
    EXPECT_EQ(rtl::FormatC("%4.1f|%6.*f|%g|%.3e", -0.5, 2, 21.5, 1638.4, 1e-6), "-0.5| 21.50|1638.4|1.000e-06");
    EXPECT_EQ(rtl::FormatC("%200d", 7).size(), 200u);  // longer than the stack buffer
    EXPECT_EQ(rtl::FormatC("%s", ""), "");
}

TEST(NumberText, ReadsOnlyAWholeNumberWithAPoint) {
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"21.5", 21.5},        {"-0.5", -0.5},        {"+8.04", 8.04},       {"30", 30.0},
        {"1.5E2", 150.0},      {"21,5", std::nullopt}, {"", std::nullopt},   {" 1", std::nullopt},
        {"1 ", std::nullopt},  {"+-1", std::nullopt}, {"inf", std::nullopt}, {"nan", std::nullopt},
        {"1e400", std::nullopt}, {"0x10", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(rtl::ParseDouble(c.text), c.value) << c.text;
}

TEST(NumberText, AThreadInACommaLocaleKeepsItsOwnSpelling) {
    EXPECT_EQ(rtl::LocaleDecimalPoint(), *std::localeconv()->decimal_point);
    const locale_t italian = newlocale(LC_NUMERIC_MASK, "it_IT.UTF-8", locale_t(0));
    if (!italian) GTEST_SKIP() << "it_IT.UTF-8 is not installed (make test-locale installs it)";
    const locale_t previous = uselocale(italian);
    EXPECT_EQ(rtl::FormatC("%.1f", 21.5), "21.5");
    EXPECT_EQ(rtl::LocaleDecimalPoint(), ',');
    char own[8];
    std::snprintf(own, sizeof own, "%.1f", 21.5);
    EXPECT_STREQ(own, "21,5") << "the thread's locale is back after FormatC";
    uselocale(previous);
    freelocale(italian);
}

}  // namespace
