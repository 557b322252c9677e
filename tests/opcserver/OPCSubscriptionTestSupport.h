// What the subscription tests stand on: the group test's server, items and
// clock, sinks that record every call, and helpers that connect them to a
// group (DA 2.0 through its connection point, DA 1.0 through DAdvise) and
// make the asynchronous calls.
#pragma once

#include <string>
#include <vector>

#include "OPCGroupTestSupport.h"
#include "OPCSinkTestSupport.h"
#include "opcserver/PsOPCCallbackThreads.h"
#include "opcserver/PsOPCProviderGroups.h"
#include "toolkit/PsUtils.h"

namespace korva_test {

// One asynchronous call's outputs.
struct AsyncAnswer {
  HRESULT result = E_UNEXPECTED;
  DWORD id = 0;
  std::vector<HRESULT> errors;
};

class OPCSubscriptionTest : public OPCGroupTest {
 protected:
  OPCSubscriptionTest() {
    opcserver::RegisterClipboardFormats();
    clock_.SetTick(1'000'000);
    toolkit::ResetTickState();
    sink = opcserver::MakeComObject<RecordingCallback>();
    sink->clock = [] { return toolkit::PsGetTickCount64(); };
  }

  static opcserver::TPsOPCProviderGroup& Impl(IOPCItemMgt* group) {
    return *static_cast<opcserver::TPsOPCProviderGroup*>(group);
  }

  // Items of `ids` added in one call, client handles 100, 101, ...; their
  // server handles.
  static std::vector<OPCHANDLE> AddItemsOf(IOPCItemMgt* group, const std::vector<std::string>& ids,
                                           BOOL active = TRUE) {
    ItemDefs definitions;
    for (const std::string& id : ids)
      definitions.Add(id, VT_EMPTY, "", active);
    const Added added = AddItems(group, definitions);
    EXPECT_EQ(added.result, S_OK);
    std::vector<OPCHANDLE> handles;
    for (const OPCITEMRESULT& result : added.results)
      handles.push_back(result.hServer);
    return handles;
  }

  // ---- Sinks
  static HRESULT Advise(IUnknown* group, IUnknown* callback, DWORD* cookie = nullptr) {
    const auto container = opcserver::CheckedCast<IConnectionPointContainer>(group);
    ComPtr<IConnectionPoint> point;
    const HRESULT found = container->FindConnectionPoint(IID_IOPCDataCallback, point.Receive());
    if (FAILED(found))
      return found;
    DWORD received = 0;
    const HRESULT result = point->Advise(callback, &received);
    if (cookie)
      *cookie = received;
    return result;
  }
  static HRESULT Unadvise(IUnknown* group, DWORD cookie) {
    const auto container = opcserver::CheckedCast<IConnectionPointContainer>(group);
    ComPtr<IConnectionPoint> point;
    container->FindConnectionPoint(IID_IOPCDataCallback, point.Receive());
    return point->Unadvise(cookie);
  }
  static HRESULT DAdvise(IUnknown* group, IAdviseSink* adviseSink, CLIPFORMAT format,
                         DWORD* connection = nullptr) {
    const auto data = opcserver::CheckedCast<IDataObject>(group);
    FORMATETC formatEtc{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD received = 0;
    const HRESULT result = data->DAdvise(&formatEtc, 0, adviseSink, &received);
    if (connection)
      *connection = received;
    return result;
  }
  static HRESULT DUnadvise(IUnknown* group, DWORD connection) {
    return opcserver::CheckedCast<IDataObject>(group)->DUnadvise(connection);
  }

  // ---- Asynchronous calls
  static AsyncAnswer Take(HRESULT result, DWORD id, HRESULT* errors, size_t count) {
    AsyncAnswer answer{result, id, {}};
    if (errors)
      answer.errors.assign(errors, errors + count);
    CoTaskMemFree(errors);
    return answer;
  }
  static AsyncAnswer Read2(IUnknown* group, std::vector<OPCHANDLE> handles, DWORD id) {
    HRESULT* errors = nullptr;
    DWORD cancel = 0;
    const HRESULT result = opcserver::CheckedCast<IOPCAsyncIO2>(group)->Read(
        static_cast<DWORD>(handles.size()), handles.data(), id, &cancel, &errors);
    return Take(result, cancel, errors, handles.size());
  }
  static AsyncAnswer Write2(IUnknown* group, std::vector<OPCHANDLE> handles,
                            std::vector<VARIANT> values, DWORD id) {
    HRESULT* errors = nullptr;
    DWORD cancel = 0;
    const HRESULT result = opcserver::CheckedCast<IOPCAsyncIO2>(group)->Write(
        static_cast<DWORD>(handles.size()), handles.data(), values.data(), id, &cancel, &errors);
    for (VARIANT& value : values)
      VariantClear(&value);
    return Take(result, cancel, errors, handles.size());
  }
  static AsyncAnswer Refresh2(IUnknown* group, DWORD id, OPCDATASOURCE source = OPC_DS_CACHE) {
    DWORD cancel = 0;
    const HRESULT result =
        opcserver::CheckedCast<IOPCAsyncIO2>(group)->Refresh2(source, id, &cancel);
    return {result, cancel, {}};
  }
  static AsyncAnswer Read1(IUnknown* group, std::vector<OPCHANDLE> handles, DWORD connection = 1) {
    HRESULT* errors = nullptr;
    DWORD id = 0;
    const HRESULT result = opcserver::CheckedCast<IOPCAsyncIO>(group)->Read(
        connection, OPC_DS_CACHE, static_cast<DWORD>(handles.size()), handles.data(), &id, &errors);
    return Take(result, id, errors, handles.size());
  }
  static AsyncAnswer Write1(IUnknown* group, std::vector<OPCHANDLE> handles,
                            std::vector<VARIANT> values, DWORD connection = 1) {
    HRESULT* errors = nullptr;
    DWORD id = 0;
    const HRESULT result = opcserver::CheckedCast<IOPCAsyncIO>(group)->Write(
        connection, static_cast<DWORD>(handles.size()), handles.data(), values.data(), &id,
        &errors);
    for (VARIANT& value : values)
      VariantClear(&value);
    return Take(result, id, errors, handles.size());
  }
  static AsyncAnswer Refresh1(IUnknown* group, DWORD connection = 1) {
    DWORD id = 0;
    const HRESULT result =
        opcserver::CheckedCast<IOPCAsyncIO>(group)->Refresh(connection, OPC_DS_CACHE, &id);
    return {result, id, {}};
  }

  bool Logged(const std::string& text) const {
    for (const std::string& line : logged)
      if (line.find(text) != std::string::npos)
        return true;
    return false;
  }

  ComPtr<RecordingCallback> sink;
};

// The same with the callback threads run pass by pass on the test's clock.
class OPCManualSubscriptionTest : public OPCSubscriptionTest {
 protected:
  // Passes of the first live thread until the sink has `count` calls.
  bool Deliver(size_t count) {
    return runners.StepUntil([&] { return sink->Count() >= count; });
  }
  void Passes(int count, size_t index = 0) {
    for (int pass = 0; pass < count; ++pass)
      runners.Step(index);
  }
  uint64_t Now() { return toolkit::PsGetTickCount64(); }
  void Advance(uint32_t ms) { clock_.SetTick(clock_.TickCount() + ms); }

  opcserver::TPsOPCManualRunners runners{clock_};
  platform::ScopedService<opcserver::TPsOPCCallbackRunners> installedRunners_{runners};
};

}  // namespace korva_test
