#include <gtest/gtest.h>

#include <cmath>

#include "core/util/cp1252.h"
#include "core/util/date_time.h"
#include "core/util/number_format.h"

namespace qvl {
namespace {

TEST(FormatFixed, RoundsToSevenSignificantDigitsThenPadsTheDecimals) {
  EXPECT_EQ(FormatFixed(12.345, 7, 1), "12.3");
  EXPECT_EQ(FormatFixed(25.05, 7, 0), "25");
  EXPECT_EQ(FormatFixed(1.23456789, 7, 8), "1.23456800");  // digits past 7 are not shown
  EXPECT_EQ(FormatFixed(123456.789, 7, 3), "123456.800");
  EXPECT_EQ(FormatFixed(0.5, 7, 2), "0.50");
  EXPECT_EQ(FormatFixed(-1.25, 7, 1), "-1.3");
  EXPECT_EQ(FormatFixed(3, 7, 0), "3");
  EXPECT_EQ(FormatFixed(0.125, 7, 2), "0.13");  // ties round away from zero
  EXPECT_EQ(FormatFixed(9.99, 7, 1), "10.0");
  EXPECT_EQ(FormatFixed(0.0004, 7, 3), "0.000");
  EXPECT_EQ(FormatFixed(0.0006, 7, 3), "0.001");
  EXPECT_EQ(FormatFixed(0, 7, 2), "0.00");
  EXPECT_EQ(FormatFixed(1234567.0, 7, 2), "1234567.00");
}

TEST(FormatFixed, TinyNegativeValuesShowAsZeroAndSpecialValuesAsWords) {
  EXPECT_EQ(FormatFixed(-0.0001, 7, 2), "0.00");
  EXPECT_EQ(FormatFixed(NAN, 7, 2), "NAN");
  EXPECT_EQ(FormatFixed(INFINITY, 7, 2), "INF");
  EXPECT_EQ(FormatFixed(-INFINITY, 7, 2), "-INF");
}

TEST(FormatFixed, TooManyIntegerDigitsFallsBackToScientific) {
  EXPECT_NE(FormatFixed(123456789.0, 7, 2).find('E'), std::string::npos);
}

TEST(FormatFixed, UsesTheChosenDecimalSeparator) {
  SetDecimalSeparator(',');
  EXPECT_EQ(FormatFixed(2.5, 7, 1), "2,5");
  double v = 0;
  EXPECT_TRUE(TryParseDouble("2,25", v));
  EXPECT_EQ(v, 2.25);
  SetDecimalSeparator('.');
  EXPECT_EQ(Format("%.1f|%s", 2.5, "a.b"), "2.5|a.b");
}

TEST(ParseNumbers, RejectsTrailingCharactersAndEmptyText) {
  double d;
  long long i;
  EXPECT_FALSE(TryParseDouble("", d));
  EXPECT_FALSE(TryParseDouble("1.5x", d));
  EXPECT_TRUE(TryParseDouble(" -1.5 ", d));
  EXPECT_EQ(d, -1.5);
  EXPECT_FALSE(TryParseInt("12a", i));
  EXPECT_TRUE(TryParseInt("-12", i));
  EXPECT_EQ(i, -12);
}

TEST(DateTime, DaysCountFrom1899December30) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), kUnixEpochDays);
  TDateTime t = EncodeDate(2024, 2, 29) + EncodeTime(13, 5, 9, 250);
  TDateTimeParts p = DecodeDateTime(t);
  EXPECT_EQ(p.year, 2024);
  EXPECT_EQ(p.month, 2);
  EXPECT_EQ(p.day, 29);
  EXPECT_EQ(p.hour, 13);
  EXPECT_EQ(p.minute, 5);
  EXPECT_EQ(p.second, 9);
  EXPECT_EQ(p.millisecond, 250);
  EXPECT_EQ(FormatDateTime("dd/mm/yyyy hh:nn:ss.zzz", t), "29/02/2024 13:05:09.250");
  EXPECT_EQ(FormatDateTime("d mmm yy, h:mm", t), "29 Feb 24, 13:05");
  EXPECT_EQ(DayOfWeek(t), 5);  // a Thursday
}

TEST(DateTime, DecodingRoundsToTheNearestMillisecond) {
  // 23:59:59.9996 must not come out as 23:59:59.999 of a day that then rolls over wrongly.
  TDateTime t = EncodeDate(2023, 12, 31) + (kMsPerDay - 0.4) / kMsPerDay;
  TDateTimeParts p = DecodeDateTime(t);
  EXPECT_EQ(p.year, 2024);
  EXPECT_EQ(p.month, 1);
  EXPECT_EQ(p.day, 1);
  EXPECT_EQ(p.hour, 0);
}

TEST(Cp1252, DegreeSignAndEuroCrossToUtf8AndBack) {
  EXPECT_EQ(Cp1252ToUtf8("\xB0"
                         "C"),
            "\xC2\xB0"
            "C");
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(Utf8ToCp1252("\xC2\xB0"
                         "F \xE2\x82\xAC"),
            "\xB0"
            "F \x80");
  EXPECT_EQ(Utf8ToCp1252("\xE4\xB8\xAD"), "?");  // not in the code page
  EXPECT_EQ(Utf8ToCp1252("\xC2"), "?");          // cut short
}

}  // namespace
}  // namespace qvl
