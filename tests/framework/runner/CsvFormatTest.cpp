#include "framework/runner/CsvFormat.h"

#include <gtest/gtest.h>

#include <clocale>

TEST(CsvFormat, QuotesOnlyWhatNeedsItAndReadsItBack)
{
    EXPECT_EQ(CsvFormat::Field("plain"), "plain");
    EXPECT_EQ(CsvFormat::Field("1 0 0 1"), "1 0 0 1");
    EXPECT_EQ(CsvFormat::Field("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvFormat::Field("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvFormat::Field("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvFormat::Field(" padded"), "\" padded\"");
    EXPECT_EQ(CsvFormat::Field(""), "");

    const std::vector<std::string> fields = {"a,b", "say \"hi\"", "two\nlines", "", "x y;z w"};
    std::vector<std::string> quoted;
    for (const std::string& f : fields) quoted.push_back(CsvFormat::Field(f));
    const std::string text = "h1,h2,h3,h4,h5\r\n" + CsvFormat::Record(quoted) + "\n" + "cut,off";
    const auto rows = CsvFormat::Parse(text);
    ASSERT_EQ(rows.size(), 2u);  // the unterminated last record is dropped
    EXPECT_EQ(rows[0][4], "h5");
    EXPECT_EQ(rows[1], fields);
}

TEST(CsvFormat, NumbersIgnoreTheProcessLocale)
{
    // A program with a decimal-comma locale must still write "0.5".
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    const bool german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(CsvFormat::Number(0.5), "0.5");
    EXPECT_EQ(CsvFormat::Number(0.1), "0.10000000000000001");
    EXPECT_EQ(CsvFormat::Number(0.1f, 9), "0.100000001");
    EXPECT_EQ(CsvFormat::Number(-1e-20, 9), "-1e-20");
    EXPECT_EQ(CsvFormat::Number(12.25, 9), "12.25");
    double v = 0.0;
    EXPECT_TRUE(CsvFormat::ToNumber("2.5", v));
    EXPECT_EQ(v, 2.5);
    EXPECT_TRUE(CsvFormat::ToNumber(" 0.10000000000000001 ", v));
    EXPECT_EQ(v, 0.1);
    EXPECT_FALSE(CsvFormat::ToNumber("2,5", v));
    EXPECT_FALSE(CsvFormat::ToNumber("", v));
    EXPECT_FALSE(CsvFormat::ToNumber("1.5x", v));
    std::setlocale(LC_NUMERIC, before.c_str());
    if (!german) GTEST_LOG_(INFO) << "de_DE.UTF-8 not installed; checked in the C locale only";
}
