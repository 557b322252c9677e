// The toolkit's texts and its trace hooks with a writer attached.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/Debugs.h"
#include "toolkit/PsStrings.h"
#include "toolkit/PsVariant.h"

namespace {

using namespace toolkit;

TEST(PsStringsTest, NumberedTextsAsGiven) {
  EXPECT_EQ(PsString(sPsAlarmStateUnknown), "Unkownn");
  EXPECT_EQ(PsString(65182), "Other");
  EXPECT_EQ(PsString(sPsVarPropStdDev), "Standard Deviation");
  EXPECT_EQ(PsString(sPsOPCSubstatusFirst + 15), "At Low limit");
  EXPECT_EQ(PsString(sPsOPCLimitHigh), "At High limit");
  EXPECT_EQ(PsString(sPsTrue), "True");
  EXPECT_EQ(PsString(65161), "");
  EXPECT_EQ(PsString(0), "");
}

// Records what reaches it, one line per call.
class RecordingWriter : public DebugWriter {
 public:
  explicit RecordingWriter(std::vector<std::string>* log) : log_(log) {}
  void Enter(std::string_view name, const void*) override { Add("enter " + std::string(name)); }
  void EnterProc(std::string_view name) override { Add("proc " + std::string(name)); }
  void Leave(std::string_view name) override { Add("leave " + std::string(name)); }
  void Indent() override { Add("indent"); }
  void Unindent() override { Add("unindent"); }
  void Write(std::string_view line) override { Add(std::string(line)); }
  void Object(std::string_view name, const void*) override { Add("object " + std::string(name)); }
  void Exception(const std::exception& error) override {
    Add("error " + std::string(error.what()));
  }
  void Value(std::string_view name, std::string_view text) override {
    Add(std::string(name) + ": " + std::string(text));
  }

 private:
  void Add(std::string line) { log_->push_back(std::move(line)); }
  std::vector<std::string>* log_;
};

class DebugsTest : public testing::Test {
 protected:
  DebugsTest() { SetDebugWriter(std::make_unique<RecordingWriter>(&log_)); }
  ~DebugsTest() override { DebugFreeObject(); }
  std::vector<std::string> log_;
};

struct Counted {
  int RefCount() const { return 3; }
};

TEST_F(DebugsTest, HooksReachTheWriterWithTheirValues) {
  DebugValueInt("x", 5);
  DebugValueHex("h", 255);
  DebugValueInt64("big", int64_t{1} << 40);
  DebugValueLongWord("lw", 4000000000u);
  DebugValueBool("b", true);
  DebugValueVariant("v", PsVariant(2.5), true);
  DebugValueWideStr("w", u"gr\u00FC\u00DF", true);
  DebugValuePWideChar("p", nullptr);
  DebugValueHResult("hr", static_cast<int32_t>(0x80004005));
  DebugWrite("%d of %d", 1);  // a bad format traces itself, raises nothing
  DebugException(std::runtime_error("boom"));
  Counted counted;
  DebugInterfacedObject("item", &counted);
  EXPECT_EQ(log_, (std::vector<std::string>{"x=5", "h=$FF", "big=1099511627776", "lw=4000000000",
                                            "b: True", "v: 2.5{Double}", "w: 'gr\xC3\xBC\xC3\x9F'",
                                            "p: nil", "hr: $80004005", "%d of %d", "error boom",
                                            "indent", "object item", "RefCount=3", "unindent"}));
  EXPECT_EQ(DebugInfoText(), "");
}

TEST_F(DebugsTest, ScopesLeaveUnlessUnwinding) {
  {
    DebugScope scope("TPsX.Ok", this);
    DebugScope inner("Helper");
  }
  try {
    DebugScope scope("TPsX.Fails", this);
    throw std::runtime_error("raised");
  } catch (const std::runtime_error&) {
    // A scope opened while an exception is handled still leaves normally.
    DebugScope handler("TPsX.Handler");
  }
  EXPECT_EQ(log_, (std::vector<std::string>{"enter TPsX.Ok", "proc Helper", "leave Helper",
                                            "leave TPsX.Ok", "enter TPsX.Fails",
                                            "proc TPsX.Handler", "leave TPsX.Handler"}));
}

TEST(DebugWriterTest, AFailingWriterOrNoneChangesNothing) {
  struct Throwing : DebugWriter {
    void Write(std::string_view) override { throw std::runtime_error("writer broke"); }
    void Leave(std::string_view) override { throw std::runtime_error("writer broke"); }
  };
  SetDebugWriter(std::make_unique<Throwing>());
  EXPECT_NO_THROW(DebugValueInt("x", 1));
  EXPECT_NO_THROW({ DebugScope scope("S"); });
  DebugFreeObject();
  EXPECT_EQ(ActiveDebugWriter(), nullptr);
  EXPECT_NO_THROW(DebugValueInt("x", 1));
}

}  // namespace
