#include "data/errors.h"
#include "data/number_text.h"

#include <gtest/gtest.h>

#include <cfenv>

#include <cmath>
#include <limits>
#include <utility>

namespace dravo2 {
namespace {

struct GeneralCase {
    long double value;
    int digits;
    const char* text;
};

TEST(GeneralNumberText, FormatsLikeTheWindowLabels) {
    const GeneralCase cases[] = {
        {1.1L, 5, "1.1"},
        {-0.0132L, 5, "-0.0132"},
        {12000, 5, "12000"},
        {123456, 5, "1.2346E5"},
        {99999.9L, 5, "1E5"},
        {1e-5L, 5, "1E-5"},
        {0, 5, "0"},
        {2.75e5L, 5, "2.75E5"},
        {250, 4, "250"},
        {-250, 4, "-250"},
        {0.25L, 4, "0.25"},
        {-250, 15, "-250"},
        {1, 15, "1"},
        {6.283185307179586, 5, "6.2832"},
        {-6.283185307179586, 5, "-6.2832"},
        {1e10, 5, "1E10"},
        {0.0001L, 5, "0.0001"},
        {0.00012345L, 5, "0.00012345"},
        {0.000012345L, 5, "1.2345E-5"},
        {100000, 6, "100000"},
        {1000000, 6, "1E6"},
        {0.5L, 5, "0.5"},
        // half away from zero at the kept digit
        {0.125L, 2, "0.13"},
        {-0.125L, 2, "-0.13"},
        {2.5L, 1, "3"},
        {9.5L, 1, "1E1"},
    };
    for (const GeneralCase& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(GeneralNumberText(c.value, c.digits), c.text);
    }
}

TEST(GeneralNumberText, UsesTheGivenSeparatorAndNamesNonFiniteValues) {
    EXPECT_EQ(GeneralNumberText(1.5L, 5, ','), "1,5");
    EXPECT_EQ(GeneralNumberText(1.2345e-7L, 5, ','), "1,2345E-7");
    EXPECT_EQ(GeneralNumberText(std::numeric_limits<long double>::quiet_NaN(), 5), "NAN");
    EXPECT_EQ(GeneralNumberText(std::numeric_limits<long double>::infinity(), 5), "INF");
    EXPECT_EQ(GeneralNumberText(-std::numeric_limits<long double>::infinity(), 5), "-INF");
}

TEST(GeneralNumberText, RoundsTheDoubleOfADecimalTextBackToThatText) {
    // A field written back by Reverse with 15 digits reads as the number the user meant.
    for (const double v : {0.1, -0.3, 123.456, 1e-7, 2.5e-9, 6.02214076e23}) {
        SCOPED_TRACE(v);
        EXPECT_EQ(TextToDouble(GeneralNumberText(v, 15)), v);
    }
}

TEST(ShortestNumberText, WritesTheFewestDigitsThatReadBack) {
    const std::pair<double, const char*> cases[] = {
        {-0.0002562739599393067, "-0.0002562739599393067"},
        {2e-9, "2e-9"},
        {-2.5e-5, "-2.5e-5"},
        {0.0005, "0.0005"},
        {1000, "1000"},
        {-250, "-250"},
        {123.456, "123.456"},
        {1e16, "1e16"},
        {6.02214076e23, "6.02214076e23"},
        {0, "0"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ShortestNumberText(value), text);
    }
    EXPECT_EQ(ShortestNumberText(-1.5e-9, ','), "-1,5e-9");
    // Every text reads back, through the fields' own reading, to the very double it was made from.
    for (int i = 0; i < 400; ++i) {
        const double value = std::sin(i + 0.5) * std::pow(10.0, i % 60 - 30);
        SCOPED_TRACE(value);
        EXPECT_EQ(TextToDouble(ShortestNumberText(value)), value);
        EXPECT_EQ(TextToDouble(ShortestNumberText(value, ','), ','), value);
    }
}

// The form the commands' tables and files use: std::to_chars's shortest, the longest double fits.
TEST(RoundTripText, WritesTheShortestFormWithTheSeparator) {
    const std::pair<double, const char*> cases[] = {
        {1e-5, "1e-05"}, {1e20, "1e+20"},     {0.001, "0.001"}, {-2.2250738585072014e-308, "-2.2250738585072014e-308"},
        {NAN, "nan"},    {-INFINITY, "-inf"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(RoundTripText(value), text);
        std::string appended = "x";
        AppendRoundTripText(appended, value);
        EXPECT_EQ(appended, std::string("x") + text);
    }
    EXPECT_EQ(RoundTripText(-1.5e-9, ','), "-1,5e-09");
}

// Cases met while fuzzing the formats: they pin what the formats are meant to do at their edges.
TEST(NumberFormats, EdgesFoundByFuzzing) {
    // The 18-digit expansion is rounded again at n digits: ...1600|464 becomes ...160|05, then up.
    EXPECT_EQ(GeneralNumberText(-1.00000766152516004648L, 17), "-1.0000076615251601");
    // Rounding the largest extended values names a number beyond the extended range.
    EXPECT_EQ(GeneralNumberText(-1.18973e4932L, 4), "-1.19E4932");
    // The 15-digit text of the largest double lies just beyond the double range.
    EXPECT_EQ(ResultValueText(-1.7976931348623157e308), "-1.79769313486232E+0308");
    // A message carries the text whole: a NUL (read from a file) and other control bytes show as \xHH.
    try {
        TextToReal(std::string("\0\x02", 2));
        FAIL() << "converted";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "'\\x00\\x02' is not a valid floating point value");
    }
}

TEST(TextToReal, AcceptsTheFieldSyntax) {
    EXPECT_EQ(TextToReal("1.5"), 1.5L);
    EXPECT_EQ(TextToReal("  -250.0 "), -250.0L);
    EXPECT_EQ(TextToReal("+2e-9"), 2e-9L);
    EXPECT_EQ(TextToReal("-0e-3"), 0.0L);
    EXPECT_TRUE(std::signbit(TextToReal("-0e-3")));
    EXPECT_EQ(TextToReal(".5"), 0.5L);
    EXPECT_EQ(TextToReal("1."), 1.0L);
    EXPECT_EQ(TextToReal("1E+3"), 1000.0L);
    EXPECT_EQ(TextToReal("0,25", ','), 0.25L);
    EXPECT_EQ(TextToReal("0.0000000002"), 2e-10L);
    EXPECT_EQ(TextToReal("1e4000"), 1e4000L);
}

TEST(TextToReal, RefusesWhatIsNotANumberWithTheFieldText) {
    for (const char* text :
         {"", " ", ".", "-", "1e", "1e+", "abc", "1.5x", "1 5", "--1", "1.2.3", "0x10", "1e5000", "nan", "inf"}) {
        SCOPED_TRACE(text);
        try {
            TextToReal(text);
            FAIL() << "converted";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.what(), "'" + std::string(text) + "' is not a valid floating point value");
        }
    }
    EXPECT_THROW(TextToReal("0.25", ','), ConversionError);
    EXPECT_THROW(TextToReal("0,25"), ConversionError);
}

TEST(TextToDouble, RaisesOverflowBeyondTheDoubleRange) {
    try {
        TextToDouble("1e4000");
        FAIL() << "stored";
    } catch (const FloatingPointError& error) {
        EXPECT_STREQ(error.what(), "Floating point overflow");
    }
    EXPECT_EQ(TextToDouble("-1e300"), -1e300);
}

// Flags left raised by earlier work (a dialog's event loop does that) are not this number's error:
// the fit dialog once showed no bounds for its first parameter.
TEST(TextToDouble, IgnoresFlagsRaisedBeforeTheConversion) {
    std::feraiseexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
    EXPECT_EQ(TextToDouble("1.5"), 1.5);
    std::feraiseexcept(FE_INVALID);
    EXPECT_EQ(TextToReal("2.5"), 2.5L);
}

TEST(TextToInteger, TakesDecimalIntegersWithinThe32BitRange) {
    EXPECT_EQ(TextToInteger("500"), 500);
    EXPECT_EQ(TextToInteger(" -1 "), -1);
    EXPECT_EQ(TextToInteger("+7"), 7);
    EXPECT_EQ(TextToInteger("2147483647"), 2147483647);
    EXPECT_EQ(TextToInteger("-2147483648"), -2147483647 - 1);
    for (const char* text : {"", "-", "1.0", "1e3", "2147483648", "-2147483649", "12a", "99999999999999999999"}) {
        SCOPED_TRACE(text);
        try {
            TextToInteger(text);
            FAIL() << "converted";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.what(), "'" + std::string(text) + "' is not a valid integer value");
        }
    }
}

TEST(ResultValueText, WritesTwentyThreeCharacters) {
    const std::pair<double, const char*> cases[] = {
        {1.5, " 1.50000000000000E+0000"},
        {-250000, "-2.50000000000000E+0005"},
        {0.0, " 0.00000000000000E+0000"},
        {-0.0, "-0.00000000000000E+0000"},
        {-1.0, "-1.00000000000000E+0000"},
        {1e-300, " 1.00000000000000E-0300"},
        {4.9406564584124654e-324, " 4.94065645841247E-0324"},
        {1.7976931348623157e308, " 1.79769313486232E+0308"},
        {0.1234567890123455, " 1.23456789012345E-0001"},
        {std::numeric_limits<double>::quiet_NaN(), "                    Nan"},
        {std::numeric_limits<double>::infinity(), "                   +Inf"},
        {-std::numeric_limits<double>::infinity(), "                   -Inf"},
    };
    for (const auto& [value, text] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ResultValueText(value), text);
    }
}

TEST(ParseDataNumber, UsesTheFixedSyntaxWithAFullStop) {
    long double v = 0;
    EXPECT_TRUE(ParseDataNumber("1.5E+03", v));
    EXPECT_EQ(v, 1500.0L);
    EXPECT_TRUE(ParseDataNumber("-2", v));
    EXPECT_EQ(v, -2.0L);
    EXPECT_FALSE(ParseDataNumber("1,5", v));
    EXPECT_FALSE(ParseDataNumber("1;", v));
    EXPECT_FALSE(ParseDataNumber("x", v));
}

} // namespace
} // namespace dravo2
