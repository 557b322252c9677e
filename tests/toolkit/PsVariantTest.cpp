// The variant's conversions and arrays.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "toolkit/PsVariant.h"
#include "vcl/SysUtils.h"

namespace {

using namespace toolkit;

class PsVariantTest : public testing::Test {
 protected:
  vcl::ScopedFormatSettings settings_{vcl::TFormatSettings{}};
};

TEST_F(PsVariantTest, NumbersConvertRoundingHalfToEvenAndRefuseWhatDoesNotFit) {
  const struct {
    PsVariant value;
    int64_t asInt64;
  } rounded[] = {
      {2.5, 2},
      {3.5, 4},
      {-2.5, -2},
      {-3.5, -4},
      {2.4999, 2},
      {true, 1},
      {false, 0},
      {PsVariant(), 0},
      {PsVariant::CurrencyScaled(25000), 2},
      {PsVariant::CurrencyScaled(35000), 4},
      {PsVariant::CurrencyScaled(-15001), -2},
      {" 12", 12},
      {"$1F", 31},
      {"2.5", 2},
      {"1e3", 1000},
      {PsVariant::Single(7.5f), 8},
      {PsVariant::Date(1.5), 2},
      {uint32_t{4000000000u}, 4000000000},
      {int64_t{-9000000000}, -9000000000},
  };
  for (const auto& c : rounded) {
    EXPECT_EQ(c.value.AsInt64(), c.asInt64) << c.value.VarType();
    EXPECT_EQ(c.value.CastTo(varInt64).AsInt64(), c.asInt64);
  }
  EXPECT_EQ(PsVariant(2.5).AsInt32(), 2);
  EXPECT_EQ(PsVariant("4294967295").AsUInt32(), 4294967295u);

  using Conversion = std::function<void()>;
  const Conversion overflows[] = {
      [] { PsVariant(3e9).AsInt32(); },
      [] { PsVariant(70000).CastTo(varSmallint); },
      [] { PsVariant(-1).AsUInt32(); },
      [] { PsVariant(256).CastTo(varByte); },
      [] { PsVariant(-129).CastTo(varShortInt); },
      [] { PsVariant(1e20).AsInt64(); },
      [] { PsVariant(std::nan("")).AsInt32(); },
      [] { PsVariant(1e39).CastTo(varSingle); },
      [] { PsVariant(1e300).CastTo(varCurrency); },
      [] { PsVariant(int64_t{1} << 60).CastTo(varCurrency); },
      [] { PsVariant("2147483648").AsInt32(); },
  };
  for (const Conversion& convert : overflows)
    EXPECT_THROW(convert(), vcl::EVariantOverflowError);

  const Conversion impossible[] = {
      [] { PsVariant("abc").AsInt32(); },
      [] { PsVariant("abc").AsDouble(); },
      [] { PsVariant("maybe").AsBool(); },
      [] { PsVariant::Null().AsInt32(); },
      [] { PsVariant::Null().AsText(); },
      [] { PsVariant::Error(1).AsDouble(); },
      [] { PsVariant::Error(1).AsText(); },
      [] { PsVariant(1).ErrorCode(); },
      [] { PsVariant("x").CastTo(varDate); },
      [] { PsVariant(1).CastTo(varDispatch); },
      [] { PsVariant(1).CastTo(varArray | varInteger); },
      [] {
        PsVariant::Array({{0, 1}}, varInteger).AsInt32();
      },
      [] {
        PsVariant::Array({{0, 1}}, varInteger).CastTo(varInteger);
      },
  };
  for (const Conversion& convert : impossible)
    EXPECT_THROW(convert(), vcl::EVariantTypeCastError);
  try {
    PsVariant("abc").AsInt32();
  } catch (const vcl::EVariantTypeCastError& error) {
    EXPECT_STREQ(error.what(), "Could not convert variant of type (string) into type (Integer)");
  }
}

TEST_F(PsVariantTest, TextsAndOtherTargets) {
  EXPECT_EQ(PsVariant(2.5).AsText(), "2.5");
  EXPECT_EQ(PsVariant(0.1).AsText(), "0.1");
  EXPECT_EQ(PsVariant::Single(0.1f).AsText(), "0.1");
  EXPECT_EQ(PsVariant(-7).AsText(), "-7");
  EXPECT_EQ(PsVariant(true).AsText(), "True");
  EXPECT_EQ(PsVariant::CurrencyScaled(15).AsText(), "0.0015");
  EXPECT_EQ(PsVariant::Date(45356.5).AsText(), "05.03.2024 12:00:00");
  EXPECT_EQ(PsVariant().AsText(), "");
  EXPECT_EQ(PsVariant(20480).CastTo(varOleStr).AsText(), "20480");
  EXPECT_EQ(PsVariant(20480).CastTo(varOleStr).VarType(), varOleStr);

  EXPECT_TRUE(PsVariant("TRUE").AsBool());
  EXPECT_FALSE(PsVariant("0").AsBool());
  EXPECT_TRUE(PsVariant(0.5).AsBool());
  EXPECT_EQ(PsVariant("1.5").AsDouble(), 1.5);
  EXPECT_EQ(PsVariant(true).AsDouble(), 1.0);
  EXPECT_EQ(PsVariant::Currency(2.00005).CastTo(varCurrency).AsDouble(), 2.0);  // half to even
  EXPECT_EQ(PsVariant(3).CastTo(varCurrency).AsDouble(), 3.0);
  EXPECT_EQ(PsVariant("05.03.2024").CastTo(varDate).AsDouble(), 45356.0);
  EXPECT_EQ(PsVariant(7).CastTo(varError).ErrorCode(), 7);
  EXPECT_EQ(PsVariant::Single(0.1f).AsDouble(), static_cast<double>(0.1f));
  EXPECT_TRUE(PsVariant(1).CastTo(varNull).IsNull());
  EXPECT_EQ(PsVariant(1).CastTo(varVariant).VarType(), varInteger);
}

TEST_F(PsVariantTest, ArraysKeepBoundsConvertElementsAndCopyOnWrite) {
  PsVariant grid = PsVariant::Array({{1, 2}, {-1, 1}}, varSmallint);
  EXPECT_EQ(grid.VarType(), varArray | varSmallint);
  EXPECT_EQ(grid.DimCount(), 2);
  EXPECT_EQ(grid.LowBound(2), -1);
  EXPECT_EQ(grid.HighBound(1), 2);
  EXPECT_EQ(grid.ElementCount(), 6);
  EXPECT_EQ(grid.GetElement({2, 1}).AsInt32(), 0);
  grid.PutElement({2, 1}, "12");
  grid.PutElement({1, -1}, 2.5);
  EXPECT_EQ(grid.GetElement({2, 1}).VarType(), varSmallint);
  EXPECT_EQ(grid.GetElement({2, 1}).AsInt32(), 12);
  EXPECT_EQ(grid.ElementAt(0).AsInt32(), 2);  // the first dimension varies fastest
  EXPECT_EQ(grid.ElementAt(5).AsInt32(), 12);

  const PsVariant copy = grid;
  grid.PutElement({1, 0}, 5);
  EXPECT_EQ(copy.GetElement({1, 0}).AsInt32(), 0);
  EXPECT_EQ(grid.GetElement({1, 0}).AsInt32(), 5);

  // A failed conversion leaves the element as it was.
  EXPECT_THROW(grid.PutElement({1, 0}, 70000), vcl::EVariantOverflowError);
  EXPECT_EQ(grid.GetElement({1, 0}).AsInt32(), 5);

  using Access = std::function<void()>;
  const Access outside[] = {
      [&] {
        grid.GetElement({0, 0});
      },
      [&] {
        grid.GetElement({1, 2});
      },
      [&] { grid.GetElement({1}); },
      [&] {
        grid.PutElement({3, 0}, 1);
      },
      [&] { grid.LowBound(3); },
      [&] { grid.ElementAt(6); },
      [] { PsVariant(1).GetElement({0}); },
      [] { PsVariant(1).LowBound(1); },
  };
  for (const Access& access : outside)
    EXPECT_THROW(access(), vcl::EVariantBadIndexError);

  EXPECT_THROW(PsVariant::Array({{0, -2}}, varInteger), vcl::EVariantError);
  EXPECT_THROW(PsVariant::Array({{0, 1}}, varNull), vcl::EVariantError);
  EXPECT_THROW(PsVariant::Array({{INT32_MIN, INT32_MAX}}, varByte), vcl::EOutOfMemory);
  EXPECT_EQ(PsVariant::Array({{0, -1}}, varByte).ElementCount(), 0);

  PsVariant flags = PsVariant::Array({{0, 1}}, varBoolean);
  flags.PutElement({0}, true);
  EXPECT_EQ(flags.RawElements(), std::string("\xFF\xFF\0\0", 4));  // -1 and 0, 16 bits each
  EXPECT_TRUE(flags.GetElement({0}).AsBool());
  const PsVariant texts = flags.CastTo(varArray | varOleStr);
  EXPECT_EQ(texts.GetElement({0}).AsText(), "True");
  EXPECT_EQ(texts.RawElements(), "");
  EXPECT_THROW(PsVariant::ArrayOf({"x"}).CastTo(varArray | varInteger), vcl::EVariantTypeCastError);
}

}  // namespace
