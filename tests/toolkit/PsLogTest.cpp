// The line log: the bounded buffer, the line's local time, the mirrored file
// and where a bare file name goes.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "TestFolder.h"
#include "platform/Files.h"
#include "platform/TimeZone.h"
#include "toolkit/Clock.h"
#include "toolkit/PsClasses.h"
#include "toolkit/psRTTI.h"
#include "vcl/ClassesFiler.h"

namespace {

using toolkit::TPsLog;
using V = std::vector<std::string>;

V Lines(const vcl::TPersistent& log) {
  vcl::TStringList list;
  list.Assign(&log);
  V lines;
  for (int i = 0; i < list.Count(); ++i)
    lines.push_back(list.Strings(i));
  return lines;
}

// 5 March 2024 14:03:07.042 UTC on a clock in central Europe.
class PsLogTest : public testing::Test {
 protected:
  PsLogTest() {
    clock_.SetNow(vcl::EncodeDate(2024, 3, 5) + vcl::EncodeTime(14, 3, 7, 42));
    clock_.SetZone(*platform::ParseTzRule("CET-1CEST,M3.5.0,M10.5.0/3"));
    log_.Active = true;
    log_.DateTimeFormat = "hh:nn";
  }
  toolkit::ManualClock clock_;
  platform::ScopedService<toolkit::Clock> installed_{clock_};
  TPsLog log_;
};

TEST_F(PsLogTest, TheBufferKeepsTheLatestMaxLinesEachBehindTheLocalTime) {
  TPsLog log;
  log.Active = true;
  EXPECT_EQ(log.AddLine("started"), "2024/03/05 15:03:07.042 started");
  EXPECT_EQ(log.MaxLines(), 100);

  log_.SetMaxLines(3);
  for (const char* message : {"A", "B", "C", "D"})
    log_.AddLine(message);
  EXPECT_EQ(Lines(log_), (V{"15:03 B", "15:03 C", "15:03 D"}));
  log_.SetMaxLines(2);
  EXPECT_EQ(Lines(log_), (V{"15:03 C", "15:03 D"}));
  log_.SetMaxLines(0);
  for (const char* message : {"E", "F"})
    log_.AddLine(message);
  EXPECT_EQ(Lines(log_), (V{"15:03 C", "15:03 D", "15:03 E", "15:03 F"}));
}

TEST_F(PsLogTest, EachLineRewritesTheFileAndTellsTheListener) {
  korva_test::TestFolder folder;
  const std::string file = folder.File("opc.log");
  V told;
  V written;  // the file as each listener call finds it
  log_.OnChange = [&](vcl::TObject* sender, const std::string& line) {
    EXPECT_EQ(sender, &log_);
    told.push_back(line);
    written.push_back(korva_test::TestFolder::Get(file));
  };
  log_.SetFileName(file);
  log_.SetMaxLines(2);
  for (const char* message : {"A", "B", "C"})
    log_.AddLine(message);
  EXPECT_EQ(told, (V{"15:03 A", "15:03 B", "15:03 C"}));
  EXPECT_EQ(written, (V{"15:03 A\r\n", "15:03 A\r\n15:03 B\r\n", "15:03 B\r\n15:03 C\r\n"}));

  // Inactive: nothing added, written or told.
  log_.Active = false;
  EXPECT_EQ(log_.AddLine("D"), "");
  EXPECT_EQ(Lines(log_).size(), 2u);
  EXPECT_EQ(told.size(), 3u);
  EXPECT_EQ(korva_test::TestFolder::Get(file), "15:03 B\r\n15:03 C\r\n");

  // A file that cannot be written changes nothing else.
  log_.Active = true;
  log_.SetFileName(folder.File("missing/opc.log"));
  EXPECT_EQ(log_.AddLine("E"), "15:03 E");
  EXPECT_EQ(Lines(log_), (V{"15:03 C", "15:03 E"}));
  EXPECT_EQ(told.back(), "15:03 E");
}

#ifndef _WIN32
// A log named by a link writes the file the link leads to, and the link
// stays; a pipe is left as it is (and no line waits for a reader).
TEST_F(PsLogTest, ALinkedLogWritesItsTargetAndAPipeIsLeftAlone) {
  korva_test::TestFolder folder;
  korva_test::TestFolder elsewhere;
  const std::string target = elsewhere.File("opc.log");
  std::filesystem::create_symlink(target, folder.File("opc.log"));
  log_.SetFileName(folder.File("opc.log"));
  log_.AddLine("A");
  log_.AddLine("B");
  EXPECT_TRUE(std::filesystem::is_symlink(folder.File("opc.log")));
  EXPECT_EQ(korva_test::TestFolder::Get(target), "15:03 A\r\n15:03 B\r\n");

  ASSERT_EQ(mkfifo(folder.File("pipe").c_str(), 0600), 0);
  log_.SetFileName(folder.File("pipe"));
  EXPECT_EQ(log_.AddLine("C"), "15:03 C");
  EXPECT_TRUE(std::filesystem::is_fifo(folder.File("pipe")));
  EXPECT_EQ(Lines(log_).back(), "15:03 C");
}
#endif

TEST_F(PsLogTest, ABareFileNameGoesToTheProgramsFolder) {
  const std::string program = platform::files().ExecutablePath();
  const std::string folder = program.substr(0, program.find_last_of("\\/") + 1);
  const std::pair<std::string, std::string> names[] = {
      {"opc.log", folder + "opc.log"},
      {"logs\\x.log", "logs\\x.log"},
      {"C:\\x.log", "C:\\x.log"},
      {"C:x.log", "C:x.log"},
#ifndef _WIN32
      {"logs/x.log", "logs/x.log"},
#endif
      {"", ""},
  };
  for (const auto& [name, placed] : names) {
    log_.SetFileName(name);
    EXPECT_EQ(log_.FileName(), placed) << name;
  }
}

TEST_F(PsLogTest, AssignCopiesFileMaxLinesAndActiveOnly) {
  TPsLog source;
  source.SetFileName("C:\\x.log");
  source.SetMaxLines(7);
  source.DateTimeFormat = "yyyy";
  source.Active = true;
  source.AddLine("kept in the source");
  TPsLog copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.FileName(), "C:\\x.log");
  EXPECT_EQ(copy.MaxLines(), 7);
  EXPECT_TRUE(copy.Active);
  EXPECT_EQ(copy.DateTimeFormat, "yyyy/mm/dd hh:nn:ss.zzz");
  EXPECT_TRUE(Lines(copy).empty());

  toolkit::TPsLogBuffer buffer;
  V heard;
  buffer.OnNewLine = [&](vcl::TObject* sender, const std::string& line) {
    EXPECT_EQ(sender, &buffer);
    heard.push_back(line);
  };
  buffer.AddNewLine("x");
  EXPECT_EQ(heard, V{"x"});
  EXPECT_EQ(buffer.GetCount(), 1);
  EXPECT_THROW(copy.Assign(&buffer), vcl::EConvertError);
}

TEST_F(PsLogTest, ItsPropertiesAreReachedByNameAndStreamed) {
  for (const char* message : {"A", "B", "C"})
    log_.AddLine(message);
  toolkit::TPsInstanceProperties props(&log_);
  props.SetDelimiter(';');
  // The events are published too, but no property list carries them.
  EXPECT_EQ(props.GetHeader(), "Active;DateTimeFormat;FileName;MaxLines");
  props.SetValuesText("False;yyyy;C:\\x.log;2");
  EXPECT_FALSE(log_.Active);
  EXPECT_EQ(log_.DateTimeFormat, "yyyy");
  EXPECT_EQ(log_.FileName(), "C:\\x.log");
  EXPECT_EQ(Lines(log_), (V{"15:03 B", "15:03 C"}));  // the buffer's setter ran
  props.Props(props.IndexOf("FileName"))->SetAsString("opc.log");
  EXPECT_NE(log_.FileName(), "opc.log");  // placed in the program's folder by the setter
  props.Props(props.IndexOf("FileName"))->SetAsString("C:\\x.log");

  auto events = [](const toolkit::TPsClassMeta& meta) {
    V names;
    for (const toolkit::TPsPropMeta* prop : meta.Properties()) {
      if (prop->Kind() == toolkit::tkMethod)
        names.push_back(prop->Name);
    }
    return names;
  };
  EXPECT_EQ(events(TPsLog::ClassMeta()), V{"OnChange"});
  EXPECT_EQ(events(toolkit::TPsLogBuffer::ClassMeta()), V{"OnNewLine"});
  ASSERT_EQ(toolkit::FindClass("TPsLogBuffer"), &toolkit::TPsLogBuffer::ClassMeta());

  // Created by name and read back from a component stream.
  std::unique_ptr<vcl::TObject> made(toolkit::FindClass("TPsLog")->Create(nullptr));
  auto* copy = dynamic_cast<TPsLog*>(made.get());
  ASSERT_NE(copy, nullptr);
  std::stringstream stream;
  vcl::TWriter writer(stream);
  toolkit::TPsWriter::WritePersistent(writer, log_);
  vcl::TReader reader(stream);
  toolkit::TPsReader::ReadPersistent(reader, *copy);
  EXPECT_FALSE(copy->Active);
  EXPECT_EQ(copy->DateTimeFormat, "yyyy");
  EXPECT_EQ(copy->FileName(), "C:\\x.log");
  EXPECT_EQ(copy->MaxLines(), 2);
}

}  // namespace
