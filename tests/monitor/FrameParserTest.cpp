// Finding the module's frame in a received block: the three frame lengths,
// the one second try after a broken start, texts without a frame, texts that
// end before the lookahead, and arbitrary bytes that must never be read past.

#include <memory>
#include <random>

#include "KorvamonTestProgram.h"
#include "monitor/FrameParser.h"

namespace {

using korva_test::Repeat;
using monitor::FindFrame;
using monitor::FoundFrame;

const std::string kSample = "*****\r\nALARM\r\nDC_OK\r\n";
const std::string kCharge = "*BAT*\r\nBUFRD\r\nDC_LO\r\nBA<85\r\n";
const std::string kLong = "*****\r\nALARM\r\nDC_OK\r\nBA>85\r\nRTS15\r\nSDREC\r\n";

TEST(FrameParserTest, TheLengthFollowsWhereTheNextFrameStarts) {
  struct Case {
    std::string text;
    size_t length;
    std::string frame;
  };
  for (const Case& c : {Case{Repeat(kSample, 4), 21, kSample},
                        {Repeat(kCharge, 3), 28, kCharge},
                        {Repeat(kLong, 2), 42, kLong},
                        // A block cut anywhere in the stream starts at the next frame.
                        {std::string("C_OK\r\n").append(Repeat(kCharge, 3)), 28, kCharge},
                        {std::string("\n").append(Repeat(kLong, 2)), 42, kLong}}) {
    SCOPED_TRACE(c.text);
    const FoundFrame found = FindFrame(c.text);
    ASSERT_TRUE(found.valid);
    EXPECT_EQ(found.length, c.length);
    EXPECT_EQ(std::string(found.frame), c.frame);
  }
  EXPECT_EQ(Repeat(kSample, 4).size(), 84u);
}

TEST(FrameParserTest, ABrokenStartGetsOneSecondTryFourCharactersOn) {
  // The tail of "*BAT*": its '*' has no partner four places on.
  const std::string tail = kCharge.substr(2);
  const std::string text = tail + Repeat(kCharge, 3);
  FoundFrame found = FindFrame(text);
  ASSERT_TRUE(found.valid);
  EXPECT_EQ(found.length, 28u);
  EXPECT_EQ(found.frame.data(), text.data() + tail.size());
  EXPECT_EQ(std::string(found.frame), kCharge);

  // Only one more try: a broken start that the four dropped characters do not
  // pass leaves the text without a frame, although one follows.
  EXPECT_FALSE(FindFrame("ab*cdefg*hij\r\n" + Repeat(kSample, 4)).valid);
  EXPECT_FALSE(FindFrame("xxxxx*BAD\r\n" + Repeat(kSample, 4)).valid);
  // The second try finds a start the first '*' hid.
  const std::string hidden = "**x\r\n" + Repeat(kSample, 4);
  found = FindFrame(hidden);
  ASSERT_TRUE(found.valid);
  EXPECT_EQ(std::string(found.frame), kSample);
}

TEST(FrameParserTest, TextsWithoutAFrameAndTextsThatEndEarly) {
  for (const std::string& text :
       {std::string(), std::string("*"), std::string("****"), std::string(84, 'x'),
        Repeat("BUFRD\r\nDC_OK\r\n", 6), std::string("*\r\n*\r\n*\r\n*")}) {
    SCOPED_TRACE(text);
    const FoundFrame found = FindFrame(text);
    EXPECT_FALSE(found.valid);
    EXPECT_EQ(found.length, 0u);
    EXPECT_TRUE(found.frame.empty());
  }

  // Lookahead places beyond the text are not '*': a lone frame counts as a
  // long one and is cut where the text ends.
  FoundFrame found = FindFrame("*****\r\nALARM");
  ASSERT_TRUE(found.valid);
  EXPECT_EQ(found.length, 42u);
  EXPECT_EQ(std::string(found.frame), "*****\r\nALARM");
  const std::string shortFrame = kSample + "*";
  found = FindFrame(shortFrame);
  EXPECT_EQ(found.length, 21u);
  const std::string chargeFrame = kCharge + "*";
  found = FindFrame(chargeFrame);
  EXPECT_EQ(found.length, 28u);
  EXPECT_EQ(std::string(found.frame), kCharge);
  found = FindFrame("*****");
  ASSERT_TRUE(found.valid);
  EXPECT_EQ(std::string(found.frame), "*****");
}

// Arbitrary blocks, each in a buffer of exactly its size, so that a read past
// the text shows (under a sanitizer at once, else as a wrong result).
TEST(FrameParserTest, ArbitraryBytesNeverCrashOrReadPastTheText) {
  std::mt19937 random(20240611);
  std::string alphabet = "*****\r\n\nBUFRDALC_OK>85<";
  alphabet += '\0';
  alphabet += '\xff';
  std::uniform_int_distribution<size_t> lengths(0, 200);
  std::uniform_int_distribution<int> pick(0, 3);
  std::uniform_int_distribution<size_t> letter(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int round = 0; round < 50000; ++round) {
    const size_t size = lengths(random);
    auto buffer = std::make_unique<char[]>(size == 0 ? 1 : size);
    for (size_t i = 0; i < size; ++i) {
      buffer[i] = pick(random) == 0 ? static_cast<char>(byte(random)) : alphabet[letter(random)];
    }
    const std::string_view text(buffer.get(), size);
    const FoundFrame found = FindFrame(text);
    if (!found.valid) {
      ASSERT_TRUE(found.frame.empty());
      continue;
    }
    const size_t offset = static_cast<size_t>(found.frame.data() - text.data());
    ASSERT_LE(offset + found.frame.size(), size) << round;
    ASSERT_TRUE(found.length == 21 || found.length == 28 || found.length == 42);
    ASSERT_EQ(found.frame.size(), std::min(found.length, size - offset));
    ASSERT_GE(found.frame.size(), 5u);
    ASSERT_EQ(found.frame[0], '*');
    ASSERT_EQ(found.frame[4], '*');
    // The start is the first '*' of the text, or of the text without its
    // first four characters.
    const size_t first = text.find('*');
    const size_t second = size > 4 ? text.find('*', 4) : std::string_view::npos;
    ASSERT_TRUE(offset == first || offset == second) << round;
  }
}

}  // namespace
