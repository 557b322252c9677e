// The toolkit's texts on Windows come from the program's own string table:
// this program's resources change two of them and lack the others, which
// the texts the toolkit is built with stand in for.
#include <gtest/gtest.h>

#include "platform/System.h"
#include "toolkit/PsStrings.h"
#include "toolkit/PsVars.h"

namespace {

using namespace toolkit;

TEST(PsStringsResourceTest, TheProgramsStringTableGivesTheTextsAndTheBuiltInOnesFillItsGaps) {
  EXPECT_EQ(PsString(sPsTrue), "Wahr");
  EXPECT_EQ(PsString(sPsVarPropOther), platform::NarrowFromUtf8("Übrige"));
  EXPECT_EQ(PsString(sPsFalse), "False");
  EXPECT_EQ(PsString(sPsVarPropMean), "Mean");
  EXPECT_EQ(PsString(sPsOPCLimitHigh), "At High limit");
  // The program's other texts are not the toolkit's.
  EXPECT_EQ(platform::OwnStringResource(1), "Not one of the toolkit's texts");
  EXPECT_EQ(PsString(1), "");
  EXPECT_EQ(PsString(65161), "");

  // The variables' tables were made from them at the toolkit's start.
  EXPECT_EQ(PsBooleanName(true), "Wahr");
  EXPECT_EQ(PsBooleanName(false), "False");
  EXPECT_EQ(PsVarPropTypeName(vpOther2), platform::NarrowFromUtf8("Übrige"));
}

}  // namespace
