#include "platform/StringTable.h"

#include <cctype>
#include <string>

namespace platform {

const std::string* StringTable::Find(uint32_t id) const {
  const auto it = texts_.find(id);
  return it == texts_.end() ? nullptr : &it->second;
}

namespace {

enum class Token { End, Word, Number, Text, Comma, Open, Close };

struct ParseError {
  int line;
  std::string message;
};

bool SameWord(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// Splits the script into tokens; comments and the one directive we accept
// are consumed on the way.
class Lexer {
 public:
  explicit Lexer(std::string_view script) : s_(script) {}

  Token Next() {
    SkipSpace();
    value_.clear();
    tokenLine_ = line_;
    if (pos_ >= s_.size())
      return Token::End;
    const char c = s_[pos_];
    if (c == ',' || c == '{' || c == '}') {
      ++pos_;
      return c == ',' ? Token::Comma : c == '{' ? Token::Open : Token::Close;
    }
    if (c == '"')
      return ReadText();
    if (std::isdigit(static_cast<unsigned char>(c)))
      return ReadNumber();
    if (IsWordChar(c)) {
      while (pos_ < s_.size() && IsWordChar(s_[pos_]))
        value_ += s_[pos_++];
      return Token::Word;
    }
    Fail(std::string("unexpected character '") + c + "'");
  }

  const std::string& value() const { return value_; }
  uint32_t number() const { return number_; }
  int line() const { return tokenLine_; }

  [[noreturn]] void Fail(const std::string& message) const {
    throw ParseError{tokenLine_, message};
  }

 private:
  void SkipSpace() {
    while (pos_ < s_.size()) {
      const char c = s_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
        lineStart_ = true;
      } else if (IsBlank(c)) {
        ++pos_;
      } else if (s_.compare(pos_, 2, "//") == 0) {
        while (pos_ < s_.size() && s_[pos_] != '\n')
          ++pos_;
      } else if (s_.compare(pos_, 2, "/*") == 0) {
        const size_t end = s_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) {
          tokenLine_ = line_;
          Fail("comment not closed");
        }
        for (size_t i = pos_; i < end; ++i)
          line_ += s_[i] == '\n' ? 1 : 0;
        pos_ = end + 2;
      } else if (c == '#' && lineStart_) {
        Directive();
      } else {
        lineStart_ = false;
        return;
      }
    }
  }

  // Only the code page the tables are written in; anything else (an include,
  // a macro) would mean something to the resource compiler and not to us.
  void Directive() {
    tokenLine_ = line_;
    const size_t end = s_.find('\n', pos_);
    std::string text(s_.substr(pos_, end == std::string_view::npos ? end : end - pos_));
    while (!text.empty() && IsBlank(text.back()))
      text.pop_back();
    std::string compact;
    for (char c : text) {
      if (!IsBlank(c))
        compact += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (compact != "#pragmacode_page(65001)")
      Fail("only '#pragma code_page(65001)' is allowed here, not '" + text + "'");
    pos_ = end == std::string_view::npos ? s_.size() : end;
  }

  Token ReadNumber() {
    size_t start = pos_;
    int base = 10;
    if (s_.compare(pos_, 2, "0x") == 0 || s_.compare(pos_, 2, "0X") == 0) {
      base = 16;
      pos_ += 2;
      start = pos_;
    }
    uint32_t n = 0;
    while (pos_ < s_.size() && IsWordChar(s_[pos_])) {
      const char c = s_[pos_];
      int digit = -1;
      if (std::isdigit(static_cast<unsigned char>(c)))
        digit = c - '0';
      else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
        digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
      if (digit < 0)
        Fail(std::string("not a number: '") + c + "' in a number");
      n = n * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
      if (n > 0xFFFF)
        Fail("number above 65535");
      ++pos_;
    }
    if (pos_ == start)
      Fail("number without digits");
    number_ = n;
    return Token::Number;
  }

  Token ReadText() {
    ++pos_;
    for (;;) {
      if (pos_ >= s_.size() || s_[pos_] == '\n')
        Fail("text not closed on its line");
      const char c = s_[pos_++];
      if (c == '"') {
        if (pos_ < s_.size() && s_[pos_] == '"') {
          value_ += '"';
          ++pos_;
          continue;
        }
        return Token::Text;
      }
      if (c != '\\') {
        value_ += c;
        continue;
      }
      if (pos_ >= s_.size())
        Fail("text not closed on its line");
      switch (s_[pos_++]) {
        case 'n':
          value_ += '\n';
          break;
        case 'r':
          value_ += '\r';
          break;
        case 't':
          value_ += '\t';
          break;
        case '\\':
          value_ += '\\';
          break;
        default:
          Fail("unsupported escape sequence in a text");
      }
    }
  }

  std::string_view s_;
  size_t pos_ = 0;
  int line_ = 1;
  int tokenLine_ = 1;
  bool lineStart_ = true;
  std::string value_;
  uint32_t number_ = 0;
};

bool IsContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

bool IsMemoryOption(const std::string& word) {
  for (const char* option :
       {"DISCARDABLE", "MOVEABLE", "FIXED", "PURE", "IMPURE", "PRELOAD", "LOADONCALL"}) {
    if (SameWord(word, option))
      return true;
  }
  return false;
}

}  // namespace

struct StringTableReader {
  explicit StringTableReader(std::string_view script) : lex(script) {}

  StringTable Read() {
    for (Token t = lex.Next(); t != Token::End; t = lex.Next()) {
      if (t == Token::Word && SameWord(lex.value(), "LANGUAGE")) {
        Language();
      } else if (t == Token::Word && SameWord(lex.value(), "STRINGTABLE")) {
        Block();
      } else {
        lex.Fail("expected STRINGTABLE or LANGUAGE");
      }
    }
    return std::move(table);
  }

  void Language() {
    if (lex.Next() != Token::Number)
      lex.Fail("LANGUAGE needs a number");
    if (lex.Next() != Token::Comma)
      lex.Fail("LANGUAGE needs two numbers");
    if (lex.Next() != Token::Number)
      lex.Fail("LANGUAGE needs two numbers");
  }

  void Block() {
    Token t = lex.Next();
    while (t == Token::Word && !SameWord(lex.value(), "BEGIN")) {
      if (SameWord(lex.value(), "LANGUAGE"))
        Language();
      else if (!IsMemoryOption(lex.value()))
        lex.Fail("unknown word '" + lex.value() + "'");
      t = lex.Next();
    }
    if (t != Token::Open && t != Token::Word)
      lex.Fail("STRINGTABLE needs BEGIN");
    for (t = lex.Next(); !(t == Token::Close || (t == Token::Word && SameWord(lex.value(), "END")));
         t = lex.Next()) {
      if (t == Token::End)
        lex.Fail("STRINGTABLE not closed with END");
      if (t != Token::Number)
        lex.Fail("expected a text number");
      const uint32_t id = lex.number();
      t = lex.Next();
      if (t == Token::Comma)
        t = lex.Next();
      if (t != Token::Text)
        lex.Fail("expected a quoted text after the number");
      if (!table.texts_.emplace(id, lex.value()).second)
        lex.Fail("text number " + std::to_string(id) + " appears twice");
    }
  }

  Lexer lex;
  StringTable table;
};

StringTableParse ParseStringTable(std::string_view script) {
  StringTableParse result;
  try {
    result.table = StringTableReader(script).Read();
  } catch (const ParseError& e) {
    result.error = "line " + std::to_string(e.line) + ": " + e.message;
  }
  return result;
}

int CopyTableText(std::string_view text, char* buffer, int bufferSize) {
  if (buffer == nullptr || bufferSize < 1)
    return 0;
  size_t count = text.size();
  if (count > static_cast<size_t>(bufferSize - 1)) {
    count = static_cast<size_t>(bufferSize - 1);
    // Back off over the continuation bytes of one character (at most three)
    // so the cut lands on a character start; garbled bytes are cut as they are.
    size_t start = count;
    while (start > 0 && count - start < 3 && IsContinuation(text[start]))
      --start;
    if (!IsContinuation(text[start]))
      count = start;
  }
  text.copy(buffer, count);
  buffer[count] = '\0';
  return static_cast<int>(count);
}

}  // namespace platform
