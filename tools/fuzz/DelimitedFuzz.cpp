// libFuzzer target: delimited lines. Any text splits without harm; with
// quoting on, splitting a joined list gives the list back (NUL included)
// for any quote and delimiter the setters accept; the class library's
// comma text round-trips as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "toolkit/PsClasses.h"

namespace {

std::vector<std::string> Lines(const vcl::TStringList& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.Count(); ++i)
    lines.push_back(list.Strings(i));
  return lines;
}

void Configure(toolkit::TPsStringList& list, char quote, char delimiter) {
  list.SetQuoteChar('\0');
  list.SetDelimiter(delimiter);
  list.SetQuoteChar(quote);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2)
    return 0;
  char delimiter = static_cast<char>(data[1]);
  if (delimiter == '\0')
    delimiter = ';';
  char quote = static_cast<char>(data[0]);
  if (quote == '\0' || quote == delimiter)
    quote = delimiter == '"' ? '\'' : '"';
  const std::string text(reinterpret_cast<const char*>(data + 2), size - 2);

  // Any text splits; joining and splitting its values gives them back.
  toolkit::TPsStringList list;
  Configure(list, quote, delimiter);
  list.SetDelimitedText(text);
  toolkit::TPsStringList again;
  Configure(again, quote, delimiter);
  again.SetDelimitedText(list.GetDelimitedText());
  if (Lines(again) != Lines(list))
    std::abort();

  // Any values (the text cut at byte 0x01) join and split back.
  toolkit::TPsStringList values;
  Configure(values, quote, delimiter);
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == '\x01') {
      values.Add(text.substr(start, i - start));
      start = i + 1;
    }
  }
  toolkit::TPsStringList back;
  Configure(back, quote, delimiter);
  back.SetDelimitedText(values.GetDelimitedText());
  if (Lines(back) != Lines(values))
    std::abort();

  vcl::TStringList comma;
  comma.Assign(&values);
  vcl::TStringList commaBack;
  commaBack.SetCommaText(comma.CommaText());
  if (Lines(commaBack) != Lines(comma))
    std::abort();
  return 0;
}
