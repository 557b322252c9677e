// Our declarations of the OPC structures have the binary shape of the ones
// widl makes from our IDL, which the proxy/stub marshals: every type's size,
// every field's offset and size.
#include <gtest/gtest.h>

#include <span>
#include <string>

#include "OpcStructureLayout.h"
#include "opcserver/OPCDA.h"

namespace {

const KorvaLayoutRow ourRows[] = {KORVA_OPC_LAYOUT(KORVA_LAYOUT_TYPE, KORVA_LAYOUT_FIELD)};

TEST(IdlAgreement, EveryStructureHasTheLayoutOfTheIdl) {
  size_t count = 0;
  const KorvaLayoutRow* widlRows = KorvaWidlLayout(&count);
  const std::span<const KorvaLayoutRow> widl(widlRows, count);
  ASSERT_EQ(widl.size(), std::size(ourRows));
  for (size_t i = 0; i < widl.size(); ++i) {
    const KorvaLayoutRow& ours = ourRows[i];
    ASSERT_EQ(std::string(widl[i].name), ours.name);
    EXPECT_EQ(widl[i].offset, ours.offset) << ours.name;
    EXPECT_EQ(widl[i].size, ours.size) << ours.name;
  }
}

}  // namespace
