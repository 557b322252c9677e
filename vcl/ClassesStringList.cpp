// The string list: texts with objects, sorted or not, with change events.
#include <algorithm>
#include <istream>
#include <iterator>
#include <ostream>

#include "platform/Files.h"
#include "platform/Services.h"
#include "vcl/Classes.h"

namespace vcl {
namespace {

// Characters that make a comma-text line quoted, and that separate values
// outside quotes when reading one (NUL included: it is data only in quotes).
bool IsCommaBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ';
}

// The value of a quoted text starting at `i` (on the opening quote): up to
// the next single quote, a doubled one standing for one; without a closing
// quote, the rest. `i` ends past the closing quote.
std::string ExtractQuoted(const std::string& text, size_t& i, char quote) {
  std::string value;
  for (++i; i < text.size(); ++i) {
    if (text[i] == quote) {
      if (i + 1 < text.size() && text[i + 1] == quote) {
        value += quote;
        ++i;
        continue;
      }
      ++i;
      return value;
    }
    value += text[i];
  }
  return value;
}

}  // namespace

void TStringList::CheckIndex(int index, int count) const {
  if (index < 0 || index >= count)
    throw EStringListError(Format("List index out of bounds (%d)", index));
}

void TStringList::CheckUnsorted() const {
  if (sorted_)
    throw EStringListError("Operation not allowed on sorted list");
}

const std::string& TStringList::Strings(int index) const {
  CheckIndex(index, Count());
  return items_[static_cast<size_t>(index)].text;
}

void TStringList::SetStrings(int index, const std::string& text) {
  CheckUnsorted();
  CheckIndex(index, Count());
  Changing();
  items_[static_cast<size_t>(index)].text = text;
  Changed();
}

TObject* TStringList::Objects(int index) const {
  CheckIndex(index, Count());
  return items_[static_cast<size_t>(index)].object;
}

void TStringList::SetObjects(int index, TObject* object) {
  CheckIndex(index, Count());
  Changing();
  items_[static_cast<size_t>(index)].object = object;
  Changed();
}

int TStringList::AddObject(const std::string& text, TObject* object) {
  int index = Count();
  if (sorted_ && Find(text, index)) {
    if (Duplicates == dupIgnore)
      return index;
    if (Duplicates == dupError)
      throw EStringListError("String list does not allow duplicates");
  }
  Changing();
  items_.insert(items_.begin() + index, Item{text, object});
  Changed();
  return index;
}

void TStringList::InsertObject(int index, const std::string& text, TObject* object) {
  CheckUnsorted();
  CheckIndex(index, Count() + 1);
  Changing();
  items_.insert(items_.begin() + index, Item{text, object});
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index, Count());
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (items_.empty())
    return;
  Changing();
  items_.clear();
  Changed();
}

void TStringList::Exchange(int index1, int index2) {
  CheckIndex(index1, Count());
  CheckIndex(index2, Count());
  Changing();
  std::swap(items_[static_cast<size_t>(index1)], items_[static_cast<size_t>(index2)]);
  Changed();
}

void TStringList::AddStrings(const TStringList& strings) {
  // A copy: the source may be this list.
  const std::vector<Item> source = strings.items_;
  TUpdateScope update(*this);
  for (const Item& item : source)
    AddObject(item.text, item.object);
  update.End();
}

void TStringList::Assign(const TPersistent* source) {
  const auto* strings = dynamic_cast<const TStringList*>(source);
  if (!strings) {
    TPersistent::Assign(source);
    return;
  }
  if (strings == this)
    return;
  TUpdateScope update(*this);
  Clear();
  AddStrings(*strings);
  update.End();
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  if (caseSensitive_)
    return a.compare(b);
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(LowerCase(a[i]));
    const auto y = static_cast<unsigned char>(LowerCase(b[i]));
    if (x != y)
      return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

int TStringList::IndexOf(const std::string& text) const {
  if (sorted_) {
    int index = 0;
    return Find(text, index) ? index : -1;
  }
  for (size_t i = 0; i < items_.size(); ++i) {
    if (CompareStrings(items_[i].text, text) == 0)
      return static_cast<int>(i);
  }
  return -1;
}

int TStringList::IndexOfObject(const TObject* object) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].object == object)
      return static_cast<int>(i);
  }
  return -1;
}

bool TStringList::Find(const std::string& text, int& index) const {
  if (!sorted_) {
    const int found = IndexOf(text);
    index = found >= 0 ? found : Count();
    return found >= 0;
  }
  int low = 0;
  int high = Count() - 1;
  bool found = false;
  while (low <= high) {
    const int middle = low + (high - low) / 2;
    const int order = CompareStrings(items_[static_cast<size_t>(middle)].text, text);
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle - 1;
      found = found || order == 0;
    }
  }
  index = low;
  return found;
}

void TStringList::SetSorted(bool sorted) {
  if (sorted == sorted_)
    return;
  if (sorted)
    Sort();
  sorted_ = sorted;
}

void TStringList::Sort() {
  if (items_.size() < 2)
    return;
  Changing();
  std::stable_sort(items_.begin(), items_.end(), [this](const Item& a, const Item& b) {
    return CompareStrings(a.text, b.text) < 0;
  });
  Changed();
}

void TStringList::SetCaseSensitive(bool caseSensitive) {
  if (caseSensitive == caseSensitive_)
    return;
  caseSensitive_ = caseSensitive;
  if (sorted_)
    Sort();
}

void TStringList::BeginUpdate() {
  if (updateCount_ == 0)
    Changing();
  ++updateCount_;
}

void TStringList::EndUpdate() {
  if (updateCount_ == 0)
    return;
  if (--updateCount_ == 0)
    Changed();
}

void TStringList::Changing() {
  if (updateCount_ == 0 && OnChanging)
    OnChanging(this);
}

void TStringList::Changed() {
  if (updateCount_ == 0 && OnChange)
    OnChange(this);
}

std::string TStringList::Text() const {
  size_t size = 0;
  for (const Item& item : items_)
    size += item.text.size() + 2;
  std::string text;
  text.reserve(size);
  for (const Item& item : items_) {
    text += item.text;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(const std::string& text) {
  TUpdateScope update(*this);
  Clear();
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = std::min(text.find_first_of("\r\n", start), text.size());
    AddObject(text.substr(start, end - start), nullptr);
    const bool crLf = end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n';
    start = end + (crLf ? 2 : 1);
  }
  update.End();
}

std::string TStringList::CommaText() const {
  return GetDelimited(',', '"', true);
}

void TStringList::SetCommaText(const std::string& text) {
  SetDelimited(text, ',', '"', true);
}

std::string TStringList::GetDelimited(char delimiter, char quote, bool blanksSeparate) const {
  if (items_.size() == 1 && items_[0].text.empty())
    return quote ? std::string(2, quote) : std::string();
  size_t size = 0;
  for (const Item& item : items_)
    size += item.text.size() + 3;
  std::string text;
  text.reserve(size);
  for (size_t i = 0; i < items_.size(); ++i) {
    if (i > 0)
      text += delimiter;
    const std::string& line = items_[i].text;
    const bool quoted =
        quote && std::any_of(line.begin(), line.end(), [&](char c) {
          return c == quote || c == delimiter || (blanksSeparate && IsCommaBlank(c));
        });
    if (!quoted) {
      text += line;
      continue;
    }
    text += quote;
    for (size_t from = 0;;) {
      const size_t at = line.find(quote, from);
      text.append(line, from, at == std::string::npos ? std::string::npos : at + 1 - from);
      if (at == std::string::npos)
        break;
      text += quote;
      from = at + 1;
    }
    text += quote;
  }
  return text;
}

void TStringList::SetDelimited(const std::string& text, char delimiter, char quote,
                               bool blanksSeparate) {
  const auto blank = [&](size_t i) { return blanksSeparate && IsCommaBlank(text[i]); };
  TUpdateScope update(*this);
  Clear();
  size_t i = 0;
  while (i < text.size() && blank(i))
    ++i;
  while (i < text.size()) {
    if (quote && text[i] == quote) {
      AddObject(ExtractQuoted(text, i, quote), nullptr);
    } else {
      const size_t start = i;
      while (i < text.size() && text[i] != delimiter && !blank(i))
        ++i;
      AddObject(text.substr(start, i - start), nullptr);
    }
    while (i < text.size() && blank(i))
      ++i;
    if (i < text.size() && text[i] == delimiter) {
      if (i + 1 == text.size())
        AddObject("", nullptr);
      do {
        ++i;
      } while (i < text.size() && blank(i));
    }
  }
  update.End();
}

void TStringList::LoadFromStream(std::istream& stream) {
  SetText(std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()));
}

void TStringList::SaveToStream(std::ostream& stream) const {
  const std::string text = Text();
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void TStringList::LoadFromFile(const std::string& path) {
  const std::optional<std::string> bytes = platform::files().ReadAll(path);
  if (!bytes)
    throw EFOpenError(Format("Cannot open file \"%s\"", path));
  SetText(*bytes);
}

void TStringList::SaveToFile(const std::string& path) const {
  if (!platform::files().ReplaceAll(path, Text()))
    throw EFCreateError(Format("Cannot create file \"%s\"", path));
}

}  // namespace vcl
