// opcclient: a console OPC client that tries korvamon's OPC server from a
// process of its own, as a client in the field does. It finds the server's
// class by its ProgID, has COM start or reach it, prints its status, browses
// the root's branches and the leaves of one branch, adds a group with those
// items, reads them from the device, subscribes to their changes (DA 2.0
// data callback, or with --da1 the DA 1.0 stream with time stamps), prints
// every change and waits, up to a time limit, for an item to show a value.
// With --stop-after it ends after browsing or after the read. With --hold
// it then keeps its connection until the server asks its clients to let go,
// and checks that the server's calls then fail.
//
// Exit code 0 when all of it went as asked, 1 when a step failed or the wait
// ran out, 2 for a wrong command line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ClientSinks.h"
#include "ValueText.h"
#include "opcserver/OPCDA.h"
#include "vcl/SysUtils.h"

namespace {

using namespace opcclient;
using opcserver::ComPtr;
using platform::com::TaskMemPtr;
using platform::com::Utf8ToWide;
using platform::com::WideString;
using platform::com::WideToUtf8;

constexpr const char* kUsage =
    "usage: opcclient [--progid NAME] [--branch NAME] [--wait ITEM=VALUE] [--timeout SECONDS]\n"
    "                 [--da1] [--stop-after browse|read] [--hold]\n"
    "  --progid NAME      the server's ProgID (KORVA_UPS.OPC)\n"
    "  --branch NAME      the branch whose leaves are added to the group (Korva)\n"
    "  --wait ITEM=VALUE  wait until ITEM (item id or leaf) shows VALUE (case ignored);\n"
    "                     without it, changes are printed until the time limit\n"
    "  --timeout SECONDS  the time limit of the wait and of --hold (10)\n"
    "  --da1              subscribe through the DA 1.0 advise sink, data with time stamps\n"
    "  --stop-after STEP  end after browsing (no group) or after the read (no subscription)\n"
    "  --hold             then keep the connection until the server asks to shut down\n";

// The last step the client takes.
enum class LastStep { Browse, Read, Subscribe };

struct Options {
  std::string progId = "KORVA_UPS.OPC";
  std::string branch = "Korva";
  std::optional<std::string> waitItem;
  std::string waitValue;
  int timeoutSeconds = 10;
  bool da1 = false;
  LastStep lastStep = LastStep::Subscribe;
  bool hold = false;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == "--progid" && hasValue) {
      options.progId = argv[++i];
    } else if (option == "--branch" && hasValue) {
      options.branch = argv[++i];
    } else if (option == "--wait" && hasValue) {
      const std::string wait = argv[++i];
      const size_t equals = wait.find('=');
      if (equals == std::string::npos || equals == 0)
        return std::nullopt;
      options.waitItem = wait.substr(0, equals);
      options.waitValue = wait.substr(equals + 1);
    } else if (option == "--timeout" && hasValue) {
      char* end = nullptr;
      const long seconds = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || seconds < 1 || seconds > 3600)
        return std::nullopt;
      options.timeoutSeconds = static_cast<int>(seconds);
    } else if (option == "--da1") {
      options.da1 = true;
    } else if (option == "--stop-after" && hasValue) {
      const std::string step = argv[++i];
      if (step == "browse")
        options.lastStep = LastStep::Browse;
      else if (step == "read")
        options.lastStep = LastStep::Read;
      else
        return std::nullopt;
    } else if (option == "--hold") {
      options.hold = true;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

// A step that failed: what was tried and the result code.
class StepFailed : public std::runtime_error {
 public:
  StepFailed(const std::string& step, HRESULT result)
      : std::runtime_error(step + " failed with " + ResultText(result)) {}
  explicit StepFailed(const std::string& what) : std::runtime_error(what) {}
};

void Check(HRESULT result, const std::string& step) {
  if (FAILED(result))
    throw StepFailed(step, result);
}

// A sink connected to one of an object's connection points while this lives.
class Connection {
 public:
  Connection(IUnknown* container, const IID& iid, IUnknown* sink, const std::string& name) {
    ComPtr<IConnectionPointContainer> points;
    Check(container->QueryInterface(IID_IConnectionPointContainer, points.ReceiveVoid()),
          "connection points for " + name);
    Check(points->FindConnectionPoint(iid, point_.Receive()), "FindConnectionPoint(" + name + ")");
    Check(point_->Advise(sink, &cookie_), "Advise(" + name + ")");
  }
  // Refused once the server is gone; nothing is left to undo then.
  ~Connection() { point_->Unadvise(cookie_); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

 private:
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

void PrintStatus(Watch& watch, IOPCServer& server) {
  OPCSERVERSTATUS* received = nullptr;
  Check(server.GetStatus(&received), "GetStatus");
  if (!received)
    throw StepFailed("GetStatus gave no status");
  const TaskMemPtr<OPCSERVERSTATUS> status(received);
  const TaskMemPtr<OLECHAR> vendor(status->szVendorInfo);
  watch.Print("status: state " + std::to_string(status->dwServerState) + ", " +
              std::to_string(status->dwGroupCount) + " groups, version " +
              std::to_string(status->wMajorVersion) + "." + std::to_string(status->wMinorVersion) +
              "." + std::to_string(status->wBuildNumber) + ", vendor \"" +
              WideToUtf8(status->szVendorInfo) + "\"");
  watch.Print("status: started " + TimeText(status->ftStartTime) + ", now " +
              TimeText(status->ftCurrentTime) + ", last update " +
              TimeText(status->ftLastUpdateTime));
}

std::vector<std::string> Browse(IOPCBrowseServerAddressSpace& browse, OPCBROWSETYPE type,
                                const char* what) {
  ComPtr<IEnumString> names;
  Check(browse.BrowseOPCItemIDs(type, OLESTR(""), VT_EMPTY, 0, names.Receive()),
        std::string("BrowseOPCItemIDs(") + what + ")");
  std::vector<std::string> found;
  if (!names)
    return found;
  for (;;) {
    LPOLESTR name = nullptr;
    ULONG fetched = 0;
    if (names->Next(1, &name, &fetched) != S_OK || fetched != 1)
      break;
    const TaskMemPtr<OLECHAR> owner(name);
    found.push_back(WideToUtf8(name));
  }
  return found;
}

struct Item {
  std::string leaf;
  std::string id;
};

std::vector<Item> BrowseItems(Watch& watch, IOPCServer& server, const std::string& branch) {
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  Check(server.QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.ReceiveVoid()),
        "IOPCBrowseServerAddressSpace");
  Check(browse->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("")), "browsing to the root");
  for (const std::string& name : Browse(*browse.Get(), OPC_BRANCH, "branches"))
    watch.Print("branch: " + name);
  Check(browse->ChangeBrowsePosition(OPC_BROWSE_DOWN, Utf8ToWide(branch).c_str()),
        "browsing down to " + branch);
  std::vector<Item> items;
  for (const std::string& leaf : Browse(*browse.Get(), OPC_LEAF, "leaves")) {
    WideString name = Utf8ToWide(leaf);
    LPWSTR id = nullptr;
    Check(browse->GetItemID(name.data(), &id), "GetItemID(" + leaf + ")");
    const TaskMemPtr<OLECHAR> owner(id);
    items.push_back({leaf, WideToUtf8(id)});
    watch.Print("leaf: " + leaf + " -> " + items.back().id);
  }
  if (items.empty())
    throw StepFailed("no leaves under " + branch);
  return items;
}

// The items added to the group: their server handles; their client handles
// are their indexes.
std::vector<OPCHANDLE> AddItems(Watch& watch, IOPCItemMgt& group, const std::vector<Item>& items) {
  std::vector<WideString> ids;
  for (const Item& item : items)
    ids.push_back(Utf8ToWide(item.id));
  WideString accessPath;
  std::vector<OPCITEMDEF> definitions(items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    definitions[i].szAccessPath = accessPath.data();
    definitions[i].szItemID = ids[i].data();
    definitions[i].bActive = TRUE;
    definitions[i].hClient = static_cast<OPCHANDLE>(i);
    definitions[i].vtRequestedDataType = VT_EMPTY;
  }
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  const DWORD count = static_cast<DWORD>(items.size());
  Check(group.AddItems(count, definitions.data(), &results, &errors), "AddItems");
  const TaskMemPtr<OPCITEMRESULT> resultsOwner(results);
  const TaskMemPtr<HRESULT> errorsOwner(errors);
  if (!results || !errors)
    throw StepFailed("AddItems gave no results");
  std::vector<OPCHANDLE> handles;
  bool allAdded = true;
  for (DWORD i = 0; i < count; ++i) {
    const TaskMemPtr<BYTE> blob(results[i].pBlob);
    if (FAILED(errors[i])) {
      watch.Print("item: " + items[i].id + " refused with " + ResultText(errors[i]));
      allAdded = false;
      continue;
    }
    handles.push_back(results[i].hServer);
    watch.Print("item: " + items[i].id + ", server handle " + std::to_string(results[i].hServer) +
                ", type " + std::to_string(results[i].vtCanonicalDataType) + ", rights " +
                std::to_string(results[i].dwAccessRights));
  }
  if (!allAdded)
    throw StepFailed("not every item was added");
  return handles;
}

// The values in the order of the handles given, which are the items' order.
void ReadFromDevice(Watch& watch, IOPCItemMgt& group, const std::vector<Item>& items,
                    std::vector<OPCHANDLE>& handles) {
  ComPtr<IOPCSyncIO> io;
  Check(group.QueryInterface(IID_IOPCSyncIO, io.ReceiveVoid()), "IOPCSyncIO");
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  const DWORD count = static_cast<DWORD>(handles.size());
  Check(io->Read(OPC_DS_DEVICE, count, handles.data(), &states, &errors), "Read");
  const TaskMemPtr<OPCITEMSTATE> statesOwner(states);
  const TaskMemPtr<HRESULT> errorsOwner(errors);
  if (!states || !errors)
    throw StepFailed("Read gave no values");
  for (DWORD i = 0; i < count; ++i) {
    const std::string& id = items[i].id;
    if (FAILED(errors[i]))
      watch.Print("read: " + id + " failed with " + ResultText(errors[i]));
    else
      watch.Print("read: " + id + " = " + ValueText(states[i].vDataValue) + ", " +
                  QualityText(states[i].wQuality) + ", " + TimeText(states[i].ftTimeStamp));
    VariantClear(&states[i].vDataValue);
  }
}

// The DA 1.0 subscription: the group's data object advises our sink.
class DataAdvise {
 public:
  DataAdvise(IOPCItemMgt& group, IAdviseSink* sink) {
    Check(group.QueryInterface(IID_IDataObject, data_.ReceiveVoid()), "IDataObject");
    FORMATETC format{opcserver::OPCSTMFORMATDATATIME, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    Check(data_->DAdvise(&format, 0, sink, &connection_), "DAdvise");
  }
  ~DataAdvise() { data_->DUnadvise(connection_); }
  DataAdvise(const DataAdvise&) = delete;
  DataAdvise& operator=(const DataAdvise&) = delete;

 private:
  ComPtr<IDataObject> data_;
  DWORD connection_ = 0;
};

std::optional<size_t> FindItem(const std::vector<Item>& items, const std::string& wanted) {
  for (size_t i = 0; i < items.size(); ++i)
    if (vcl::SameText(items[i].id, wanted) || vcl::SameText(items[i].leaf, wanted))
      return i;
  return std::nullopt;
}

// After the shutdown request the server's calls must fail, not hang.
void ExpectServerGone(Watch& watch, IOPCServer& server, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    OPCSERVERSTATUS* status = nullptr;
    const HRESULT result = server.GetStatus(&status);
    if (FAILED(result)) {
      watch.Print("after shutdown: GetStatus failed with " + ResultText(result));
      return;
    }
    if (status) {
      CoTaskMemFree(status->szVendorInfo);
      CoTaskMemFree(status);
    }
    if (std::chrono::steady_clock::now() > deadline)
      throw StepFailed("the server still answers after its shutdown request");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

// Until the server asks its clients to let go; then its calls must fail.
void HoldUntilShutdown(Watch& watch, IOPCServer& server, std::chrono::milliseconds limit) {
  if (!watch.WaitForShutdown(limit))
    throw StepFailed("no shutdown request within the time limit");
  ExpectServerGone(watch, server, limit);
}

int Run(const Options& options) {
  opcserver::RegisterClipboardFormats();
  const std::chrono::milliseconds limit(options.timeoutSeconds * 1000);
  CLSID clsid{};
  Check(CLSIDFromProgID(Utf8ToWide(options.progId).c_str(), &clsid),
        "CLSIDFromProgID(" + options.progId + ")");
  ComPtr<IOPCServer> server;
  Check(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, server.ReceiveVoid()),
        "creating " + options.progId);

  const auto watch = std::make_shared<Watch>();
  watch->Print("server: " + options.progId + " " + platform::com::GuidToString(clsid));
  const ComPtr<IOPCShutdown> shutdownSink =
      opcserver::MakeComObject<ShutdownSink>(watch).As<IOPCShutdown>();
  // Without --hold a server that cannot tell of its end is still tried.
  std::unique_ptr<Connection> shutdown;
  try {
    shutdown = std::make_unique<Connection>(server.Get(), IID_IOPCShutdown, shutdownSink.Get(),
                                            "shutdown");
  } catch (const StepFailed& failure) {
    if (options.hold)
      throw;
    watch->Print(std::string("note: ") + failure.what());
  }
  PrintStatus(*watch, *server.Get());
  const std::vector<Item> items = BrowseItems(*watch, *server.Get(), options.branch);
  if (options.lastStep == LastStep::Browse) {
    if (options.hold)
      HoldUntilShutdown(*watch, *server.Get(), limit);
    return 0;
  }

  std::optional<size_t> awaited;
  if (options.waitItem) {
    awaited = FindItem(items, *options.waitItem);
    if (!awaited)
      throw StepFailed(*options.waitItem + " is not among the leaves of " + options.branch);
  }
  std::vector<std::string> ids;
  for (const Item& item : items)
    ids.push_back(item.id);
  watch->Expect(ids, awaited, options.waitValue);

  OPCHANDLE groupHandle = 0;
  DWORD rate = 0;
  ComPtr<IOPCItemMgt> group;
  Check(server->AddGroup(OLESTR("opcclient"), TRUE, 100, 1, nullptr, nullptr, 0x0409, &groupHandle,
                         &rate, IID_IOPCItemMgt, reinterpret_cast<LPUNKNOWN*>(group.Receive())),
        "AddGroup");
  watch->Print("group: server handle " + std::to_string(groupHandle) + ", update rate " +
               std::to_string(rate) + " ms");
  std::vector<OPCHANDLE> handles = AddItems(*watch, *group.Get(), items);
  ReadFromDevice(*watch, *group.Get(), items, handles);

  if (options.lastStep == LastStep::Read) {
    if (options.hold) {
      HoldUntilShutdown(*watch, *server.Get(), limit);
      return 0;
    }
    group.Reset();
    Check(server->RemoveGroup(groupHandle, FALSE), "RemoveGroup");
    return 0;
  }

  bool reached = true;
  {
    std::unique_ptr<Connection> callback;
    std::unique_ptr<DataAdvise> advise;
    if (options.da1) {
      const ComPtr<IAdviseSink> sink =
          opcserver::MakeComObject<AdviseSink>(watch).As<IAdviseSink>();
      advise = std::make_unique<DataAdvise>(*group.Get(), sink.Get());
    } else {
      const ComPtr<IOPCDataCallback> sink =
          opcserver::MakeComObject<DataCallbackSink>(watch).As<IOPCDataCallback>();
      callback =
          std::make_unique<Connection>(group.Get(), IID_IOPCDataCallback, sink.Get(), "data");
    }
    if (awaited) {
      reached = watch->WaitForValue(limit);
      watch->Print(std::string(reached ? "reached: " : "timed out: ") + items[*awaited].id + " = " +
                   options.waitValue);
    } else {
      std::this_thread::sleep_for(limit);
    }
    if (options.hold) {
      HoldUntilShutdown(*watch, *server.Get(), limit);
      return reached ? 0 : 1;
    }
  }
  group.Reset();
  Check(server->RemoveGroup(groupHandle, FALSE), "RemoveGroup");
  return reached ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
    std::fputs("opcclient: COM cannot be started\n", stderr);
    return 1;
  }
  int status = 1;
  try {
    status = Run(*options);
  } catch (const std::exception& failure) {
    std::fflush(stdout);
    std::fprintf(stderr, "opcclient: %s\n", failure.what());
  }
  CoUninitialize();
  return status;
}
