// What a callback thread hands to a client's sink: the DA 2.0 calls with
// the answer's arrays, and the DA 1.0 streams byte for byte, sized from
// their contents, zero where nothing is written, their blocks freed.
#include <gtest/gtest.h>

#include <string>

#include "../com/ComTestSupport.h"
#include "OPCCallbackTestSupport.h"
#include "opcserver/PsOPCCallbacks.h"

namespace {

using korva_test::AdviseCall;
using korva_test::CallbackCall;
using korva_test::NoLeaks;
using korva_test::RecordingAdviseSink;
using korva_test::RecordingCallback;
using korva_test::TestAnswer;
using opcserver::ComPtr;

class DataStreamTest : public ::testing::Test {
 protected:
  DataStreamTest() { opcserver::RegisterClipboardFormats(); }

  AdviseCall Send(TestAnswer& answer, CLIPFORMAT format) {
    EXPECT_EQ(opcserver::DispatchToAdviseSink(sink_.Get(), format, answer.Answer()), S_OK);
    EXPECT_EQ(sink_->Count(), 1u);
    return sink_->Count() ? sink_->Calls().back() : AdviseCall{};
  }

  NoLeaks noLeaks_;
  ComPtr<RecordingAdviseSink> sink_ = opcserver::MakeComObject<RecordingAdviseSink>();
};

TEST_F(DataStreamTest, TheDataStreamsCarryTheirHeadersAndValueImages) {
  for (const bool withTime : {false, true}) {
    SCOPED_TRACE(withTime);
    sink_ = opcserver::MakeComObject<RecordingAdviseSink>();
    TestAnswer answer(opcserver::akDataChange, 0, 7);
    answer.Set(11, 34850, 0xC0, S_OK, {1, 2}).Set(12, -1, 0x18, S_OK, {3, 4});
    const AdviseCall call =
        Send(answer, withTime ? opcserver::OPCSTMFORMATDATATIME : opcserver::OPCSTMFORMATDATA);

    EXPECT_EQ(call.format.cfFormat,
              withTime ? opcserver::OPCSTMFORMATDATATIME : opcserver::OPCSTMFORMATDATA);
    EXPECT_EQ(call.format.ptd, nullptr);
    EXPECT_EQ(call.format.dwAspect, DVASPECT_CONTENT);
    EXPECT_EQ(call.format.lindex, -1);
    EXPECT_EQ(call.format.tymed, TYMED_HGLOBAL);
    EXPECT_EQ(call.tymed, TYMED_HGLOBAL);
    EXPECT_FALSE(call.released);

    const size_t header = withTime ? 20 : 12;
    const size_t size = 20 + 2 * header + 2 * 16;
    ASSERT_EQ(call.bytes.size(), size);
    const auto group = call.At<OPCGROUPHEADER>(0);
    EXPECT_EQ(group.dwSize, size);
    EXPECT_EQ(group.dwItemCount, 2u);
    EXPECT_EQ(group.hClientGroup, 7u);
    EXPECT_EQ(group.dwTransactionID, 0u);
    EXPECT_EQ(group.hrStatus, S_OK);
    const WORD qualities[] = {0xC0, 0x18};
    const int32_t values[] = {34850, -1};
    for (size_t i = 0; i < 2; ++i) {
      const size_t at = 20 + i * header;
      const size_t value = 20 + 2 * header + i * 16;
      EXPECT_EQ(call.At<OPCHANDLE>(at), 11 + i);
      EXPECT_EQ(call.At<DWORD>(at + 4), value);
      EXPECT_EQ(call.At<WORD>(at + 8), qualities[i]);
      EXPECT_EQ(call.At<WORD>(at + 10), 0) << "reserved";
      if (withTime) {
        EXPECT_EQ(call.At<DWORD>(at + 12), 2 * i + 1);
        EXPECT_EQ(call.At<DWORD>(at + 16), 2 * i + 2);
      }
      EXPECT_EQ(call.At<VARTYPE>(value), VT_I4);
      EXPECT_EQ(call.At<uint64_t>(value) >> 16, 0u) << "reserved";
      EXPECT_EQ(call.At<int32_t>(value + 8), values[i]);
      EXPECT_EQ(call.At<uint32_t>(value + 12), 0u);
    }
  }
}

TEST_F(DataStreamTest, AValueCarriesOnlyTheBytesOfItsType) {
  // A Boolean over a union that held a larger number before.
  TestAnswer answer(opcserver::akDataChange);
  answer.Set(1, 0);
  answer.Value(0).llVal = 0x1122334455667788;
  answer.Value(0).vt = VT_BOOL;
  answer.Value(0).boolVal = VARIANT_TRUE;
  const AdviseCall call = Send(answer, opcserver::OPCSTMFORMATDATA);
  EXPECT_EQ(call.At<uint16_t>(32 + 8), 0xFFFF);
  EXPECT_EQ(call.At<uint16_t>(32 + 10), 0u);
  EXPECT_EQ(call.At<uint32_t>(32 + 12), 0u);
}

TEST_F(DataStreamTest, ATextFollowsItsImageWithItsLengthAndAZero) {
  TestAnswer answer(opcserver::akReadComplete, 9);
  answer.Set(1, toolkit::PsVariant::OleStr("abc")).Set(2, 5);
  const AdviseCall call = Send(answer, opcserver::OPCSTMFORMATDATA);
  const size_t text = 20 + 2 * 12;
  ASSERT_EQ(call.bytes.size(), text + (16 + 12) + 16);
  EXPECT_EQ(call.At<OPCGROUPHEADER>(0).dwTransactionID, 9u);
  EXPECT_EQ(call.At<VARTYPE>(text), VT_BSTR);
  EXPECT_EQ(call.At<uint64_t>(text + 8), 0u) << "the pointer field";
  EXPECT_EQ(call.At<DWORD>(text + 16), 6u);
  EXPECT_EQ(call.At<char16_t>(text + 20), u'a');
  EXPECT_EQ(call.At<char16_t>(text + 24), u'c');
  EXPECT_EQ(call.At<char16_t>(text + 26), 0);
  EXPECT_EQ(call.At<DWORD>(20 + 12 + 4), text + 28) << "the next value's offset";
  EXPECT_EQ(call.At<int32_t>(text + 28 + 8), 5);
}

TEST_F(DataStreamTest, AStreamLongerThanTheOldBlockArrivesWhole) {
  TestAnswer answer(opcserver::akDataChange);
  const std::string twenty = "abcdefghijklmnopqrst";
  for (OPCHANDLE client = 0; client < 5000; ++client)
    answer.Set(client, toolkit::PsVariant::OleStr(twenty));
  const AdviseCall call = Send(answer, opcserver::OPCSTMFORMATDATA);
  const size_t size = 20 + 5000 * (12 + 16 + 4 + 40 + 2);
  ASSERT_EQ(call.bytes.size(), size);
  EXPECT_EQ(call.At<DWORD>(0), size);
  const DWORD last = call.At<DWORD>(20 + 4999 * 12 + 4);
  EXPECT_EQ(last, size - 62);
  EXPECT_EQ(call.At<DWORD>(last + 16), 40u);
  EXPECT_EQ(call.At<char16_t>(last + 20 + 38), u't');
}

TEST_F(DataStreamTest, AWriteAnswersInTheWriteCompleteStream) {
  TestAnswer answer(opcserver::akWriteComplete, 102, 7);
  answer.Set(1, 0).Set(2, 0, 0xC0, OPC_E_BADRIGHTS).Set(3, 0);
  const AdviseCall call = Send(answer, opcserver::OPCSTMFORMATDATATIME);
  EXPECT_EQ(call.format.cfFormat, opcserver::OPCSTMFORMATWRITECOMPLETE);
  ASSERT_EQ(call.bytes.size(), 16u + 8 * 3);
  EXPECT_EQ(call.At<DWORD>(0), 3u);
  EXPECT_EQ(call.At<OPCHANDLE>(4), 7u);
  EXPECT_EQ(call.At<DWORD>(8), 102u);
  EXPECT_EQ(call.At<HRESULT>(12), S_FALSE);
  EXPECT_EQ(call.At<OPCHANDLE>(16 + 8), 2u);
  EXPECT_EQ(call.At<HRESULT>(16 + 8 + 4), OPC_E_BADRIGHTS);
}

TEST_F(DataStreamTest, AnArrayValueSendsNothing) {
  TestAnswer answer(opcserver::akDataChange);
  answer.Set(1, 1).Set(2, toolkit::PsVariant::ArrayOf({1, 2}));
  try {
    opcserver::DispatchToAdviseSink(sink_.Get(), opcserver::OPCSTMFORMATDATA, answer.Answer());
    ADD_FAILURE() << "no exception";
  } catch (const opcserver::EPsOPCProviderException& error) {
    EXPECT_STREQ(error.what(), "Arrays not support ed with DA1");
    EXPECT_EQ(opcserver::ExceptionToResult(error), E_FAIL);
  }
  EXPECT_EQ(sink_->Count(), 0u);
}

TEST(DataCallbackTest, EachKindCallsItsMethodWithTheAnswersArrays) {
  const struct {
    opcserver::TPsOPCAnswerKind kind;
    CallbackCall::Kind call;
  } cases[] = {{opcserver::akDataChange, CallbackCall::DataChange},
               {opcserver::akReadComplete, CallbackCall::ReadComplete},
               {opcserver::akWriteComplete, CallbackCall::WriteComplete}};
  for (const auto& c : cases) {
    ComPtr<RecordingCallback> sink = opcserver::MakeComObject<RecordingCallback>();
    sink->answer = S_FALSE;
    TestAnswer answer(c.kind, 0x80000000u, 7);
    answer.Set(1, 10, 0x40, S_OK, {5, 6}).Set(2, 20, 0xC0, OPC_E_BADRIGHTS);
    EXPECT_EQ(opcserver::DispatchToOPCDataCallback(sink.Get(), answer.Answer()), S_FALSE);
    ASSERT_EQ(sink->Count(), 1u);
    const CallbackCall call = sink->Calls()[0];
    EXPECT_EQ(call.kind, c.call);
    EXPECT_EQ(call.transactionID, 0x80000000u);
    EXPECT_EQ(call.group, 7u);
    EXPECT_EQ(call.masterError, S_FALSE);
    EXPECT_EQ(call.clientHandles, (std::vector<OPCHANDLE>{1, 2}));
    EXPECT_EQ(call.errors, (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS}));
    if (c.kind == opcserver::akWriteComplete)
      continue;
    EXPECT_EQ(call.masterQuality, S_FALSE);
    EXPECT_EQ(call.values[1].AsInt32(), 20);
    EXPECT_EQ(call.qualities, (std::vector<WORD>{0x40, 0xC0}));
    EXPECT_EQ(call.timeStamps[0].dwHighDateTime, 6u);
  }
}

}  // namespace
