// Unit PsClasses: the toolkit's root exception, the string list that joins
// its lines into one delimited line and splits it again (the one line format
// of path texts, CSV rows, bit sets and array texts), and the table of text
// cells whose rows are such lines. The string tree and the line log have
// headers of their own, included at the end.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "vcl/Classes.h"
#include "vcl/SysUtils.h"

namespace toolkit {

VCL_DECLARE_EXCEPTION(EPsException, vcl::Exception);
VCL_DECLARE_EXCEPTION(EPsStringTableError, vcl::EStringListError);

// A string list with its own delimited form. Quoting is on unless
// QuoteChar is #0; a Delimiter of #0 or one equal to QuoteChar could not be
// split back and is refused (EPsException). NUL is data: with quoting on,
// splitting a joined list gives it back whatever its lines hold.
class TPsStringList : public vcl::TStringList {
 public:
  // QuoteChar '"', Delimiter the locale's list separator, OwnsObjects False.
  TPsStringList();
  ~TPsStringList() override;
  std::string ClassName() const override { return "TPsStringList"; }

  char QuoteChar() const { return quoteChar_; }
  void SetQuoteChar(char quoteChar);
  char Delimiter() const { return delimiter_; }
  void SetDelimiter(char delimiter);
  // With it, a deleted or cleared line's object is freed.
  bool OwnsObjects = false;

  // The lines joined by Delimiter; a line holding QuoteChar or Delimiter is
  // quoted with each QuoteChar doubled. One empty line gives QuoteChar twice
  // (the empty text without quoting), no line the empty text.
  std::string GetDelimitedText() const;
  // The values of a delimited line, in one update. Two delimiters in a row,
  // a leading or a trailing one delimit an empty value; an unclosed quote
  // takes the rest; text after a closing quote starts the next value;
  // blanks stay part of the values; the empty text gives no line.
  void SetDelimitedText(const std::string& text);

  void Clear() override;
  void Delete(int index) override;

 private:
  char quoteChar_ = '"';
  char delimiter_;
};

// The grid that TPsStringTable copies itself into: a window control of text
// cells that korvamon does not show.
class IPsStringGrid {
 public:
  virtual ~IPsStringGrid() = default;
  virtual int RowCount() const = 0;
  virtual void SetRowCount(int rows) = 0;
  virtual int ColCount() const = 0;
  virtual void SetColCount(int columns) = 0;
  virtual void SetCells(int col, int row, const std::string& text) = 0;
};

// A table of text cells: each line is one row in the delimited form of a
// TPsStringList with its defaults; rows may differ in length. One row at a
// time is cached in the row list, which writes itself back into its line
// when it changes. Any change of the lines made outside that write-back
// forgets the cache, so a row's values never land in another row.
class TPsStringTable : public vcl::TStringList {
 public:
  TPsStringTable();
  ~TPsStringTable() override;
  std::string ClassName() const override { return "TPsStringTable"; }

  // Appends the values as one row unless an equal row exists: then
  // Duplicates decides (dupIgnore adds nothing, dupError raises
  // EPsStringTableError "Row with ColValues [%s] already exists.", dupAccept
  // adds it).
  void AddRow(const std::vector<std::string>& colValues);
  // The row list holding row `row`: empty for a row outside the table.
  TPsStringList& GetRow(int row);
  // EPsStringTableError "Table index out of bounds (%d, %d)" for a cell
  // outside its row (or a negative index).
  std::string GetCells(int col, int row);
  // Grows the table and the row as needed and writes the row once. A
  // negative index raises as GetCells does, before anything changes.
  void SetCells(int col, int row, const std::string& value);
  // Loads row `row` into the row list (empty for a row outside the table).
  void SetRowIndex(int row);
  // All rows as lines ended by CR LF.
  std::string GetText() const { return Text(); }

 protected:
  // Into an IPsStringGrid: as many rows as the table, at least as many
  // columns as the longest row, every cell.
  void AssignTo(vcl::TPersistent* dest) const override;
  // Every change of the lines but the row list's own write-back forgets the
  // cache (insert, delete, clear, exchange, direct writes, loading).
  void Changing() override;

 private:
  // Writes the row list back into its row, or appends it when the cached
  // row is none or outside the table.
  void RowChange();
  void WriteRow(const std::string& line);
  void ForgetRow();
  // Changes the row list without writing it back.
  void WithoutWriteBack(const std::function<void(TPsStringList&)>& change);
  [[noreturn]] void IndexError(int col, int row) const;

  std::unique_ptr<TPsStringList> rowList_;
  int FRow = -1;
  // Set for the one change that writes the row list back.
  bool ownWrite_ = false;
};

}  // namespace toolkit

// The string tree and the line log.
#include "toolkit/PsClassesLog.h"
#include "toolkit/PsClassesTree.h"
// Persistent items, the component nexus and keyed lists.
#include "toolkit/PsClassesPersistent.h"  // IWYU pragma: export
