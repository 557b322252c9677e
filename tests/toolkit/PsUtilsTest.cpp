// The tick, local time, file times, file versions, and the variant routines.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "TestFolder.h"
#include "platform/Files.h"
#include "toolkit/Clock.h"
#include "toolkit/PsUtils.h"

namespace {

using namespace toolkit;

constexpr uint64_t kWrap = uint64_t{1} << 32;

// A manual clock with a fresh tick state for each test.
class ManualClockTest : public testing::Test {
 protected:
  ManualClockTest() { ResetTickState(); }
  ~ManualClockTest() override { ResetTickState(); }
  ManualClock clock_;
  platform::ScopedService<Clock> installed_{clock_};
  vcl::ScopedFormatSettings settings_{vcl::TFormatSettings{}};
};

using TickTest = ManualClockTest;

TEST_F(TickTest, EveryDropOfTheThirtyTwoBitTickIsAWrap) {
  const struct {
    uint32_t tick;
    uint64_t expected;
  } steps[] = {
      {4294967000u, 4294967000u},
      {4294967290u, 4294967290u},
      {5, kWrap + 5},
      {10, kWrap + 10},
      {0x80000100u, kWrap + 0x80000100u},
      {0x100, 2 * kWrap + 0x100},
      {0x60000000u, 2 * kWrap + 0x60000000u},
      // Less than half the range lower (one call in 31 days): a wrap too.
      {0x10000000u, 3 * kWrap + 0x10000000u},
      {0x10000000u, 3 * kWrap + 0x10000000u},
  };
  for (const auto& step : steps) {
    clock_.SetTick(step.tick);
    EXPECT_EQ(PsGetTickCount64(), step.expected) << step.tick;
  }
}

TEST_F(TickTest, ConcurrentCallersCountOneWrapOnce) {
  clock_.SetTick(0xFFFFFF00u);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::atomic<int> calls{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      while (!stop) {
        const uint64_t now = PsGetTickCount64();
        if (now != 0xFFFFFF00u && now != kWrap + 10)
          ++wrong;
        ++calls;
      }
    });
  }
  while (calls < 1000)
    std::this_thread::yield();
  clock_.SetTick(10);
  const int before = calls;
  while (calls < before + 1000)
    std::this_thread::yield();
  stop = true;
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(PsGetTickCount64(), kWrap + 10);
}

using LocalTimeTest = ManualClockTest;

double At(int year, int month, int day, int hour, int minute) {
  return vcl::EncodeDate(year, month, day) + vcl::EncodeTime(hour, minute, 0, 0);
}

TEST_F(LocalTimeTest, ZoneRulesGiveStandardOrDaylightTime) {
  const auto cet = platform::ParseTzRule("CET-1CEST,M3.5.0,M10.5.0/3");
  const auto aest = platform::ParseTzRule("AEST-10AEDT,M10.1.0,M4.1.0/3");
  const auto utc = platform::ParseTzRule("UTC0");
  const auto fixed = platform::ParseTzRule("XYZ-2ABC,J60,J300");  // not the M form: no DST
  ASSERT_TRUE(cet && aest && utc && fixed);
  struct Case {
    const platform::TimeZoneRules* zone;
    double utc;
    double local;
  };
  const Case cases[] = {
      {&*cet, At(2024, 7, 1, 12, 0), At(2024, 7, 1, 14, 0)},
      {&*cet, At(2024, 1, 1, 12, 0), At(2024, 1, 1, 13, 0)},
      // 31 March 2024, the last Sunday: standard time at the moment itself.
      {&*cet, At(2024, 3, 31, 0, 59), At(2024, 3, 31, 1, 59)},
      {&*cet, At(2024, 3, 31, 1, 0), At(2024, 3, 31, 2, 0)},
      {&*cet, At(2024, 3, 31, 1, 1), At(2024, 3, 31, 3, 1)},
      // 27 October 2024, 03:00 daylight time is 01:00 UTC.
      {&*cet, At(2024, 10, 27, 0, 59), At(2024, 10, 27, 2, 59)},
      {&*cet, At(2024, 10, 27, 1, 0), At(2024, 10, 27, 2, 0)},
      {&*cet, At(2024, 10, 27, 1, 1), At(2024, 10, 27, 2, 1)},
      {&*aest, At(2024, 1, 1, 0, 0), At(2024, 1, 1, 11, 0)},
      {&*aest, At(2024, 7, 1, 0, 0), At(2024, 7, 1, 10, 0)},
      {&*utc, At(2024, 7, 1, 0, 0), At(2024, 7, 1, 0, 0)},
      {&*fixed, At(2024, 7, 1, 0, 0), At(2024, 7, 1, 2, 0)},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(UTCToLocalTime(c.utc, *c.zone), c.local, 1e-9)
        << vcl::FormatDateTime("dd.mm.yyyy hh:nn", c.utc);
  }
  // Moments the calendar cannot hold keep the standard bias.
  EXPECT_NEAR(UTCToLocalTime(2958465.99, *cet), 2958465.99 + 1 / 24.0, 1e-9);

  clock_.SetZone(*cet);
  EXPECT_EQ(GetLocalUTCOffset(), 60);
  EXPECT_NEAR(UTCToLocalTime(At(2024, 7, 1, 12, 0)), At(2024, 7, 1, 14, 0), 1e-9);
  EXPECT_EQ(UTCToLocalText(At(2024, 7, 1, 12, 0)), "01.07.2024 14:00:00");
  clock_.SetNow(45000.5);
  EXPECT_EQ(NowUTC(), 45000.5);
}

TEST(FileTimeTest, FileTimesCountFrom1601) {
  EXPECT_EQ(DateTimeToFileTime(1.5), 94354416000000000u);
  EXPECT_EQ(FileTimeToDateTime(94354416000000000u), 1.5);
  EXPECT_EQ(DateTimeToFileTime(0), 0u);
  EXPECT_EQ(DateTimeToFileTime(std::nan("")), 0u);
  EXPECT_EQ(FileTimeToDateTime(0), vcl::EncodeDate(1601, 1, 1));
  // The negative-date rule both ways.
  const uint64_t before = DateTimeToFileTime(-1.25);
  EXPECT_EQ(before, (109204 * 86400000ull + 6 * 3600000ull) * 10000);
  EXPECT_EQ(FileTimeToDateTime(before), -1.25);
  const double stamp = vcl::EncodeDate(2024, 3, 5) + vcl::EncodeTime(14, 3, 7, 42);
  EXPECT_EQ(FileTimeToDateTime(DateTimeToFileTime(stamp)), stamp);
  EXPECT_EQ(FileTimeToDateTime(DateTimeToFileTime(stamp) + 9999), stamp);  // to the millisecond
  const uint64_t lastMs = DateTimeToFileTime(vcl::EncodeDate(9999, 12, 31)) + 86399999ull * 10000;
  EXPECT_NO_THROW(FileTimeToDateTime(lastMs));
  EXPECT_THROW(FileTimeToDateTime(lastMs + 10000), vcl::EConvertError);
  EXPECT_THROW(FileTimeToDateTime(UINT64_MAX), vcl::EConvertError);
  EXPECT_THROW(DateTimeToFileTime(2958466.0), vcl::EConvertError);
  EXPECT_THROW(DateTimeToFileTime(vcl::EncodeDate(1600, 12, 31)), vcl::EConvertError);
}

// A version block as the resource compiler lays it out, with the fixed part.
std::string VersionBlock(uint32_t mostSignificant, uint32_t leastSignificant) {
  std::string block;
  auto word = [&](uint32_t value) {
    block += static_cast<char>(value & 0xFF);
    block += static_cast<char>(value >> 8 & 0xFF);
  };
  auto dword = [&](uint32_t value) {
    word(value & 0xFFFF);
    word(value >> 16);
  };
  word(0);
  word(52);
  word(0);
  for (char c : std::string("VS_VERSION_INFO"))
    word(static_cast<unsigned char>(c));
  word(0);
  while (block.size() % 4)
    block += '\0';
  for (uint32_t value : {0xFEEF04BDu, 0x10000u, mostSignificant, leastSignificant})
    dword(value);
  block.append(36, '\0');
  block[0] = static_cast<char>(block.size());
  return block;
}

TEST(FileVersionTest, TheFixedPartGivesTheVersionWords) {
  const std::string block = VersionBlock(3 << 16 | 1, 2 << 16 | 11);
  EXPECT_EQ(ReadFixedFileVersion(block), (std::array<uint16_t, 4>{3, 1, 11, 2}));
  // Truncated, a length beyond the block, a wrong signature: nothing.
  EXPECT_FALSE(ReadFixedFileVersion(block.substr(0, block.size() - 1)));
  EXPECT_FALSE(ReadFixedFileVersion(block.substr(0, 5)));
  std::string wrong = block;
  wrong[40] = 0;
  EXPECT_FALSE(ReadFixedFileVersion(wrong));

  uint16_t v1 = 0, v2 = 0, v3 = 0, v4 = 0;
  const std::string program = platform::files().ExecutablePath();
  ASSERT_TRUE(PsGetFileVersion(program, v1, v2, v3, v4)) << program;
  EXPECT_GE(v1, 1);
  korva_test::TestFolder folder;
  const std::string plain = folder.File("plain.txt");
  korva_test::TestFolder::Put(plain, "no version here");
  EXPECT_FALSE(PsGetFileVersion(plain, v1, v2, v3, v4));
  EXPECT_FALSE(PsGetFileVersion(folder.File("missing.exe"), v1, v2, v3, v4));
}

class VariantTextTest : public testing::Test {
 protected:
  vcl::ScopedFormatSettings settings_{vcl::TFormatSettings{}};
};

PsVariant IntArray(int32_t low, std::vector<int32_t> values) {
  PsVariant array =
      PsVariant::Array({{low, low + static_cast<int32_t>(values.size()) - 1}}, varInteger);
  for (size_t i = 0; i < values.size(); ++i)
    array.PutElement({low + static_cast<int32_t>(i)}, values[i]);
  return array;
}

TEST_F(VariantTextTest, ClassesTypesAndTheirNames) {
  const struct {
    PsVariant value;
    TPsVariantClass expected;
  } classes[] = {
      {PsVariant(), vcNull},
      {PsVariant::Null(), vcNull},
      {PsVariant::Byte(1), vcInteger},
      {PsVariant::Word(1), vcInteger},
      {PsVariant::Shortint(1), vcOther},
      {int64_t{1}, vcBigInt},
      {uint32_t{1}, vcBigInt},
      {"s", vcString},
      {PsVariant::OleStr("s"), vcString},
      {true, vcBoolean},
      {PsVariant::Currency(1), vcFloat},
      {PsVariant::Date(1), vcDate},
      {PsVariant::Error(1), vcOther},
      {IntArray(0, {1}), vcInteger},
  };
  for (const auto& c : classes)
    EXPECT_EQ(VariantClass(c.value), c.expected) << c.value.VarType();

  EXPECT_EQ(VarTypeToText(0x6003), "Array of Integer (Reference)");
  EXPECT_EQ(VarTypeToText(256), "string");
  EXPECT_EQ(VarTypeToText(21), "21");
  EXPECT_EQ(VarTypeToText(0x2000 | 21), "Array of 21");
  EXPECT_EQ(VarTypeToText(15), "Undefined");
  EXPECT_EQ(VarTypeToPsVarDataType(0x2014), vdtInt64);
  EXPECT_EQ(VarTypeToPsVarDataType(256), vdtUnsupported);
  EXPECT_EQ(PsVarDataTypeToVarType(vdtDouble, true), 0x2005);
  EXPECT_EQ(PsVarDataTypeToVarType(vdtUnsupported, true), 0);
  EXPECT_EQ(PsVarDataTypeName(vdtLongWord), "LongWord");
  EXPECT_EQ(PsVarDataTypeName(vdtUnsupported), "Unsupported");
  EXPECT_FALSE(VarHasValue(PsVariant::Null()));
  EXPECT_TRUE(VarHasValue(0));
}

TEST_F(VariantTextTest, DisplayTexts) {
  EXPECT_EQ(VariantToText(PsVariant(), true), "#EMPTY{Default}");
  EXPECT_EQ(VariantToText(PsVariant::Null(), false), "#NULL");
  EXPECT_EQ(VariantToText(PsVariant::Error(static_cast<int32_t>(0x80004005)), false),
            "Error($80004005)");
  EXPECT_EQ(VariantToText(PsVariant::Date(45356.25), true), "05.03.2024 06:00:00.000{Date}");
  EXPECT_EQ(VariantToText(PsVariant::Date(1e300), false), "1E300");
  EXPECT_EQ(VariantToText(2.5, true), "2.5{Double}");
  EXPECT_EQ(VariantToText("x", true), "x{string}");

  PsVariant square = PsVariant::Array({{0, 1}, {0, 1}}, varInteger);
  square.PutElement({0, 0}, 1);
  square.PutElement({0, 1}, 2);
  square.PutElement({1, 0}, 3);
  square.PutElement({1, 1}, 4);
  EXPECT_EQ(VarArrayToText(square, ',', '\r'), "[\r[1,2]\r[3,4]]");
  EXPECT_EQ(VariantToText(square, true), "[\r[1;2]\r[3;4]]{Array of Integer}");
  EXPECT_EQ(VarArrayToText(PsVariant::Array({{0, 1}, {0, 1}, {0, 1}}, varByte), ',', '\r'),
            "[Array Dim=3]");
  EXPECT_EQ(VarArrayToText(PsVariant::Array({{0, 1}, {1, 0}}, varByte), ',', '\r'), "[]");
  EXPECT_EQ(VarArrayToText(IntArray(5, {7, 8, 9}), '\0', '\0'), "[7;8;9]");
  EXPECT_EQ(VarArrayToText(PsVariant::ArrayOf({1, "a", PsVariant::Null()}), ',', '\r'),
            "[1,a,#NULL]");
  EXPECT_EQ(VarArrayToText(7, ',', '\r'), "7");
  EXPECT_EQ(VarArrayElementCount(square), 4);
  EXPECT_EQ(VarArrayElementCount(7), 1);
  EXPECT_EQ(VarArrayLength(IntArray(5, {7, 8, 9})), 3);
}

TEST_F(VariantTextTest, Equality) {
  const PsVariant doubles = [] {
    PsVariant array = PsVariant::Array({{0, 2}}, varDouble);
    for (int i = 0; i < 3; ++i)
      array.PutElement({i}, i + 0.5);
    return array;
  }();
  PsVariant otherDoubles = doubles;
  otherDoubles.PutElement({2}, 9.0);
  const struct {
    PsVariant a;
    PsVariant b;
    bool equal;
    bool strictlyEqual;
  } cases[] = {
      {PsVariant(), PsVariant::Null(), true, false},
      {PsVariant(), PsVariant(), true, true},
      {PsVariant(), 0, false, false},
      {1, 1.0, true, false},
      {1, PsVariant::Smallint(1), true, false},
      {"abc", 1, false, false},
      {"1", 1, true, false},
      {"abc", "abc", true, true},
      {"abc", "ABC", false, false},
      {true, 1, true, false},
      {"true", true, true, false},
      {PsVariant::Currency(1.5), 1.5, true, false},
      {PsVariant::Error(5), 5, false, false},
      {std::nan(""), std::nan(""), false, false},
      {IntArray(0, {1, 2, 3}), IntArray(1, {1, 2, 3}), false, false},
      {IntArray(0, {1, 2, 3}), IntArray(0, {1, 2, 3}), true, true},
      {IntArray(0, {1, 2, 3}), IntArray(0, {1, 2, 4}), false, false},
      {IntArray(0, {1}), 1, false, false},
      {PsVariant::ArrayOf({1, 2}), PsVariant::ArrayOf({1}), false, false},
      {PsVariant::Array({{0, 1}}, varVariant), PsVariant::Array({{-1, 1}}, varVariant), false,
       false},
      {doubles, doubles.CastTo(varArray | varDouble), true, true},
      {doubles, otherDoubles, false, false},
      {PsVariant::ArrayOf({1, "a"}), PsVariant::ArrayOf({1.0, "a"}), true, false},
      {IntArray(0, {1, 2}), IntArray(0, {1, 2}).CastTo(varArray | varInt64), true, false},
  };
  for (const auto& c : cases) {
    const std::string label = VariantToText(c.a, true) + " / " + VariantToText(c.b, true);
    EXPECT_EQ(VariantsEqual(c.a, c.b, false), c.equal) << label;
    EXPECT_EQ(VariantsEqual(c.b, c.a, false), c.equal) << label;
    EXPECT_EQ(VariantsEqual(c.a, c.b, true), c.strictlyEqual) << label;
  }
}

TEST(SmallRoutinesTest, BitsBooleansAndPointerHandOver) {
  EXPECT_TRUE(IsBitSet(0x80000000u, 31));
  EXPECT_FALSE(IsBitSet(0xFFFFFFFFu, 32));
  EXPECT_FALSE(IsBitSet(1, -1));
  EXPECT_FALSE(IsBitSet(5, 1));
  EXPECT_EQ(BoolToText(true), "True");
  EXPECT_EQ(BoolToText(false), "False");
  // Freed exactly once, by the receiver (the address sanitizer checks it).
  void* pointer = StringToPointer(std::string(100, 'x'));
  EXPECT_EQ(PointerToString(pointer), std::string(100, 'x'));
  EXPECT_EQ(PointerToString(nullptr), "");
}

}  // namespace
