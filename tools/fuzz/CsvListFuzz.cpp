// libFuzzer target: loading a keyed list from CSV text. Any text either
// loads, or raises one of the class library's errors with the list as it
// was; a list that loaded saves rows that load back to the same rows and
// the same items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "tests/toolkit/RttiTestClasses.h"
#include "toolkit/PsClasses.h"
#include "toolkit/PsUtils.h"
#include "toolkit/Toolkit.h"
#include "toolkit/psRTTI.h"
#include "vcl/Forms.h"

namespace {

using rtti_test::TRowItem;
using toolkit::TPsPersistentList;

std::string Save(TPsPersistentList& list) {
  std::ostringstream out;
  list.SaveToStream(out);
  return out.str();
}

std::vector<vcl::TObject*> Items(const TPsPersistentList& list) {
  std::vector<vcl::TObject*> items;
  for (int i = 0; i < list.Count(); ++i)
    items.push_back(list.Items(i));
  return items;
}

// Every property holds the same value; floating-point and date-time ones,
// whose texts carry 15 digits and whole seconds, the same text.
bool SameItems(vcl::TObject* a, vcl::TObject* b) {
  toolkit::TPsInstanceProperties first(a);
  toolkit::TPsInstanceProperties second(b);
  for (int i = 0; i < first.Count(); ++i) {
    const bool same = first.Props(i)->TypeKind() == toolkit::tkFloat
                          ? first.Props(i)->GetAsString() == second.Props(i)->GetAsString()
                          : toolkit::VariantsEqual(first.Props(i)->GetAsVariant(),
                                                   second.Props(i)->GetAsVariant(), false);
    if (!same)
      return false;
  }
  return true;
}

std::string ValidRow(const std::string& firstValues) {
  toolkit::TPsStringList row;
  row.SetDelimitedText("0;a;vpValue;0;0;;;False;0;");
  toolkit::TPsStringList values;
  values.SetDelimitedText(firstValues);
  for (int i = 0; i < values.Count() && i < row.Count(); ++i)
    row.SetStrings(i, values.Strings(i));
  return row.GetDelimitedText();
}

// The toolkit, the test classes, and components that rows can name.
void Prepare() {
  static const bool prepared = [] {
    toolkit::Initialize();
    rtti_test::RegisterTestClasses();
    vcl::FormatSettings() = vcl::TFormatSettings{};
    auto* form = new vcl::TComponent(&vcl::Application());
    form->SetName("DataForm");
    (new rtti_test::TTestVar(form))->SetName("Level");
    (new rtti_test::TTestVarKind(form))->SetName("Alarm");
    return true;
  }();
  (void)prepared;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Prepare();
  const std::string header = "Number;Letter;VarProp;Ratio;Wide;Text;Extra;Enabled;Stamp;Variable";
  // The header stands first unless the input's first byte asks otherwise;
  // 'R' makes the rest the first values of one row whose other values are
  // valid ones, so that most inputs load.
  std::string text(reinterpret_cast<const char*>(data), size);
  if (!text.empty() && text[0] == 'H')
    text = header + "\r\n" + text.substr(1);
  else if (!text.empty() && text[0] == 'R')
    text = header + "\r\n" + ValidRow(text.substr(1)) + "\r\n";

  TPsPersistentList list(nullptr, &TRowItem::ClassMeta(), true);
  auto* kept = static_cast<TRowItem*>(list.Add());
  kept->Text = "kept";
  const std::string before = Save(list);
  const std::vector<vcl::TObject*> itemsBefore = Items(list);

  std::istringstream in(text);
  try {
    list.LoadFromStream(in);
  } catch (const vcl::Exception&) {
    if (Save(list) != before || Items(list) != itemsBefore)
      std::abort();
    return 0;
  }
  const std::string saved = Save(list);
  TPsPersistentList again(nullptr, &TRowItem::ClassMeta(), true);
  std::istringstream savedIn(saved);
  again.LoadFromStream(savedIn);
  if (Save(again) != saved || again.Count() != list.Count())
    std::abort();
  for (int i = 0; i < list.Count(); ++i) {
    if (!SameItems(list.Items(i), again.Items(i)))
      std::abort();
  }
  return 0;
}
