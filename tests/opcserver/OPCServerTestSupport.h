// What the OPC server's tests stand on: a server object of the test's own on
// the virtual clock, clients made by its class object in-process, a record
// of its log lines, a shutdown sink, and the check that neither COM memory
// nor COM objects outlive a test.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../com/ComTestSupport.h"
#include "opcserver/PsOPCProvider.h"
#include "opcserver/PsOPCProviderClients.h"
#include "opcserver/opc_provider.h"
#include "vcl/VclTestEnvironment.h"

namespace korva_test {

using opcserver::ComPtr;

// Records the reasons it is told, in a list the test may share between sinks.
class ShutdownSink : public opcserver::ComObject<IOPCShutdown> {
 public:
  ShutdownSink(std::vector<std::string>& heard, std::string name)
      : heard_(heard), name_(std::move(name)) {}
  HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override {
    heard_.push_back(name_ + ":" + platform::com::WideToUtf8(szReason));
    if (OnRequest)
      OnRequest();
    return S_OK;
  }
  std::function<void()> OnRequest;

 private:
  std::vector<std::string>& heard_;
  const std::string name_;
};

// The texts of a task-allocated list of wide strings, which it frees.
inline std::vector<std::string> TakeTexts(LPWSTR* texts, size_t count) {
  std::vector<std::string> result;
  for (size_t i = 0; i < count; ++i) {
    result.push_back(platform::com::WideToUtf8(texts[i]));
    CoTaskMemFree(texts[i]);
  }
  CoTaskMemFree(texts);
  return result;
}

// Every text an enumerator gives, one call at a time.
inline std::vector<std::string> AllTexts(IEnumString* enumerator) {
  std::vector<std::string> texts;
  LPOLESTR text = nullptr;
  ULONG fetched = 0;
  while (enumerator && enumerator->Next(1, &text, &fetched) == S_OK) {
    texts.push_back(platform::com::WideToUtf8(text));
    CoTaskMemFree(text);
  }
  return texts;
}

class OPCServerTest : public VclTest {
 protected:
  OPCServerTest() {
    server_ = std::make_unique<opcserver::TPsOPCProvider>();
    server_->SetCLSID("{926B1231-E7E1-4241-863C-7AA5C5ABFCDF}");
    server_->SetServerName("KORVA_UPS.OPC");
    server_->Vendor = "Vendor";
    server_->VendorInfo = "http://vendor.example";
    server_->OnLog = [this](vcl::TObject*, const std::string& line) {
      // The time stamp in front is the line log's business.
      logged.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
    };
    server_->Initialize();
  }
  ~OPCServerTest() override {
    server_.reset();
    EXPECT_EQ(opcserver::LiveComObjects(), liveObjects_) << "COM objects left";
  }

  opcserver::TPsOPCProvider& server() { return *server_; }
  // The server runs once the loop handles its first message.
  void Run() { loop().ProcessMessages(); }

  // A client made by the class object as COM makes it.
  HRESULT Connect(ComPtr<IOPCServer>& client) {
    return server_->Factory().CreateInstance(nullptr, IID_IOPCServer, client.ReceiveVoid());
  }
  ComPtr<IOPCServer> Connect() {
    ComPtr<IOPCServer> client;
    EXPECT_EQ(Connect(client), S_OK);
    return client;
  }

  std::vector<std::string> logged;

 private:
  const int64_t liveObjects_ = opcserver::LiveComObjects();
  NoLeaks noLeaks_;
  std::unique_ptr<opcserver::TPsOPCProvider> server_;
};

// The same with the provider window's ten variables in the server's tree,
// the server running and one client connected.
class OPCProviderWindowTest : public OPCServerTest {
 protected:
  OPCProviderWindowTest() {
    window = vcl::CreateForm<opcserver::TOPCProvider>(nullptr, &server());
    Run();
    client = Connect();
  }
  ~OPCProviderWindowTest() override {
    client.Reset();
    vcl::FreeObject(window);
  }

  opcserver::TOPCProvider* window = nullptr;
  ComPtr<IOPCServer> client;
};

}  // namespace korva_test
