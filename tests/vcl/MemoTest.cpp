// The memo keeps its lines and its text in step: every line, an empty last
// one too, survives the way through the text, and text typed or set as a
// whole becomes lines again.

#include <string>
#include <vector>

#include "VclTestEnvironment.h"
#include "vcl/Memo.h"

namespace {

using Lines = std::vector<std::string>;

class MemoTest : public korva_test::VclTest {
 protected:
  vcl::Owned<vcl::TMemo> memo_{new vcl::TMemo(nullptr)};
};

TEST_F(MemoTest, LinesAndTextStayInStep) {
  int changes = 0;
  memo_->OnChange = [&](vcl::TObject*) { ++changes; };
  memo_->AddLine("first");
  memo_->AddLine("");
  memo_->AddLine("");
  EXPECT_EQ(memo_->Lines(), (Lines{"first", "", ""}));
  EXPECT_EQ(memo_->Text(), "first\r\n\r\n\r\n");
  EXPECT_EQ(changes, 3);

  // A line with breaks of its own becomes several.
  memo_->AddLine("two\r\nlines");
  EXPECT_EQ(memo_->Lines(), (Lines{"first", "", "", "two", "lines"}));
  memo_->DeleteLine(0);
  memo_->DeleteLine(9);
  memo_->DeleteLine(-1);
  EXPECT_EQ(memo_->Lines(), (Lines{"", "", "two", "lines"}));

  // Text from the user: CR LF, LF and CR end lines; a last piece without one is a line.
  memo_->SetText("a\nb\rc\r\nd");
  EXPECT_EQ(memo_->Lines(), (Lines{"a", "b", "c", "d"}));
  memo_->ClearLines();
  EXPECT_TRUE(memo_->Lines().empty());
  EXPECT_TRUE(memo_->Text().empty());
}

}  // namespace
