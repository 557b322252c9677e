// A string table read from the resource script it is built from: texts by
// number, as the language libraries carry them. The reader accepts the plain
// form the tables are written in (STRINGTABLE blocks of `number, "text"`,
// comments, LANGUAGE lines, `#pragma code_page(65001)`) and refuses anything
// the resource compiler might read differently, naming the line.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class StringTable {
 public:
  // nullptr when the table has no text of that number.
  const std::string* Find(uint32_t id) const;
  size_t size() const { return texts_.size(); }

 private:
  friend struct StringTableReader;
  std::map<uint32_t, std::string> texts_;
};

struct StringTableParse {
  std::optional<StringTable> table;  // set when the whole script was read
  std::string error;                 // "line 12: ..." otherwise
};

StringTableParse ParseStringTable(std::string_view script);

// Copies `text` as LoadStringA does: at most bufferSize - 1 bytes and a NUL,
// returning the count. A cut never splits a UTF-8 sequence, so a long text
// ends on a whole character. Nothing is written when bufferSize < 1.
int CopyTableText(std::string_view text, char* buffer, int bufferSize);

}  // namespace platform
