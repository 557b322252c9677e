// libFuzzer target: what an OPC client hands the server. One client per
// input runs a list of calls with hostile texts, numbers and types: browse
// positions and filters, item IDs, GetItemID, access paths, property id
// lists, item definitions with their types, reads and error codes. None
// crashes; a failed call hands out nothing; and once the client has gone,
// no block of COM memory the calls allocated is left.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "opcserver/OPCDA.h"
#include "opcserver/PsOPC.h"
#include "opcserver/PsOPCProvider.h"
#include "opcserver/PsOPCProviderClients.h"
#include "opcserver/opc_provider.h"
#include "platform/EventLoop.h"
#include "platform/com/Com.h"
#include "toolkit/PsVarsBasic.h"
#include "toolkit/PsVarsDateTime.h"
#include "toolkit/PsVarsFloat.h"
#include "toolkit/PsVarsState.h"
#include "toolkit/Toolkit.h"
#include "vcl/Forms.h"

namespace {

using opcserver::ComPtr;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

// The input, read from the front; zeros once it is used up.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
  uint32_t Dword() { return Word() | static_cast<uint32_t>(Word()) << 16; }
  // Up to 63 UTF-16 code units, any of them (lone surrogates, zeros).
  platform::com::WideString Text() {
    platform::com::WideString text(Byte() % 64, u'\0');
    for (char16_t& unit : text)
      unit = Word();
    return text;
  }
  // Up to 7 numbers, small ones more often than not.
  std::vector<DWORD> Ids() {
    std::vector<DWORD> ids(Byte() % 8);
    for (DWORD& id : ids)
      id = Byte() % 2 ? Word() % 320 : Dword();
    return ids;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The server with the provider window's ten items under "Korva" and a module
// "Test" of every kind of variable, each with a leaf per property.
class Server {
 public:
  Server() {
    toolkit::Initialize();
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    server_ = std::make_unique<opcserver::TPsOPCProvider>();
    server_->SetCLSID("{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}");
    server_->SetServerName("KORVA_UPS.OPC");
    server_->Initialize();
    window_ = vcl::CreateForm<opcserver::TOPCProvider>(&vcl::Application(), server_.get());
    module_ = new vcl::TComponent(&vcl::Application());
    vcl::TComponent* module = module_;
    module->SetName("Test");
    auto* volts = new toolkit::TPsFloat(module);
    volts->SetRangeMin(0);
    volts->SetRangeMax(30);
    volts->SetRangeMode(toolkit::rmException);
    volts->SetEngUnit("V");
    volts->SetAlarmHigh(28);
    volts->SetValue(24);
    auto* mode = new toolkit::TPsState(module);
    for (const char* name : {"Off", "Mains", "Battery"})
      static_cast<toolkit::TPsStateItem*>(mode->States()->Add())->SetName(name);
    auto* count = new toolkit::TPsInteger(module);
    count->SetRangeMin(0);
    count->SetRangeMax(100);
    count->SetValue(5);
    auto* flag = new toolkit::TPsBool(module);
    flag->SetValue(true);
    auto* text = new toolkit::TPsString(module);
    text->SetValue("abc");
    auto* bits = new toolkit::TPsBitSet(module);
    bits->SetValue(3);
    auto* time = new toolkit::TPsDateTime(module);
    time->SetValue(44986.5);
    const char* names[] = {"Volts", "Mode", "Count", "Flag", "Text", "Bits", "Time"};
    toolkit::TPsVar* variables[] = {volts, mode, count, flag, text, bits, time};
    opcserver::TPsOPCProviderAddressSpace& space = server_->AddressSpace();
    space.SetPropertyLeaves(true);
    const int root = space.AddModule(module, -1, false, "Test");
    for (size_t i = 0; i < std::size(names); ++i) {
      variables[i]->SetName(names[i]);
      space.AddVariable(root, variables[i], names[i]);
    }
    platform::MainLoop().ProcessMessages();
    if (server_->State() != OPC_STATUS_RUNNING)
      Fail("the server does not run");
  }

  // The variables before the server that serves them.
  ~Server() {
    vcl::FreeObject(module_);
    vcl::FreeObject(window_);
    server_.reset();
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  opcserver::TPsOPCProvider& Get() { return *server_; }

 private:
  std::unique_ptr<opcserver::TPsOPCProvider> server_;
  opcserver::TOPCProvider* window_ = nullptr;
  vcl::TComponent* module_ = nullptr;
};

Server& TheServer() {
  static Server server;
  return server;
}

void FreeTexts(LPWSTR* texts, size_t count) {
  for (size_t i = 0; texts && i < count; ++i)
    CoTaskMemFree(texts[i]);
  CoTaskMemFree(texts);
}

// Every text the enumerator gives, in steps the input chooses.
void Drain(IEnumString* enumerator, Input& input) {
  if (!enumerator)
    return;
  LPOLESTR texts[8] = {};
  for (int round = 0; round < 64; ++round) {
    const ULONG wanted = 1 + input.Byte() % 8;
    ULONG fetched = 0;
    const HRESULT result = enumerator->Next(wanted, texts, &fetched);
    if (fetched > wanted)
      Fail("Next fetched more than asked for");
    for (ULONG i = 0; i < fetched; ++i)
      CoTaskMemFree(texts[i]);
    if (result != S_OK)
      break;
  }
  ComPtr<IEnumString> clone;
  if (SUCCEEDED(enumerator->Clone(clone.Receive())))
    clone->Skip(input.Byte());
}

void Browse(IOPCBrowseServerAddressSpace* space, Input& input) {
  const platform::com::WideString text = input.Text();
  switch (input.Byte() % 4) {
    case 0:
      space->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(input.Byte() % 5), text.c_str());
      break;
    case 1: {
      ComPtr<IEnumString> names;
      const HRESULT result = space->BrowseOPCItemIDs(
          static_cast<OPCBROWSETYPE>(input.Byte() % 5), text.c_str(), input.Word(), input.Byte(),
          reinterpret_cast<LPENUMSTRING*>(names.Receive()));
      if (FAILED(result) && names)
        Fail("a failed browse handed out an enumerator");
      Drain(names.Get(), input);
      break;
    }
    case 2: {
      LPWSTR itemID = nullptr;
      const HRESULT result = space->GetItemID(const_cast<LPWSTR>(text.c_str()), &itemID);
      if (FAILED(result) && itemID)
        Fail("a failed GetItemID handed out a text");
      CoTaskMemFree(itemID);
      break;
    }
    default: {
      ComPtr<IEnumString> paths;
      space->BrowseAccessPaths(text.c_str(), reinterpret_cast<LPENUMSTRING*>(paths.Receive()));
      Drain(paths.Get(), input);
      break;
    }
  }
}

void Properties(IOPCItemProperties* properties, Input& input) {
  const platform::com::WideString itemID = input.Text();
  LPWSTR id = const_cast<LPWSTR>(itemID.c_str());
  std::vector<DWORD> ids = input.Ids();
  const DWORD count = static_cast<DWORD>(ids.size());
  switch (input.Byte() % 3) {
    case 0: {
      DWORD found = 0;
      DWORD* list = nullptr;
      LPWSTR* descriptions = nullptr;
      VARTYPE* types = nullptr;
      if (FAILED(properties->QueryAvailableProperties(id, &found, &list, &descriptions, &types)) &&
          (list || descriptions || types))
        Fail("a failed QueryAvailableProperties handed out lists");
      CoTaskMemFree(list);
      CoTaskMemFree(types);
      FreeTexts(descriptions, found);
      break;
    }
    case 1: {
      VARIANT* values = nullptr;
      HRESULT* errors = nullptr;
      if (FAILED(properties->GetItemProperties(id, count, ids.data(), &values, &errors)) &&
          (values || errors))
        Fail("a failed GetItemProperties handed out lists");
      for (DWORD i = 0; values && i < count; ++i)
        VariantClear(&values[i]);
      CoTaskMemFree(values);
      CoTaskMemFree(errors);
      break;
    }
    default: {
      LPWSTR* itemIDs = nullptr;
      HRESULT* errors = nullptr;
      if (FAILED(properties->LookupItemIDs(id, count, ids.data(), &itemIDs, &errors)) &&
          (itemIDs || errors))
        Fail("a failed LookupItemIDs handed out lists");
      FreeTexts(itemIDs, itemIDs ? count : 0);
      CoTaskMemFree(errors);
      break;
    }
  }
}

// An item of the input's ID, access path and type, validated or added, then
// read from both sources and removed.
void Items(IOPCItemMgt* group, Input& input) {
  const platform::com::WideString itemID = input.Text();
  const platform::com::WideString path =
      input.Byte() % 4 ? platform::com::WideString() : input.Text();
  OPCITEMDEF definition{};
  definition.szItemID = input.Byte() % 16 ? const_cast<LPWSTR>(itemID.c_str()) : nullptr;
  definition.szAccessPath = const_cast<LPWSTR>(path.c_str());
  definition.bActive = input.Byte() % 2;
  definition.hClient = input.Dword();
  definition.vtRequestedDataType = input.Word();
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  const bool validate = input.Byte() % 2;
  const HRESULT result = validate ? group->ValidateItems(1, &definition, FALSE, &results, &errors)
                                  : group->AddItems(1, &definition, &results, &errors);
  if (FAILED(result) && (results || errors))
    Fail("a failed AddItems handed out lists");
  OPCHANDLE handle = results && errors && SUCCEEDED(errors[0]) ? results[0].hServer : 0;
  CoTaskMemFree(results);
  CoTaskMemFree(errors);
  if (validate || handle == 0)
    return;
  const ComPtr<IOPCSyncIO> io = opcserver::CheckedCast<IOPCSyncIO>(group);
  for (const OPCDATASOURCE source : {OPC_DS_CACHE, OPC_DS_DEVICE}) {
    OPCITEMSTATE* states = nullptr;
    HRESULT* readErrors = nullptr;
    io->Read(source, 1, &handle, &states, &readErrors);
    opcserver::TPsOPCAlloc::FreeItemStateList(states, 1);
    CoTaskMemFree(readErrors);
  }
  HRESULT* removed = nullptr;
  group->RemoveItems(1, &handle, &removed);
  CoTaskMemFree(removed);
}

void ErrorText(IOPCServer* client, Input& input) {
  LPWSTR text = nullptr;
  client->GetErrorString(static_cast<HRESULT>(input.Dword()), 2048, &text);
  CoTaskMemFree(text);
}

void RunCalls(Input& input) {
  opcserver::TPsOPCProvider& server = TheServer().Get();
  ComPtr<IOPCServer> client;
  if (FAILED(server.Factory().CreateInstance(nullptr, IID_IOPCServer, client.ReceiveVoid())))
    Fail("no client");
  ComPtr<IOPCBrowseServerAddressSpace> space;
  client->QueryInterface(IID_IOPCBrowseServerAddressSpace, space.ReceiveVoid());
  ComPtr<IOPCItemProperties> properties;
  client->QueryInterface(IID_IOPCItemProperties, properties.ReceiveVoid());
  ComPtr<IOPCItemMgt> group;
  OPCHANDLE serverGroup = 0;
  DWORD rate = 0;
  client->AddGroup(OLESTR("G"), TRUE, 1000, 1, nullptr, nullptr, 0, &serverGroup, &rate,
                   IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(group.Receive()));
  if (!space || !properties || !group)
    Fail("the client lacks an interface");
  for (int call = 0; call < 64 && !input.Empty(); ++call) {
    switch (input.Byte() % 4) {
      case 0:
        Browse(space.Get(), input);
        break;
      case 1:
        Properties(properties.Get(), input);
        break;
      case 2:
        Items(group.Get(), input);
        break;
      default:
        ErrorText(client.Get(), input);
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  opcserver::TPsOPCProvider& server = TheServer().Get();
  Input input(data, size);
  // Items of the tree with or without their property leaves.
  server.AddressSpace().SetPropertyLeaves(input.Byte() % 2);
  const platform::com::LiveMemory before = platform::com::CountLiveMemory();
  RunCalls(input);
  // The client leaves on the main thread; what it held goes with it.
  platform::MainLoop().ProcessMessages();
  if (server.GetClientCount() != 0)
    Fail("the client stays");
  const platform::com::LiveMemory after = platform::com::CountLiveMemory();
  if (after.task.blocks != before.task.blocks || after.task.bytes != before.task.bytes ||
      after.global.blocks != before.global.blocks)
    Fail("COM memory is left allocated");
  return 0;
}
