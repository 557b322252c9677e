// Transactions: growth, limits, taking an entry out, the overall results and
// the log texts.
#include "../com/ComTestSupport.h"
#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "opcserver/PsOPCProviderItems.h"
#include "opcserver/PsOPCTransactions.h"

namespace {

using opcserver::TPsOPCProviderTransaction;
using opcserver::TPsOPCProviderWriteTransaction;
using opcserver::TPsOPCTransaction;

// The lists of the transaction's entries as a log line shows them.
std::string ServerHandles(TPsOPCTransaction& transaction) {
  return opcserver::HandleListText(transaction.ServerHandles(),
                                   static_cast<size_t>(transaction.Count()));
}

std::string Errors(TPsOPCTransaction& transaction) {
  return opcserver::ErrorListText(transaction.Errors(), static_cast<size_t>(transaction.Count()));
}

TEST(PsOPCTransactionTest, IdsAndSizesOutsideTheirRangeAreRefused) {
  EXPECT_THROW(TPsOPCTransaction(-1, opcserver::tkRead), vcl::ERangeError);
  EXPECT_THROW(TPsOPCTransaction(4294967296LL, opcserver::tkRead), vcl::ERangeError);
  // A DA 2.0 client's ids take all 32 bits.
  EXPECT_EQ(TPsOPCTransaction(2147483648LL, opcserver::tkRead).ID(), 0x80000000u);
  TPsOPCTransaction transaction(4294967295LL, opcserver::tkRead);
  EXPECT_EQ(transaction.ID(), 0xFFFFFFFFu);
  EXPECT_THROW(transaction.SetCapacity(65537), vcl::ERangeError);
  EXPECT_THROW(transaction.Error(0), vcl::ERangeError);
  // Growing from nothing starts at one entry, then doubles.
  for (int32_t count = 1; count <= 5; ++count) {
    transaction.AddHandle(count, count);
    EXPECT_EQ(transaction.Capacity(), count == 1 ? 1 : (count <= 2 ? 2 : (count <= 4 ? 4 : 8)));
  }
  transaction.SetCount(65536);
  EXPECT_THROW(transaction.AddHandle(1, 1), vcl::ERangeError);
}

// Entries found by client handle, by search or through the index, stay
// found as entries are taken out, moved and cleared.
TEST(PsOPCTransactionTest, EntriesAreFoundByClientHandleAfterEveryChange) {
  for (const bool indexed : {false, true}) {
    SCOPED_TRACE(indexed);
    TPsOPCTransaction transaction(0, opcserver::tkDataChange);
    if (indexed)
      transaction.IndexClientHandles();
    for (OPCHANDLE handle = 10; handle < 15; ++handle)
      transaction.AddHandle(handle, handle + 100);
    transaction.RemoveEntry(1);  // 14 moves into the place of 11
    transaction.RemoveEntry(3);  // the last one, 13
    EXPECT_EQ(transaction.Count(), 3);
    const std::pair<OPCHANDLE, int32_t> expected[] = {
        {10, 0}, {11, -1}, {12, 2}, {13, -1}, {14, 1}};
    for (const auto& [handle, index] : expected)
      EXPECT_EQ(transaction.IndexOfClientHandle(handle), index) << handle;
    EXPECT_EQ(transaction.ServerHandle(1), 114u);
    transaction.AddHandle(11, 111);
    EXPECT_EQ(transaction.IndexOfClientHandle(11), 3);
    transaction.Clear();
    EXPECT_EQ(transaction.IndexOfClientHandle(10), -1);
  }
}

TEST(PsOPCTransactionTest, TakingAnItemOutMovesTheLastEntryIntoItsPlace) {
  korva_test::NoLeaks noLeaks;
  const auto group = opcserver::MakeComObject<opcserver::TPsOPCProviderGroup>(
      nullptr, opcserver::TPsOPCProviderGroup::TInitialState{});
  std::vector<std::unique_ptr<opcserver::TPsOPCProviderItem>> items;
  TPsOPCProviderWriteTransaction transaction(group.Get(), 5);
  for (OPCHANDLE handle : {10u, 11u, 12u}) {
    items.push_back(std::make_unique<opcserver::TPsOPCProviderItem>(group.Get()));
    items.back()->SetClientHandle(handle);
    items.back()->SetServerHandle(handle + 100);
    VARIANT value;
    VariantInit(&value);
    opcserver::PsVariantToVariant(toolkit::PsVariant(std::to_string(handle)), value);
    transaction.Add(items.back().get(), value);
    VariantClear(&value);
  }
  transaction.SetError(2, OPC_E_BADRIGHTS);
  EXPECT_EQ(transaction.MasterError(), S_FALSE);
  EXPECT_EQ(ServerHandles(transaction), "110,111,112");
  EXPECT_EQ(Errors(transaction), "$0,$0,$C0040006");
  EXPECT_EQ(transaction.AsString(false),
            "Transaction ID=5 Group= Kind=Write ItemCount=3 Result=$0 (" +
                opcserver::GetReason(S_OK) + ")");

  EXPECT_TRUE(transaction.RemoveItem(items[0].get()));
  EXPECT_EQ(ServerHandles(transaction), "112,111");
  EXPECT_EQ(Errors(transaction), "$C0040006,$0");
  EXPECT_EQ(transaction.ClientHandle(0), 12u);
  EXPECT_EQ(opcserver::VariantToPsVariant(transaction.Value(0)).AsText(), "12");
  EXPECT_FALSE(transaction.RemoveItem(items[0].get()));  // no entry: nothing changes
  EXPECT_TRUE(transaction.RemoveItem(items[1].get()));   // the last one
  EXPECT_EQ(ServerHandles(transaction), "112");
  EXPECT_FALSE(transaction.HasOKItems());
  transaction.Clear();
  EXPECT_EQ(transaction.Count(), 0);
  EXPECT_EQ(transaction.MasterError(), S_OK);
}

TEST(PsOPCTransactionTest, QualitiesBelowGoodMakeTheMasterQualityFalse) {
  TPsOPCProviderTransaction transaction(nullptr, 0, opcserver::tkDataChange);
  const struct {
    WORD quality;
    HRESULT master;
  } cases[] = {{OPC_QUALITY_GOOD, S_OK}, {0xD8, S_OK}, {0x40, S_FALSE}, {0x00, S_FALSE}};
  for (const auto& c : cases) {
    transaction.Clear();
    transaction.SetQuality(transaction.AddHandle(1, 1), OPC_QUALITY_GOOD);
    transaction.SetQuality(transaction.AddHandle(2, 2), c.quality);
    EXPECT_EQ(transaction.MasterQuality(), c.master) << c.quality;
  }
}

}  // namespace
