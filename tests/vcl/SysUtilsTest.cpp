// Letter case, Format, number texts, date-time encoding and texts, and the
// exception tree.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "vcl/SysUtils.h"

namespace {

using vcl::Format;

// The conventions the tests read their texts with, whatever the machine's.
class SysUtilsTest : public testing::Test {
 protected:
  vcl::ScopedFormatSettings settings_{vcl::TFormatSettings{}};
};

// Only ASCII letters have a case: the bytes of "\xC3\xA4" (a UTF-8 letter)
// and '_' stay, which also puts '_' after the letters in CompareText's order.
TEST(LetterCaseTest, OnlyAsciiLettersChangeCase) {
  EXPECT_EQ(vcl::UpperCase("az AZ_09 @[`{ \xC3\xA4"), "AZ AZ_09 @[`{ \xC3\xA4");
  EXPECT_EQ(vcl::LowerCase("az AZ_09 @[`{ \xC3\x84"), "az az_09 @[`{ \xC3\x84");
  EXPECT_EQ(vcl::UpperCase(u'q'), u'Q');
  EXPECT_EQ(vcl::LowerCase(u'\u00C4'), u'\u00C4');
  const struct {
    const char* a;
    const char* b;
    int order;  // the sign of CompareText; SameText where it is 0
  } cases[] = {
      {"", "", 0},          {"Abc", "aBC", 0}, {"abc", "abd", -1}, {"ab", "abc", -1},
      {"abc", "AB", 1},     {"_", "z", 1},     {"_", "Z", 1},      {"\xC3\xA4", "\xC3\x84", 1},
      {"\xC3\xA4", "z", 1},
  };
  const auto sign = [](int value) { return (value > 0) - (value < 0); };
  for (const auto& c : cases) {
    EXPECT_EQ(sign(vcl::CompareText(c.a, c.b)), c.order) << c.a << " | " << c.b;
    EXPECT_EQ(sign(vcl::CompareText(c.b, c.a)), -c.order) << c.a << " | " << c.b;
    EXPECT_EQ(vcl::SameText(c.a, c.b), c.order == 0) << c.a << " | " << c.b;
  }
}

TEST_F(SysUtilsTest, FormatConvertsEachKindWithWidthPrecisionAndAlignment) {
  EXPECT_EQ(Format("$%x", 0xC0040007u), "$C0040007");
  EXPECT_EQ(Format("$%x", int32_t{-2147467259}), "$80004005");  // 32 bits for a 32-bit value
  EXPECT_EQ(Format("$%x", int64_t{-1}), "$FFFFFFFFFFFFFFFF");
  EXPECT_EQ(Format("+%7d", 3), "+      3");
  EXPECT_EQ(Format("[%-5d]", -3), "[-3   ]");
  EXPECT_EQ(Format("%.4d|%.4x", -12, 255), "-0012|00FF");
  EXPECT_EQ(Format("%u", -1), "4294967295");
  EXPECT_EQ(Format("%d", 3221487623u), "3221487623");
  EXPECT_EQ(Format("%s=%d%%", std::string("a"), int64_t{-9000000000}), "a=-9000000000%");
  EXPECT_EQ(Format("%.2s|%5s", "abc", "x"), "ab|    x");
  EXPECT_EQ(Format("%f|%.0f|%.3f", 2.5, 2.5, -1.25), "2.50|2|-1.250");
  EXPECT_EQ(Format("%e", 1000.0), "1.00000000000000E+003");
  EXPECT_EQ(Format("%.3e", -0.000123456), "-1.23E-004");
  EXPECT_EQ(Format("%g|%g|%g", 0.1, 1e20, 123456789012345678.0), "0.1|1E20|1.23456789012346E17");
  EXPECT_EQ(Format("%g", std::nan("")), "NAN");
  EXPECT_EQ(Format("no arguments"), "no arguments");
  {
    vcl::TFormatSettings comma;
    comma.DecimalSeparator = ',';
    vcl::ScopedFormatSettings german(comma);
    EXPECT_EQ(Format("%g %f", 1.5, 1.5), "1,5 1,50");
  }
}

TEST_F(SysUtilsTest, FormatRefusesBadFormatsAndMismatchedArguments) {
  const char* bad[] = {"%s", "%", "%5", "%q", "%*d", "%0:d", "%999999d", "%.999999f", "%d %d"};
  for (const char* format : bad) {
    try {
      Format(format, 1);
      ADD_FAILURE() << format;
    } catch (const vcl::EConvertError& error) {
      EXPECT_EQ(error.what(),
                "Format '" + std::string(format) + "' invalid or incompatible with argument");
    }
  }
  EXPECT_THROW(Format("%d", "text"), vcl::EConvertError);
  EXPECT_THROW(Format("%s", 5), vcl::EConvertError);
  EXPECT_THROW(Format("%g", 5), vcl::EConvertError);
  EXPECT_THROW(Format("%d", 5.0), vcl::EConvertError);
  EXPECT_THROW(Format("%d", true), vcl::EConvertError);
  EXPECT_THROW(Format("%d %d", 1), vcl::EConvertError);
}

TEST_F(SysUtilsTest, IntegerTexts) {
  EXPECT_EQ(vcl::IntToStr(-42), "-42");
  EXPECT_EQ(vcl::IntToHex(255, 4), "00FF");
  EXPECT_EQ(vcl::IntToHex(-1, 2), "FFFFFFFFFFFFFFFF");

  struct Case {
    const char* text;
    bool valid;
    int32_t value;
  };
  const Case cases[] = {
      {" -12", true, -12},
      {"+7", true, 7},
      {"$1F", true, 31},
      {"0x1f", true, 31},
      {"0X1F", true, 31},
      {"-$10", true, -16},
      {"$FFFFFFFF", true, -1},
      {"2147483647", true, INT32_MAX},
      {"-2147483648", true, INT32_MIN},
      {"12 ", false, 0},
      {"2147483648", false, 0},
      {"$100000000", false, 0},
      {"", false, 0},
      {" ", false, 0},
      {"-", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"1.5", false, 0},
  };
  for (const Case& c : cases) {
    int32_t value = 0;
    EXPECT_EQ(vcl::TryStrToInt(c.text, value), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(value, c.value) << c.text;
      EXPECT_EQ(vcl::StrToInt(c.text), c.value);
    }
  }
  try {
    vcl::StrToInt("12 ");
    ADD_FAILURE();
  } catch (const vcl::EConvertError& error) {
    EXPECT_STREQ(error.what(), "'12 ' is not a valid integer value");
  }
  EXPECT_EQ(vcl::StrToInt64("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(vcl::StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(vcl::StrToInt64("2147483648"), 2147483648LL);
  EXPECT_THROW(vcl::StrToInt64("9223372036854775808"), vcl::EConvertError);
  // NUL is a character like any other: it ends no number.
  EXPECT_THROW(vcl::StrToInt(std::string("1\0"
                                         "2",
                                         3)),
               vcl::EConvertError);
}

TEST_F(SysUtilsTest, FloatTexts) {
  struct Case {
    double value;
    const char* text;
  };
  const Case shown[] = {
      {0.1, "0.1"},
      {1e20, "1E20"},
      {123456789012345678.0, "1.23456789012346E17"},
      {0, "0"},
      {-2.5, "-2.5"},
      {100, "100"},
      {1e15, "1E15"},
      {123456789012345.0, "123456789012345"},
      {0.00001, "0.00001"},
      {0.000001, "1E-6"},
      {1.0 / 3, "0.333333333333333"},
      {INFINITY, "INF"},
      {-INFINITY, "-INF"},
  };
  for (const Case& c : shown)
    EXPECT_EQ(vcl::FloatToStr(c.value), c.text) << c.text;

  const Case read[] = {{0.5, " .5 "}, {-12.25, "-12.25"}, {1200, "1.2e3"},
                       {5, "+5."},    {0, "1e-400"},      {1e-5, "1E-5"}};
  for (const Case& c : read)
    EXPECT_EQ(vcl::StrToFloat(c.text), c.value) << c.text;
  for (const char* invalid : {"", ".", "e5", "1e", "1,5", "1e400", "nan", "inf", "0x10", "1 2"})
    EXPECT_THROW(vcl::StrToFloat(invalid), vcl::EConvertError) << invalid;
  try {
    vcl::StrToFloat("abc");
    ADD_FAILURE();
  } catch (const vcl::EConvertError& error) {
    EXPECT_STREQ(error.what(), "'abc' is not a valid floating point value");
  }
}

TEST_F(SysUtilsTest, DatesEncodeAndDecodeWithTheNegativeDateRule) {
  EXPECT_EQ(vcl::EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(vcl::EncodeDate(2024, 3, 5), 45356);
  EXPECT_EQ(vcl::EncodeDate(1, 1, 1), -693593);
  EXPECT_EQ(vcl::EncodeDate(9999, 12, 31), 2958465);
  EXPECT_EQ(vcl::EncodeDate(2000, 2, 29), 36585);
  EXPECT_THROW(vcl::EncodeDate(1900, 2, 29), vcl::EConvertError);
  EXPECT_THROW(vcl::EncodeDate(10000, 1, 1), vcl::EConvertError);
  EXPECT_THROW(vcl::EncodeTime(24, 0, 0, 0), vcl::EConvertError);
  EXPECT_EQ(vcl::EncodeTime(6, 0, 0, 0), 0.25);

  // -1.25: the day is -1 (29 December 1899), the absolute fraction the time.
  const vcl::TDateParts date = vcl::DecodeDate(-1.25);
  EXPECT_EQ(date.year * 10000 + date.month * 100 + date.day, 18991229);
  const vcl::TTimeParts time = vcl::DecodeTime(-1.25);
  EXPECT_EQ(time.hour, 6);
  EXPECT_EQ(vcl::ComposeDateTime(vcl::EncodeDate(1899, 12, 29), vcl::EncodeTime(6, 0, 0, 0)),
            -1.25);
  // Rounded to the millisecond, also across midnight.
  const double stamp = vcl::EncodeDate(2024, 3, 5) + vcl::EncodeTime(14, 3, 7, 42);
  EXPECT_EQ(vcl::FormatDateTime("yyyy/mm/dd hh:nn:ss.zzz", stamp), "2024/03/05 14:03:07.042");
  EXPECT_EQ(vcl::FormatDateTime("dd.mm.yyyy hh:nn:ss.zzz", 45356.9999999999),
            "06.03.2024 00:00:00.000");
  for (double invalid : {std::nan(""), 1e300, -693594.0, 2958466.0})
    EXPECT_THROW(vcl::DecodeDate(invalid), vcl::EConvertError) << invalid;
}

TEST_F(SysUtilsTest, DateTexts) {
  const double stamp = vcl::EncodeDate(2024, 3, 5) + vcl::EncodeTime(9, 3, 7, 5);
  EXPECT_EQ(vcl::FormatDateTime("d.m.yy h:n:s z 'at' \"d\" - YYYY", stamp),
            "5.3.24 9:3:7 5 at d - 2024");
  EXPECT_EQ(vcl::DateTimeToStr(stamp), "05.03.2024 09:03:07");
  EXPECT_EQ(vcl::DateTimeToStr(vcl::EncodeDate(2024, 3, 5)), "05.03.2024");  // midnight: no time

  struct Case {
    const char* text;
    double value;
  };
  const Case read[] = {
      {"05.03.2024 14:03:07", vcl::EncodeDate(2024, 3, 5) + vcl::EncodeTime(14, 3, 7, 0)},
      {" 5.3.2024 ", vcl::EncodeDate(2024, 3, 5)},
      {"5.3.24  1:02", vcl::EncodeDate(2024, 3, 5) + vcl::EncodeTime(1, 2, 0, 0)},
      {"01.01.1950 00:00:00.5", vcl::EncodeDate(1950, 1, 1) + vcl::EncodeTime(0, 0, 0, 500)},
      {"06:00", 0.25},
      {"29.12.1899 06:00", -1.25},
  };
  for (const Case& c : read)
    EXPECT_EQ(vcl::StrToDateTime(c.text), c.value) << c.text;
  for (const char* invalid : {"", "31.02.2024", "05.03", "05.03.2024 25:00", "05.03.2024x",
                              "05.03.2024 14", "14:03:07.1234", "1.1.10000"})
    EXPECT_THROW(vcl::StrToDateTime(invalid), vcl::EConvertError) << invalid;
  try {
    vcl::StrToDateTime("never");
    ADD_FAILURE();
  } catch (const vcl::EConvertError& error) {
    EXPECT_STREQ(error.what(), "'never' is not a valid date and time");
  }

  vcl::TFormatSettings us;
  us.DateSeparator = '/';
  us.ShortDateFormat = "m/d/yyyy";
  vcl::ScopedFormatSettings american(us);
  EXPECT_EQ(vcl::StrToDateTime("3/5/2024"), vcl::EncodeDate(2024, 3, 5));
  EXPECT_EQ(vcl::DateTimeToStr(vcl::EncodeDate(2024, 3, 5)), "3/5/2024");
}

TEST(ExceptionTreeTest, KindsDeriveAsInTheClassLibraryAndNameThemselves) {
  try {
    throw vcl::EVariantOverflowError("too big");
  } catch (const vcl::EVariantError& error) {
    EXPECT_EQ(error.ClassName(), "EVariantOverflowError");
    EXPECT_EQ(error.Message(), "too big");
  }
  const vcl::Exception& component = vcl::EComponentError("x");
  EXPECT_EQ(component.ClassName(), "EComponentError");
  EXPECT_NE(dynamic_cast<const vcl::EIntError*>(
                &static_cast<const vcl::Exception&>(vcl::ERangeError("r"))),
            nullptr);
  EXPECT_NE(dynamic_cast<const vcl::EMathError*>(
                &static_cast<const vcl::Exception&>(vcl::EZeroDivide("z"))),
            nullptr);
}

}  // namespace
