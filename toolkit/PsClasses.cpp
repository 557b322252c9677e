#include "toolkit/PsClasses.h"

#include <algorithm>

namespace toolkit {

TPsStringList::TPsStringList() : delimiter_(vcl::FormatSettings().ListSeparator) {}

TPsStringList::~TPsStringList() {
  OnChange = nullptr;
  OnChanging = nullptr;
  Clear();
}

void TPsStringList::SetQuoteChar(char quoteChar) {
  if (quoteChar != '\0' && quoteChar == delimiter_)
    throw EPsException(
        vcl::Format("QuoteChar '%s' cannot be the Delimiter", std::string(1, quoteChar)));
  quoteChar_ = quoteChar;
}

void TPsStringList::SetDelimiter(char delimiter) {
  if (delimiter == '\0')
    throw EPsException("Delimiter #0 is not allowed");
  if (delimiter == quoteChar_)
    throw EPsException(
        vcl::Format("Delimiter '%s' cannot be the QuoteChar", std::string(1, delimiter)));
  delimiter_ = delimiter;
}

std::string TPsStringList::GetDelimitedText() const {
  return GetDelimited(delimiter_, quoteChar_, false);
}

void TPsStringList::SetDelimitedText(const std::string& text) {
  SetDelimited(text, delimiter_, quoteChar_, false);
}

void TPsStringList::Clear() {
  if (OwnsObjects) {
    for (int i = 0; i < Count(); ++i) {
      vcl::TObject* object = Objects(i);
      if (object) {
        SetObjects(i, nullptr);
        vcl::FreeObject(object);
      }
    }
  }
  TStringList::Clear();
}

void TPsStringList::Delete(int index) {
  vcl::TObject* object = Objects(index);
  TStringList::Delete(index);
  if (OwnsObjects)
    vcl::FreeObject(object);
}

TPsStringTable::TPsStringTable() : rowList_(std::make_unique<TPsStringList>()) {
  rowList_->OnChange = [this](vcl::TObject*) { RowChange(); };
}

TPsStringTable::~TPsStringTable() {
  rowList_->OnChange = nullptr;
}

void TPsStringTable::IndexError(int col, int row) const {
  throw EPsStringTableError(vcl::Format("Table index out of bounds (%d, %d)", col, row));
}

void TPsStringTable::AddRow(const std::vector<std::string>& colValues) {
  TPsStringList values;
  for (const std::string& value : colValues)
    values.Add(value);
  const std::string line = values.GetDelimitedText();
  if (IndexOf(line) >= 0) {
    if (Duplicates == vcl::dupIgnore)
      return;
    if (Duplicates == vcl::dupError)
      throw EPsStringTableError(vcl::Format("Row with ColValues [%s] already exists.", line));
  }
  Add(line);
}

void TPsStringTable::WithoutWriteBack(const std::function<void(TPsStringList&)>& change) {
  vcl::TNotifyEvent writeBack = std::move(rowList_->OnChange);
  rowList_->OnChange = nullptr;
  try {
    change(*rowList_);
  } catch (...) {
    rowList_->OnChange = std::move(writeBack);
    throw;
  }
  rowList_->OnChange = std::move(writeBack);
}

void TPsStringTable::SetRowIndex(int row) {
  if (row == FRow)
    return;
  WithoutWriteBack([&](TPsStringList& values) {
    if (row >= 0 && row < Count())
      values.SetDelimitedText(Strings(row));
    else
      values.Clear();
  });
  FRow = row;
}

TPsStringList& TPsStringTable::GetRow(int row) {
  SetRowIndex(row);
  return *rowList_;
}

std::string TPsStringTable::GetCells(int col, int row) {
  if (col < 0 || row < 0)
    IndexError(col, row);
  const TPsStringList& values = GetRow(row);
  if (col >= values.Count())
    IndexError(col, row);
  return values.Strings(col);
}

void TPsStringTable::SetCells(int col, int row, const std::string& value) {
  if (col < 0 || row < 0)
    IndexError(col, row);
  if (Sorted())
    throw vcl::EStringListError("Operation not allowed on sorted list");
  while (Count() <= row)
    Add("");
  SetRowIndex(row);
  // The row is completed in the cache and written back once.
  WithoutWriteBack([&](TPsStringList& values) {
    while (values.Count() <= col)
      values.Add("");
    values.SetStrings(col, value);
  });
  RowChange();
}

void TPsStringTable::RowChange() {
  WriteRow(rowList_->GetDelimitedText());
}

void TPsStringTable::WriteRow(const std::string& line) {
  // The write's own change keeps the cache; handlers that change the lines
  // while it is announced do not.
  ownWrite_ = true;
  try {
    if (FRow >= 0 && FRow < Count())
      SetStrings(FRow, line);
    else
      Add(line);
  } catch (...) {
    ownWrite_ = false;
    throw;
  }
  ownWrite_ = false;
}

void TPsStringTable::ForgetRow() {
  FRow = -1;
  WithoutWriteBack([](TPsStringList& values) { values.Clear(); });
}

void TPsStringTable::Changing() {
  if (ownWrite_)
    ownWrite_ = false;
  else if (FRow != -1)
    ForgetRow();
  TStringList::Changing();
}

void TPsStringTable::AssignTo(vcl::TPersistent* dest) const {
  auto* grid = dynamic_cast<IPsStringGrid*>(dest);
  if (!grid) {
    TStringList::AssignTo(dest);
    return;
  }
  grid->SetRowCount(Count());
  TPsStringList values;
  for (int row = 0; row < Count(); ++row) {
    values.SetDelimitedText(Strings(row));
    grid->SetColCount(std::max(grid->ColCount(), values.Count()));
    for (int col = 0; col < values.Count(); ++col)
      grid->SetCells(col, row, values.Strings(col));
  }
}

}  // namespace toolkit
