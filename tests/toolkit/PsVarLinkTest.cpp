// The variable link: what it hears of its variable, what it reads and writes
// for its client, its list form, and snapshots read on another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ExpectError.h"
#include "PsVarsTestSupport.h"
#include "toolkit/PsClasses.h"

namespace {

using namespace toolkit;
using korva_test::ExpectError;
using vars_test::kNow;

class PsVarLinkTest : public vars_test::VarsTest {
 protected:
  PsVarLinkTest() : x_(Make<TPsInteger>("PsX")) {
    Record(link_, "link");
    link_.SetVariable(x_);
  }

  // The link's events, named, in the order they come.
  void Record(TPsVarLink& link, const std::string& name) {
    link.OnChange = [this, name](vcl::TObject*) { log_.push_back(name + " change"); };
    link.OnBadValue = [this, name](vcl::TObject*) { log_.push_back(name + " bad"); };
    link.OnVarDestroy = [this, name](vcl::TObject*) { log_.push_back(name + " destroy"); };
    link.OnConfigChanged = [this, name](vcl::TObject*) { log_.push_back(name + " config"); };
  }

  std::vector<std::string> log_;
  TPsInteger* x_;
  TPsVarLink link_;
};

using Log = std::vector<std::string>;

TEST_F(PsVarLinkTest, HearsChangesOfItsOwnKind) {
  log_.clear();
  link_.SetVariable(x_);
  x_->SetDescription("not the value");
  EXPECT_EQ(log_, Log{});
  x_->SetValue(3);
  EXPECT_EQ(log_, Log{"link change"});
  EXPECT_TRUE(link_.HasValue());
  EXPECT_EQ(link_.GetValue().AsInt32(), 3);
  EXPECT_EQ(link_.GetAsStringGood(), "3");
  EXPECT_EQ(link_.GetDataType(), vdtInteger);
  // Inactive: it hears nothing.
  link_.SetActive(false);
  log_.clear();
  x_->SetValue(4);
  EXPECT_EQ(log_, Log{});
}

TEST_F(PsVarLinkTest, BadValuesReachOnChangeOnlyWhenPassed) {
  x_->SetValue(1);
  log_.clear();
  x_->Undefine(vpValue, 0);
  EXPECT_EQ(log_, (Log{"link change", "link bad"}));
  link_.PassBadValues = false;
  x_->SetValue(2);
  log_.clear();
  x_->Undefine(vpValue, 0);
  EXPECT_EQ(log_, Log{"link bad"});
  x_->SetValue(2);
  link_.SetValue(PsVariant());
  link_.SetValue(PsVariant::Null());
  EXPECT_EQ(x_->Value(), 2);
  EXPECT_EQ(x_->Quality(), vpqGood);
}

TEST_F(PsVarLinkTest, AWriterDoesNotHearItsOwnWrites) {
  TPsVarLink other;
  Record(other, "other");
  other.SetVariable(x_);
  // Nor is it asked to vet them.
  const auto vet = [this](const std::string& name) {
    return [this, name](vcl::TObject*, PsVariant&, TPsVarQuality&, TPsVarChangingResponse&) {
      log_.push_back(name + " vets");
    };
  };
  link_.OnChanging = vet("link");
  other.OnChanging = vet("other");
  log_.clear();
  link_.SetValue(5);
  EXPECT_EQ(log_, (Log{"other vets", "other change"}));
  link_.OnChanging = nullptr;
  other.OnChanging = nullptr;
  log_.clear();
  link_.SetValue(55);
  EXPECT_EQ(log_, Log{"other change"});
  link_.SetAsDataType("6", vdtOleStr, false, true);
  EXPECT_EQ(x_->Value(), 6);
  EXPECT_EQ(log_, (Log{"other change", "other change"}));

  // A refused write leaves the link unlocked: it hears later changes.
  x_->SetReadOnly(true);
  EXPECT_THROW(link_.SetValue(7), EPsReadOnly);
  EXPECT_THROW(link_.SetAsDataType(7, vdtInteger, false, true), EPsReadOnly);
  EXPECT_FALSE(link_.Locked());
  x_->SetReadOnly(false);
  log_.clear();
  x_->SetValue(8);
  EXPECT_EQ(log_, (Log{"link change", "other change"}));
}

TEST_F(PsVarLinkTest, WithoutAVariableReadsGiveDefaults) {
  TPsVarLink link;
  EXPECT_FALSE(link.HasValue());
  EXPECT_TRUE(link.IsBad());
  EXPECT_EQ(link.GetTimestamp(), 0);
  EXPECT_TRUE(link.GetValue().IsNull());
  EXPECT_EQ(link.GetAsFloat(), -1234567.09);
  EXPECT_EQ(link.GetDataType(), vdtDefault);
  EXPECT_FALSE(link.GetIsArray());
  ExpectError<EPsException>([&] { link.GetAsStringGood(); }, "Variable not assigned.");
  ExpectError<EPsException>([&] { link.GetAsDataType(vdtDefault, false); },
                            "Variable not assigned.");
  ExpectError<EPsException>([&] { link.GetSnapshot(vdtDefault, false); }, "Variable not assigned.");
  link.SetValue(1);
  link.SetAsDataType(1, vdtInteger, false, true);
}

TEST_F(PsVarLinkTest, ComparesByVariableAndKind) {
  auto* y = Make<TPsInteger>("psy");
  TPsVarLink same, caption, none, another;
  same.SetVariable(x_);
  caption.SetVariable(x_);
  caption.SetVarProp(vpCaption);
  another.SetVariable(y);
  vcl::TStringList names;
  EXPECT_EQ(link_.Compare(&same, &names), 0);
  EXPECT_EQ(names.Text(), "Variable\r\nVarProp\r\n");
  EXPECT_EQ(link_.Compare(&caption, nullptr), -1);
  EXPECT_EQ(caption.Compare(&link_, nullptr), 1);
  EXPECT_EQ(none.Compare(&link_, nullptr), -1);
  EXPECT_EQ(link_.Compare(&none, nullptr), 1);
  EXPECT_EQ(link_.Compare(&another, nullptr), -1);  // "Form1.PsX" before "Form1.psy"
  EXPECT_EQ(another.Compare(&link_, nullptr), 1);
  EXPECT_FALSE(link_.HasDifferences(&caption, nullptr));
}

TEST_F(PsVarLinkTest, FreeingTheVariableLeavesTheLinkEmpty) {
  auto* y = Make<TPsInteger>("PsY");
  log_.clear();
  link_.SetVariable(y);  // leaving a variable is no destruction
  link_.SetVariable(x_);
  EXPECT_EQ(log_, (Log{"link config", "link config"}));
  log_.clear();
  vcl::Free(x_);
  EXPECT_EQ(link_.Variable(), nullptr);
  EXPECT_EQ(log_, (Log{"link config", "link destroy"}));
  y->SetValue(1);
  EXPECT_EQ(log_.size(), 2u);

  TPsVarLink copy;
  link_.SetVarProp(vpCaption);
  link_.SetVariable(y);
  copy.Assign(&link_);
  EXPECT_EQ(copy.Variable(), y);
  EXPECT_EQ(copy.VarProp(), vpCaption);
}

TEST_F(PsVarLinkTest, AListOfLinksSavesAndLoadsItsRows) {
  auto* y = Make<TPsBool>("PsY");
  TPsPersistentList list(nullptr, &TPsVarLink::ClassMeta(), true);
  static_cast<TPsVarLink*>(list.Add())->SetVariable(x_);
  auto* second = static_cast<TPsVarLink*>(list.Add());
  second->SetVariable(y);
  second->SetVarProp(vpCaption);
  std::ostringstream out;
  list.SaveToStream(out);
  EXPECT_EQ(out.str(), "Variable;VarProp\r\nForm1.PsX;vpValue\r\nForm1.PsY;vpCaption\r\n");

  TPsPersistentList loaded(nullptr, &TPsVarLink::ClassMeta(), true);
  std::istringstream in(out.str());
  loaded.LoadFromStream(in);
  ASSERT_EQ(loaded.Count(), 2);
  const auto* first = static_cast<const TPsVarLink*>(loaded.Items(0));
  const auto* last = static_cast<const TPsVarLink*>(loaded.Items(1));
  EXPECT_EQ(first->Variable(), x_);
  EXPECT_EQ(last->Variable(), y);
  EXPECT_EQ(last->VarProp(), vpCaption);
}

TEST_F(PsVarLinkTest, SnapshotsConvertWhatWasRead) {
  TPsVarSnapshot snapshot = link_.GetSnapshot(vdtOleStr, false);
  EXPECT_EQ(snapshot.Quality, vpqBad);
  EXPECT_EQ(snapshot.Value.AsText(), "#BAD");
  x_->SetValue(42);
  snapshot = link_.GetSnapshot(vdtDefault, false);
  EXPECT_EQ(snapshot.Value.VarType(), varInteger);
  EXPECT_EQ(snapshot.Value.AsInt32(), 42);
  EXPECT_EQ(snapshot.Quality, vpqGood);
  EXPECT_EQ(snapshot.Timestamp, kNow);
  snapshot = link_.GetSnapshot(vdtDouble, true);
  EXPECT_EQ(snapshot.Value.VarType(), varArray | varDouble);
  EXPECT_TRUE(VariantsEqual(link_.GetAsDataType(vdtDouble, true), snapshot.Value, true));
}

// One thread writes, another reads snapshots: each snapshot is one whole
// write, with that write's quality and timestamp.
TEST_F(PsVarLinkTest, SnapshotsOnAnotherThreadSeeWholeWrites) {
  auto* text = Make<TPsString>("PsText");
  TPsVarLink link;
  link.SetVariable(text);
  const std::string even(100, 'e');
  const std::string odd(100, 'o');
  constexpr int kWrites = 100000;
  std::atomic<bool> done = false;
  std::atomic<int> good = 0;
  std::string failure;
  std::thread reader([&] {
    while (!done) {
      const TPsVarSnapshot snapshot = link.GetSnapshot(vdtOleStr, false);
      if (snapshot.Timestamp == 0)
        continue;
      const auto write = static_cast<int>(snapshot.Timestamp - kNow);
      if (snapshot.Quality != vpqGood || snapshot.Value.AsText() != (write % 2 ? odd : even)) {
        failure = "write " + std::to_string(write) + ": " + snapshot.Value.AsText();
        return;
      }
      ++good;
    }
  });
  for (int write = 0; write < kWrites; ++write) {
    clock_.SetNow(kNow + write);
    text->SetValue(write % 2 ? odd : even);
  }
  done = true;
  reader.join();
  EXPECT_EQ(failure, "");
  EXPECT_GT(good, 0);
}

// While the main thread moves the link from variable to variable and frees
// them, a reader on another thread gets whole snapshots or "Variable not
// assigned.", never one of a freed variable.
TEST_F(PsVarLinkTest, SnapshotsSurviveRetargetingAndFreeing) {
  TPsVarLink link;
  std::atomic<bool> done = false;
  std::atomic<int> reads = 0;
  std::string failure;
  std::thread reader([&] {
    while (!done) {
      try {
        const TPsVarSnapshot snapshot = link.GetSnapshot(vdtOleStr, false);
        if (snapshot.Quality == vpqGood && snapshot.Value.AsText() != "7") {
          failure = snapshot.Value.AsText();
          return;
        }
      } catch (const EPsException& error) {
        if (std::string(error.what()) != "Variable not assigned.") {
          failure = error.what();
          return;
        }
      }
      ++reads;
    }
  });
  constexpr int kRounds = 2000;
  for (int round = 0; round < kRounds || reads < 100; ++round) {
    auto* first = Make<TPsString>("");
    auto* second = Make<TPsString>("");
    first->SetValue("7");
    second->SetValue("7");
    link.SetVariable(first);
    link.SetVariable(second);
    vcl::Free(first);
    vcl::Free(second);
    ASSERT_EQ(link.Variable(), nullptr);
  }
  done = true;
  reader.join();
  EXPECT_EQ(failure, "");
}

}  // namespace
