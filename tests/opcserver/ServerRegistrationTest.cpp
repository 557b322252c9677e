// The OPC server's registration and the command line that asks for it: the
// keys read back (the stand-in's registry natively, the platform's own under
// Wine), their order, what unregistration leaves, and failures reported.
#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "opcserver/ComServer.h"
#include "opcserver/OPCDA.h"
#include "opcserver/ServerIdentity.h"
#include "opcserver/ServerRegistration.h"
#include "platform/CommandLine.h"
#include "platform/com/ComHandles.h"

namespace {

using opcserver::ComServerAction;
using opcserver::ServerRegistration;
using platform::com::RegistryKey;
using platform::com::Utf8ToWide;
using platform::com::WideString;
using platform::com::WideToUtf8;

const CLSID kTestClass = {
    0x5B0C9A61, 0x2F8E, 0x4C7D, {0x9A, 0x51, 0x3E, 0x6F, 0x0B, 0x1D, 0x2C, 0x40}};
const char kClassKey[] = "CLSID\\{5B0C9A61-2F8E-4C7D-9A51-3E6F0B1D2C40}";
const char kTestClassId[] = "{5B0C9A61-2F8E-4C7D-9A51-3E6F0B1D2C40}";

ServerRegistration TestServer() {
  // No such folder: the path has no short form, in any build.
  return {kTestClass, "KORVA_TEST.Registration", "Korva registration test", "Korva test vendor",
          Utf8ToWide("C:\\Korva Test\\korvatest.exe")};
}

// A value below HKEY_CLASSES_ROOT (the default one without a name); nothing
// when the key or value is missing.
std::optional<std::string> ClassesValue(const std::string& key, const char* name = nullptr) {
  RegistryKey opened;
  OLECHAR text[512] = {};
  DWORD size = sizeof text - sizeof(OLECHAR);
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, KEY_READ, opened.Receive()) !=
          ERROR_SUCCESS ||
      RegQueryValueExW(opened.Get(), name ? Utf8ToWide(name).c_str() : nullptr, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
    return std::nullopt;
  return WideToUtf8(text);
}

bool ClassesKeyExists(const std::string& key) {
  RegistryKey opened;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, KEY_READ, opened.Receive()) ==
         ERROR_SUCCESS;
}

void CreateClassesKey(const std::string& key) {
  RegistryKey created;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, Utf8ToWide(key).c_str(), 0, nullptr, 0, KEY_WRITE,
                            nullptr, created.Receive(), nullptr),
            ERROR_SUCCESS);
}

// Every key the test server registers, each with its default value or the
// named one; nothing for a key without a value.
struct Entry {
  std::string key;
  const char* name;
  std::optional<std::string> value;
};
std::vector<Entry> TestServerTable() {
  const std::string categories = std::string(kClassKey) + "\\Implemented Categories\\";
  return {
      {kClassKey, nullptr, "Korva registration test"},
      {std::string(kClassKey) + "\\LocalServer32", nullptr, "\"C:\\Korva Test\\korvatest.exe\""},
      {"KORVA_TEST.Registration", nullptr, "Korva registration test"},
      {"KORVA_TEST.Registration\\Clsid", nullptr, kTestClassId},
      {std::string(kClassKey) + "\\ProgID", nullptr, "KORVA_TEST.Registration"},
      {categories + "{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}", nullptr, std::nullopt},
      {categories + "{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}", nullptr, std::nullopt},
      {"KORVA_TEST.Registration\\OPC\\Vendor", nullptr, "Korva test vendor"},
      {"AppID\\korvatest.exe", "AppID", kTestClassId},
  };
}

class ServerRegistrationTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
#ifndef _WIN32
    comstandin::ClearRegistry();
#endif
  }
  void TearDown() override {
#ifdef _WIN32
    opcserver::UpdateServerRegistry(TestServer(), false);
#else
    comstandin::ClearRegistry();
#endif
    CoUninitialize();
  }
};

TEST_F(ServerRegistrationTest,
       EveryKeyIsWrittenAndNoneOutlivesUnregisteringATwiceRegisteredServer) {
  opcserver::UpdateServerRegistry(TestServer(), true);
  opcserver::UpdateServerRegistry(TestServer(), true);
  for (const auto& [key, name, value] : TestServerTable()) {
    EXPECT_TRUE(ClassesKeyExists(key)) << key;
    if (value) {
      EXPECT_EQ(ClassesValue(key, name), value) << key;
    }
  }

  opcserver::UpdateServerRegistry(TestServer(), false);
  for (const auto& entry : TestServerTable())
    EXPECT_FALSE(ClassesKeyExists(entry.key)) << entry.key;
  EXPECT_FALSE(ClassesKeyExists(kClassKey));
  EXPECT_FALSE(ClassesKeyExists("KORVA_TEST.Registration"));
  // Nothing left to remove is no failure.
  EXPECT_NO_THROW(opcserver::UpdateServerRegistry(TestServer(), false));
}

TEST_F(ServerRegistrationTest, UnregisteringLeavesTheKeysOfOthers) {
  opcserver::UpdateServerRegistry(TestServer(), true);
  const std::string foreignCategory =
      std::string(kClassKey) + "\\Implemented Categories\\{00000000-0000-0000-0000-000000000001}";
  CreateClassesKey("KORVA_TEST.Registration\\CurVer");
  CreateClassesKey(foreignCategory);

  opcserver::UpdateServerRegistry(TestServer(), false);
  EXPECT_TRUE(ClassesKeyExists("KORVA_TEST.Registration\\CurVer"));
  EXPECT_TRUE(ClassesKeyExists(foreignCategory));
  // The keys that hold them stay; everything else of ours is gone.
  for (const auto& entry : TestServerTable()) {
    const bool holdsOthers = entry.key == kClassKey || entry.key == "KORVA_TEST.Registration";
    EXPECT_EQ(ClassesKeyExists(entry.key), holdsOthers) << entry.key;
  }

  RegDeleteKeyW(HKEY_CLASSES_ROOT, OLESTR("KORVA_TEST.Registration\\CurVer"));
  RegDeleteKeyW(HKEY_CLASSES_ROOT, Utf8ToWide(foreignCategory).c_str());
}

TEST_F(ServerRegistrationTest, NamesThatWouldReachOtherKeysAreRefusedBeforeAnyKeyIsWritten) {
  for (const auto& [progId, program] : {std::pair<const char*, const char*>{"", "C:\\k.exe"},
                                        {"KORVA\\TEST", "C:\\k.exe"},
                                        {"KORVA.TEST", ""},
                                        {"KORVA.TEST", "C:\\Korva\\"}}) {
    ServerRegistration server = TestServer();
    server.ServerName = progId;
    server.ProgramPath = Utf8ToWide(program);
    EXPECT_THROW(opcserver::UpdateServerRegistry(server, true), opcserver::EOleRegistrationError)
        << progId << " " << program;
    EXPECT_THROW(opcserver::UpdateServerRegistry(server, false), opcserver::EOleRegistrationError)
        << progId << " " << program;
    EXPECT_FALSE(ClassesKeyExists(kClassKey));
  }
}

TEST(LocalServerCommandTest, APathWithABlankIsQuotedWhenItHasNoShortForm) {
  EXPECT_EQ(WideToUtf8(opcserver::LocalServerCommand(Utf8ToWide("C:\\Korva\\korvamon.exe"))),
            "C:\\Korva\\korvamon.exe");
  EXPECT_EQ(WideToUtf8(opcserver::LocalServerCommand(Utf8ToWide("C:\\Korva Test\\korvamon.exe"))),
            "\"C:\\Korva Test\\korvamon.exe\"");
}

TEST(ComServerSwitchesTest, SwitchesBeginWithDashOrSlashInAnyCase) {
  struct Case {
    std::vector<std::string> parameters;
    ComServerAction action;
    bool startedByCom;
  };
  const Case cases[] = {
      {{"/RegServer"}, ComServerAction::Register, false},
      {{"-REGSERVER"}, ComServerAction::Register, false},
      {{"17408", "17409", "/regserver"}, ComServerAction::Register, false},
      {{"-UnregServer"}, ComServerAction::Unregister, false},
      {{"/unregserver", "/Embedding"}, ComServerAction::Unregister, true},
      {{"-Embedding"}, ComServerAction::Run, true},
      {{"/AUTOMATION"}, ComServerAction::Run, true},
      {{"RegServer", "Embedding"}, ComServerAction::Run, false},
      {{"--RegServer", "/RegServerX", "\\Embedding", "/", ""}, ComServerAction::Run, false},
      {{}, ComServerAction::Run, false},
  };
  for (const Case& c : cases) {
    const opcserver::ComServerStart start = opcserver::ReadComServerSwitches(c.parameters);
    const std::string words = testing::PrintToString(c.parameters);
    EXPECT_EQ(start.action, c.action) << words;
    EXPECT_EQ(start.startedByCom, c.startedByCom) << words;
  }

  const platform::ScopedCommandLine byCom({"korvamon", "-Embedding"});
  EXPECT_TRUE(opcserver::StartedByCom());
  const platform::ScopedCommandLine byUser({"korvamon", "17408", "17409"});
  EXPECT_FALSE(opcserver::StartedByCom());
  bool called = false;
  std::ostringstream errors;
  EXPECT_EQ(opcserver::RunRegistrationSwitches([&](bool) { called = true; }, errors), std::nullopt);
  EXPECT_FALSE(called);
}

#ifndef _WIN32
// The stand-in writes down every change: the order is the table's.
TEST_F(ServerRegistrationTest, KeysAreWrittenAndRemovedInTheTablesOrder) {
  const std::string c = kClassKey;
  const std::string p = "KORVA_TEST.Registration";
  const std::string cat10 = c + "\\Implemented Categories\\{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}";
  const std::string cat20 = c + "\\Implemented Categories\\{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}";
  opcserver::UpdateServerRegistry(TestServer(), true);
  EXPECT_EQ(comstandin::RegistryJournal(),
            (std::vector<std::string>{
                "key " + c, "value " + c + " []", "key " + c + "\\LocalServer32",
                "value " + c + "\\LocalServer32 []", "key " + p, "value " + p + " []",
                "key " + p + "\\Clsid", "value " + p + "\\Clsid []", "key " + c + "\\ProgID",
                "value " + c + "\\ProgID []", "key " + cat10, "key " + cat20,
                "key " + p + "\\OPC\\Vendor", "value " + p + "\\OPC\\Vendor []",
                "key AppID\\korvatest.exe", "value AppID\\korvatest.exe [AppID]"}));

  comstandin::ClearRegistry();
  opcserver::UpdateServerRegistry(TestServer(), true);
  const size_t written = comstandin::RegistryJournal().size();
  opcserver::UpdateServerRegistry(TestServer(), false);
  const std::vector<std::string> journal = comstandin::RegistryJournal();
  EXPECT_EQ(
      std::vector<std::string>(journal.begin() + static_cast<long>(written), journal.end()),
      (std::vector<std::string>{
          "delete " + cat10, "delete " + cat20, "delete " + c + "\\Implemented Categories",
          "delete " + p + "\\OPC\\Vendor", "delete " + p + "\\OPC", "delete AppID\\korvatest.exe",
          "delete " + c + "\\ProgID", "delete " + p + "\\Clsid", "delete " + p,
          "delete " + c + "\\LocalServer32", "delete " + c}));
}

TEST_F(ServerRegistrationTest, RegServerRegistersKorvamonAndUnregServerRemovesIt) {
  std::ostringstream errors;
  {
    const platform::ScopedCommandLine line({"korvamon", "-regserver"});
    EXPECT_EQ(opcserver::RunRegistrationSwitches(&opcserver::UpdateKorvaServerRegistry, errors), 0);
  }
  const std::string classKey = std::string("CLSID\\") + opcserver::kServerClassId;
  const std::string libraryKey = std::string("TypeLib\\") + opcserver::kTypeLibraryId + "\\1.0";
  EXPECT_EQ(ClassesValue(classKey), "KORVA UPS OPC Server");
  EXPECT_EQ(ClassesValue(classKey + "\\LocalServer32"),
            WideToUtf8(opcserver::LocalServerCommand(platform::com::ProgramFilePath())));
  EXPECT_EQ(ClassesValue("KORVA_UPS.OPC\\OPC\\Vendor"), "Korva");
  EXPECT_EQ(ClassesValue(libraryKey), "KORVA DCOM  Library");
  EXPECT_EQ(ClassesValue(libraryKey + "\\0\\win64"), WideToUtf8(platform::com::ProgramFilePath()));

  {
    const platform::ScopedCommandLine line({"korvamon", "/UNREGSERVER"});
    EXPECT_EQ(opcserver::RunRegistrationSwitches(&opcserver::UpdateKorvaServerRegistry, errors), 0);
  }
  EXPECT_EQ(errors.str(), "");
  for (const std::string& key : {classKey, std::string("KORVA_UPS.OPC"),
                                 std::string("TypeLib\\") + opcserver::kTypeLibraryId})
    EXPECT_FALSE(ClassesKeyExists(key)) << key;
}

// Without the right to write the keys, neither registering nor removing
// them ends as a success.
TEST_F(ServerRegistrationTest, AFailedRegistrationEndsWithOneAndSaysWhy) {
  struct Case {
    const char* switchWord;
    bool registeredBefore;
    std::string text;
  };
  const Case cases[] = {
      {"/RegServer", false,
       std::string("Registration failed: Cannot register the type library ") +
           opcserver::kTypeLibraryId + ": OLE-Fehler 80070005\n"},
      {"/UnregServer", true,
       std::string("Unregistration failed: Cannot unregister the OPC categories of ") +
           opcserver::kServerClassId + ": OLE-Fehler 80070005\n"},
  };
  for (const Case& c : cases) {
    comstandin::ClearRegistry();
    if (c.registeredBefore)
      opcserver::UpdateKorvaServerRegistry(true);
    comstandin::DenyRegistryWrites(true);
    const platform::ScopedCommandLine line({"korvamon", c.switchWord});
    std::ostringstream errors;
    EXPECT_EQ(opcserver::RunRegistrationSwitches(&opcserver::UpdateKorvaServerRegistry, errors), 1);
    EXPECT_EQ(errors.str(), c.text);
  }

  comstandin::ClearRegistry();
  comstandin::DenyRegistryWrites(true);
  try {
    opcserver::UpdateServerRegistry(TestServer(), true);
    ADD_FAILURE() << "no error";
  } catch (const opcserver::EOleRegistrationError& error) {
    EXPECT_STREQ(error.what(),
                 "Cannot write the registry key HKEY_CLASSES_ROOT\\CLSID\\"
                 "{5B0C9A61-2F8E-4C7D-9A51-3E6F0B1D2C40}: OLE-Fehler 80070005");
    EXPECT_EQ(error.ErrorCode(), E_ACCESSDENIED);
  }
}
#endif

}  // namespace
