// The main window's small pieces: the LED image that shows one cell of a
// strip, the multi-line hints, the about box with its version scan, and the
// user-notes window.

#include <string>
#include <vector>

#include "TestFolder.h"
#include "monitor/Hint.h"
#include "monitor/IndexImage.h"
#include "monitor/Info.h"
#include "monitor/LedStrip.h"
#include "monitor/header.h"
#include "monitor/lang.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "vcl/VclTestEnvironment.h"

namespace {

using monitor::LedColor;
using monitor::TIndexImage;

class SmallWindowsTest : public korva_test::VclTest {
 protected:
  // The main window exists before the small windows, as in the program.
  vcl::TForm* main_ = vcl::Application().CreateForm<vcl::TForm>();
};

vcl::TColor CentreOf(const TIndexImage& image) {
  return image.Picture().Pixel(8, 8);
}

TEST(LedStripTest, FourDifferentLampsOnATransparentGround) {
  const vcl::TBitmap strip = monitor::LedStrip();
  ASSERT_EQ(strip.Width() * 100 + strip.Height(), 6817);
  EXPECT_EQ(strip.TransparentColor(), monitor::kLedGround);
  for (int cell = 0; cell < 4; ++cell) {
    for (int corner = 0; corner < 4; ++corner)
      EXPECT_EQ(strip.Pixel(cell * 17 + corner % 2 * 16, corner / 2 * 16), monitor::kLedGround);
    EXPECT_EQ(strip.Pixel(cell * 17 + 8, 8), LedColor(static_cast<monitor::TLedCell>(cell)));
    for (int other = cell + 1; other < 4; ++other)
      EXPECT_NE(strip.Pixel(cell * 17 + 8, 8), strip.Pixel(other * 17 + 8, 8));
  }
}

TEST_F(SmallWindowsTest, LedStripGivesFourWholeCellsThatIndexNextAndOnOffWalk) {
  TIndexImage image(nullptr);
  EXPECT_EQ(image.PictureIndex(), -1);
  EXPECT_TRUE(image.ONOFF());  // nothing shown counts as "not cell 0"
  image.SetBigPicture(monitor::LedStrip());
  EXPECT_EQ(image.PictureIndex(), 0);
  EXPECT_FALSE(image.ONOFF());

  image.SetPictureIndex(3);
  const vcl::TBitmap strip = monitor::LedStrip();
  vcl::TBitmap fourth(17, 17);
  fourth.CopyRect(0, 0, strip, vcl::TRect{51, 0, 68, 17});
  EXPECT_EQ(image.Picture(), fourth);
  for (int ignored : {4, -1, 100}) {
    image.SetPictureIndex(ignored);
    EXPECT_EQ(image.PictureIndex(), 3);
  }
  image.NextPicture();
  EXPECT_EQ(image.PictureIndex(), 0);
  EXPECT_EQ(CentreOf(image), LedColor(monitor::ledGrey));
  image.NextPicture();
  EXPECT_EQ(CentreOf(image), LedColor(monitor::ledYellow));

  image.SetONOFF(false);
  EXPECT_EQ(image.PictureIndex(), 0);
  image.SetONOFF(true);
  EXPECT_EQ(image.PictureIndex(), 1);
  EXPECT_EQ(CentreOf(image), LedColor(monitor::ledYellow));

  // Only whole square cells count: none in an empty or a too narrow strip.
  for (const vcl::TBitmap& strip : {vcl::TBitmap(), vcl::TBitmap(10, 17)}) {
    image.SetBigPicture(strip);
    image.SetPictureIndex(0);
    image.NextPicture();
    EXPECT_EQ(image.PictureIndex(), -1);
    EXPECT_TRUE(image.Picture().Empty());
  }
  image.SetBigPicture(vcl::TBitmap(40, 17));
  image.SetPictureIndex(2);
  EXPECT_EQ(image.PictureIndex(), 0);
}

TEST_F(SmallWindowsTest, HintSeparatorsBecomeLineBreaksUpToNinetyNine) {
  monitor::THHint hint(nullptr);
  vcl::THintInfo info;
  bool canShow = true;
  std::string text = "Settings@dialog";
  hint.ShowHintHook(text, canShow, info);
  EXPECT_EQ(text, "Settings\rdialog");
  std::string many(120, '@');
  hint.ShowHintHook(many, canShow, info);
  EXPECT_EQ(many, std::string(99, '\r') + std::string(21, '@'));
  hint.Active = false;
  text = "a@b";
  hint.ShowHintHook(text, canShow, info);
  EXPECT_EQ(text, "a@b");
  EXPECT_TRUE(canShow);
}

TEST_F(SmallWindowsTest, HintHookServesTheWholeProgramWhileTheComponentLives) {
  auto* label = new vcl::TLabel(main_);
  label->SetParent(main_);
  label->SetHint("first@second|long help");
  label->SetShowHint(true);
  bool othersCalled = false;
  vcl::Application().OnShowHint = [&](std::string&, bool&, vcl::THintInfo&) {
    othersCalled = true;
  };
  auto* hint = new monitor::THHint(&vcl::Application());
  std::string shown;
  ASSERT_TRUE(vcl::Application().HintFor(*label, shown));
  EXPECT_EQ(shown, "first\rsecond");
  EXPECT_FALSE(othersCalled);  // it replaced the handler before it

  vcl::Free(hint);  // no hint may reach the freed component
  ASSERT_TRUE(vcl::Application().HintFor(*label, shown));
  EXPECT_EQ(shown, "first@second");

  auto* replaced = new monitor::THHint(nullptr);
  vcl::Application().OnShowHint = [&](std::string&, bool&, vcl::THintInfo&) {
    othersCalled = true;
  };
  vcl::Free(replaced);  // leaves the later handler alone
  vcl::Application().HintFor(*label, shown);
  EXPECT_TRUE(othersCalled);
}

// ---------------------------------------------------------------- about box

// A version resource node: lengths, type, UTF-16 key, padding, value, children.
std::string Node(const std::string& key, const std::string& value, bool text,
                 const std::vector<std::string>& children = {}) {
  auto utf16 = [](const std::string& s) {
    std::string out;
    for (char c : s + '\0')
      out += std::string{c, '\0'};
    return out;
  };
  auto pad = [](std::string& s) { s.append((4 - s.size() % 4) % 4, '\0'); };
  const std::string body = text && !value.empty() ? utf16(value) : value;
  const size_t valueLength = text ? body.size() / 2 : body.size();
  std::string node(6, '\0');
  node += utf16(key);
  pad(node);
  node += body;
  for (const std::string& child : children) {
    pad(node);
    node += child;
  }
  const char type = text ? 1 : 0;
  node.replace(0, 6,
               {char(node.size() & 0xFF), char(node.size() >> 8), char(valueLength & 0xFF),
                char(valueLength >> 8), type, 0});
  return node;
}

std::string VersionBlock(const std::vector<std::string>& strings) {
  std::string fixed = {'\xBD', '\x04', '\xEF', '\xFE', 0, 0, 1, 0, 1, 0, 3, 0, 11, 0, 2, 0};
  fixed.resize(52, '\0');
  return Node("VS_VERSION_INFO", fixed, false,
              {Node("StringFileInfo", "", true, {Node("040904E4", "", true, strings)}),
               Node("VarFileInfo", "", true, {Node("Translation", "\x09\x04\xE4\x04", false)})});
}

const std::string kGoodBlock =
    VersionBlock({Node("CompanyName", "Korva", true), Node("FileVersion", "3.1.2.11", true),
                  Node("Comments", "DEU, ENG, FRA, ITA", true)});

TEST_F(SmallWindowsTest, AboutBoxShowsVersionAndCommentOfTheVersionResource) {
  monitor::LanguageDll english;
  ASSERT_TRUE(english.Load(2));
  auto* info = vcl::Application().CreateForm<monitor::TfrmInfo>();
  EXPECT_EQ(info->lblTitle->Caption(), monitor::GetLangString(30));
  EXPECT_EQ(info->VersionText(), "V " + info->lblVersion->Caption());
  if (platform::OwnVersionResource()) {  // the test program's own, where it has one
    EXPECT_NE(info->lblVersion->Caption(), "");
  }
  info->ShowVersionResource(kGoodBlock);
  EXPECT_EQ(info->lblVersion->Caption(), "3.1.2.11");
  EXPECT_EQ(info->VersionText(), "V 3.1.2.11");
  EXPECT_EQ(info->lblComment->Caption(), "DEU, ENG, FRA, ITA");
  // The scan finds its way in from any byte: one byte off, the same strings.
  EXPECT_EQ(monitor::ReadVersionStrings(kGoodBlock.substr(1)).version, "3.1.2.11");
  // Strings that are missing are empty; the box still opens.
  info->ShowVersionResource(VersionBlock({Node("CompanyName", "Korva", true)}));
  EXPECT_EQ(info->VersionText(), "V ");
  EXPECT_EQ(info->lblComment->Caption(), "");
  info->Show();
  EXPECT_TRUE(info->Showing());
  info->btnClose->Click();
  EXPECT_FALSE(info->Showing());
}

TEST(VersionScanTest, AnyBytesAreScannedSafely) {
  // Every cut of a real block, odd or even, and bytes of every value.
  for (size_t size = 0; size <= kGoodBlock.size(); ++size) {
    const std::string scanned = monitor::ScanVersionResource(kGoodBlock.substr(0, size));
    ASSERT_EQ(scanned.substr(0, 2), "LM");
    ASSERT_EQ(scanned.find("\x03\x03"), std::string::npos);
    monitor::ReadVersionStrings(kGoodBlock.substr(0, size));
  }
  std::string noise;
  for (int i = 0; i < 1001; ++i)
    noise += static_cast<char>(i * 37 % 256);
  EXPECT_EQ(monitor::ReadVersionStrings(noise).version, "");
  EXPECT_EQ(monitor::ScanVersionResource(""), "LM");
  EXPECT_EQ(monitor::ScanVersionResource(std::string(1, '\0')), "LM");
}

// The executable's date as a fixed point in time, or missing.
class DatedProgram final : public korva_test::ForwardingFiles {
 public:
  std::optional<std::chrono::system_clock::time_point> when;
  std::optional<std::chrono::system_clock::time_point> LastWriteTime(
      const std::string& path) override {
    return path == "C:\\korva\\korvamon.exe" ? when : std::nullopt;
  }
  std::string ExecutablePath() override { return "C:\\korva\\korvamon.exe"; }
};

TEST_F(SmallWindowsTest, AboutBoxKeepsTheExecutablesDateAndItsLinkOpensTheNotes) {
  DatedProgram program;
  program.when = std::chrono::system_clock::time_point(std::chrono::hours(24 * 20000));
  platform::ScopedService<platform::Files> files(program);
  auto* info = vcl::Application().CreateForm<monitor::TfrmInfo>();
  EXPECT_EQ(info->FileDateText(), platform::FormatShortDate(*program.when));
  program.when.reset();
  info->ReadVersionInfo();
  EXPECT_EQ(info->FileDateText(), "");

  int clicksInside = 0;
  vcl::ScopedModalAnswer answer([&](vcl::TForm& form) {
    EXPECT_EQ(&form, monitor::frmHeader);
    info->lblFreeware->Click();  // one notes window at a time
    ++clicksInside;
  });
  const int before = vcl::Application().ComponentCount();
  info->lblFreeware->Click();
  EXPECT_EQ(clicksInside, 1);
  EXPECT_EQ(headless().modalForms, std::vector<std::string>{"TfrmHeader"});
  EXPECT_EQ(monitor::frmHeader, nullptr);
  EXPECT_EQ(vcl::Application().ComponentCount(), before);  // freed again
}

// ---------------------------------------------------------------- user notes

TEST_F(SmallWindowsTest, NotesHoldTexts500To520AndCloseOnEscapeOrDeactivation) {
  vcl::Owned<monitor::TfrmHeader> notes(vcl::CreateForm<monitor::TfrmHeader>(nullptr));
  // Without a library every line is the fallback.
  EXPECT_EQ(notes->reNotes->Lines(),
            std::vector<std::string>(21, std::string(monitor::kNoLangEntry)));
  monitor::LanguageDll german;
  ASSERT_TRUE(german.Load(1));
  notes->FillHeaderText();  // again: the control is cleared first
  ASSERT_EQ(notes->reNotes->Lines().size(), 21u);
  for (uint32_t i = 0; i < 21; ++i)
    EXPECT_EQ(notes->reNotes->Lines()[i], monitor::GetLangString(500 + i));

  notes->Show();
  notes->reNotes->KeyDown(vcl::VK_ESCAPE);  // the form previews the key
  EXPECT_FALSE(notes->Visible());
  notes->Show();
  notes->Deactivate();
  EXPECT_FALSE(notes->Visible());
}

}  // namespace
