// TPsPersistentList: keyed items of one class, stored as CSV.
#include <algorithm>
#include <exception>
#include <iterator>
#include <memory>
#include <optional>
#include <string>

#include "platform/Files.h"
#include "platform/Services.h"
#include "platform/Text.h"
#include "toolkit/Debugs.h"
#include "toolkit/PsClasses.h"
#include "toolkit/psRTTI.h"

namespace toolkit {

// ---- TPsKeyList ------------------------------------------------------------------

int TPsKeyList::AddObject(const std::string& text, vcl::TObject* object) {
  const int count = Count();
  const int index = TPsStringList::AddObject(text, object);
  if (Count() > count)
    objects_.insert(object);
  return index;
}

void TPsKeyList::InsertObject(int index, const std::string& text, vcl::TObject* object) {
  TPsStringList::InsertObject(index, text, object);
  objects_.insert(object);
}

void TPsKeyList::Delete(int index) {
  const vcl::TObject* object = Objects(index);
  TPsStringList::Delete(index);
  objects_.erase(objects_.find(object));
}

void TPsKeyList::Clear() {
  TPsStringList::Clear();
  objects_.clear();
}

int TPsKeyList::CompareStrings(const std::string& a, const std::string& b) const {
  return CaseSensitive() ? vcl::TStringList::CompareStrings(a, b)
                         : platform::LocaleCompareText(a, b);
}

// ---- TPsPersistentList ------------------------------------------------------------

const TPsClassMeta& TPsPersistentList::ClassMeta() {
  static const TPsClassMeta meta =
      TPsClassMetaBuilder<TPsPersistentList>("TPsPersistentList", nullptr).Build();
  return meta;
}

TPsPersistentList::TPsPersistentList(vcl::TObject* owner, const TPsClassMeta* itemClass,
                                     bool ownsItems)
    : Delimiter(vcl::FormatSettings().ListSeparator),
      OwnsItems(ownsItems),
      NotifyOperations{vcl::TOperation::opRemove},
      owner_(owner),
      itemClass_(itemClass) {
  if (!itemClass_)
    throw vcl::Exception("TPsPersistentList.Create requires a class type parameter!");
  keys_.Duplicates = vcl::dupError;
  for (const TPsPropMeta* prop : itemClass_->Properties()) {
    if (prop->Kind() != tkClass)
      continue;
    const TPsClassMeta* classType = prop->Type->ClassType;
    if (classType->IsComponent() && std::find(componentClasses_.begin(), componentClasses_.end(),
                                              classType) == componentClasses_.end()) {
      componentClasses_.push_back(classType);
    }
  }
}

TPsPersistentList::~TPsPersistentList() {
  keys_.OnChange = nullptr;
  keys_.OnChanging = nullptr;
  std::vector<TPsPersistent*> items;
  for (int i = 0; i < Count(); ++i)
    items.push_back(Items(i));
  keys_.Clear();
  DropItems(items, true);
}

TPsPersistent* TPsPersistentList::Items(int index) const {
  return static_cast<TPsPersistent*>(keys_.Objects(index));
}

std::string TPsPersistentList::GetItemKey(const TPsPersistent* item) const {
  return IdentityText(item);
}

int TPsPersistentList::IndexOfKey(const std::string& key) const {
  return keys_.IndexOf(key);
}

TPsPersistent* TPsPersistentList::Find(const std::string& key, int& index) const {
  index = IndexOfKey(key);
  return index < 0 ? nullptr : Items(index);
}

TPsPersistent* TPsPersistentList::CreateItem() {
  std::unique_ptr<vcl::TObject> object(itemClass_->Create(nullptr));
  auto* item = dynamic_cast<TPsPersistent*>(object.get());
  if (!item) {
    throw EPsException(
        vcl::Format("TPsPersistentList: %s is not a persistent item class", itemClass_->Name()));
  }
  ItemInit(item);
  object.release();
  return item;
}

TPsPersistent* TPsPersistentList::Insert(int index, TPsPersistent* item) {
  std::unique_ptr<TPsPersistent> made;
  if (item) {
    if (!itemClass_->IsA(item))
      throw EPsException("TPsVarLinkList.Insert: Link is not of expected class.");
  } else {
    made.reset(CreateItem());
    item = made.get();
  }
  const std::string key = GetItemKey(item);
  if (IndexOfKey(key) >= 0)
    throw EPsException(vcl::Format("Insert failed: Key '%s' already exists.", key));
  if (Sorted())
    keys_.AddObject(key, item);
  else
    keys_.InsertObject(index, key, item);
  made.release();
  return item;
}

void TPsPersistentList::InsertFromStrings(int index, const vcl::TStringList& strings) {
  for (int i = 0; i < strings.Count(); ++i) {
    TPsPersistent* item = Sorted() ? Add(nullptr) : Insert(index + i, nullptr);
    if (const auto* source = dynamic_cast<const TPsPersistent*>(strings.Objects(i)))
      item->Assign(source);
    else
      CSVToObject(strings.Strings(i), item, Delimiter);
  }
}

void TPsPersistentList::UpdateKeyValue(TPsPersistent* item, const std::string& oldKey) {
  const std::string newKey = GetItemKey(item);
  if (newKey == oldKey)
    return;
  if (Sorted()) {
    if (IndexOfKey(newKey) >= 0)
      throw vcl::Exception(vcl::Format("Update failed: Item for Key %s already exists.", newKey));
    const int index = IndexOfKey(oldKey);
    if (index >= 0 && Items(index) == item) {
      keys_.Delete(index);
      Add(item);
    }
    return;
  }
  const int index = keys_.IndexOfObject(item);
  if (index < 0)
    throw vcl::Exception("Given item does not exist in list");
  keys_.SetStrings(index, newKey);
}

void TPsPersistentList::Delete(int index) {
  TPsPersistent* item = Items(index);
  ItemFinish(item);
  keys_.Delete(index);
  if (OwnsItems)
    delete item;
}

void TPsPersistentList::Clear() {
  // Closed on every path; a change handler's error goes to the debug output.
  const vcl::TUpdateScope update(keys_, DebugException);
  while (Count() > 0)
    Delete(0);
}

void TPsPersistentList::ItemInit(TPsPersistent* item) {
  item->OnConfigChanged = [this, item](vcl::TObject*) { ItemConfig(item); };
  if (OnItemInit)
    OnItemInit(this, item);
}

void TPsPersistentList::ItemConfig(TPsPersistent* item) {
  if (OnItemConfig)
    OnItemConfig(this, item);
}

void TPsPersistentList::ItemFinish(TPsPersistent* item) {
  if (OnItemFinish)
    OnItemFinish(this, item);
}

void TPsPersistentList::Notification(vcl::TComponent* component, vcl::TOperation operation) {
  if (!NotifyOperations.contains(operation))
    return;
  // A component of a property's class or of a class derived from it: the
  // items may refer to it either way.
  if (std::none_of(componentClasses_.begin(), componentClasses_.end(),
                   [&](const TPsClassMeta* meta) { return meta->IsA(component); })) {
    return;
  }
  // The items of this moment, each while it is still listed.
  std::vector<TPsPersistent*> items;
  for (int i = 0; i < Count(); ++i)
    items.push_back(Items(i));
  for (TPsPersistent* item : items) {
    if (keys_.HoldsObject(item))
      item->Notification(component, operation);
  }
}

void TPsPersistentList::Assign(const vcl::TPersistent* source) {
  if (source == this)
    return;
  if (const auto* list = dynamic_cast<const TPsPersistentList*>(source)) {
    ReplaceItems([&] {
      for (int i = 0; i < list->Count(); ++i)
        Add(nullptr)->Assign(list->Items(i));
    });
  } else if (const auto* strings = dynamic_cast<const vcl::TStringList*>(source)) {
    ReplaceItems([&] { InsertFromStrings(0, *strings); });
  } else {
    vcl::TPersistent::Assign(source);
  }
}

void TPsPersistentList::AssignTo(vcl::TPersistent* dest) const {
  auto* strings = dynamic_cast<vcl::TStringList*>(dest);
  if (!strings) {
    vcl::TPersistent::AssignTo(dest);
    return;
  }
  vcl::TUpdateScope update(*strings);
  strings->Clear();
  for (int i = 0; i < Count(); ++i)
    strings->AddObject(ObjectToCSV(Items(i), Delimiter), Items(i));
  update.End();
}

void TPsPersistentList::ReplaceItems(const std::function<void()>& fill) {
  const vcl::TUpdateScope update(keys_, DebugException);
  std::vector<std::pair<std::string, TPsPersistent*>> old;
  for (int i = 0; i < Count(); ++i)
    old.emplace_back(keys_.Strings(i), Items(i));
  keys_.Clear();
  try {
    fill();
  } catch (...) {
    std::vector<TPsPersistent*> added;
    for (int i = 0; i < Count(); ++i)
      added.push_back(Items(i));
    keys_.Clear();
    DropItems(added, true);
    for (const auto& [key, item] : old)
      keys_.AddObject(key, item);
    throw;
  }
  std::vector<TPsPersistent*> dropped;
  for (const auto& entry : old)
    dropped.push_back(entry.second);
  DropItems(dropped, false);
}

void TPsPersistentList::DropItems(const std::vector<TPsPersistent*>& items, bool quiet) {
  std::exception_ptr first;
  for (TPsPersistent* item : items) {
    try {
      ItemFinish(item);
    } catch (const std::exception& error) {
      if (quiet)
        DebugException(error);
      else if (!first)
        first = std::current_exception();
    }
    if (OwnsItems)
      delete item;
  }
  if (first)
    std::rethrow_exception(first);
}

void TPsPersistentList::LoadText(const std::string& text) {
  vcl::TStringList lines;
  CSVRows(text, Delimiter, lines);
  const std::string header = CSVHeader(itemClass_, Delimiter);
  std::string first = lines.Count() > 0 ? lines.Strings(0) : std::string();
  std::erase(first, '"');
  if (lines.Count() == 0 || first != header) {
    throw EPsRTTIException(
        vcl::Format("The stream does not include compatible data. Expected first row: %s", header));
  }
  lines.Delete(0);
  Assign(&lines);
}

void TPsPersistentList::RenderLines(vcl::TStringList& lines) {
  AssignTo(&lines);
  lines.Insert(0, CSVHeader(itemClass_, Delimiter));
}

void TPsPersistentList::LoadFromStream(std::istream& stream) {
  LoadText(std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()));
}

void TPsPersistentList::SaveToStream(std::ostream& stream) {
  vcl::TStringList lines;
  RenderLines(lines);
  lines.SaveToStream(stream);
}

void TPsPersistentList::LoadFromFile(const std::string& fileName) {
  const std::optional<std::string> bytes = platform::files().ReadAll(fileName);
  if (!bytes)
    throw vcl::EFOpenError(vcl::Format("Cannot open file \"%s\"", fileName));
  LoadText(*bytes);
}

void TPsPersistentList::SaveToFile(const std::string& fileName) {
  vcl::TStringList lines;
  RenderLines(lines);
  lines.SaveToFile(fileName);
}

void TPsPersistentList::DefineProperties(vcl::TFiler* filer) {
  filer->DefineProperty(
      "Items", [this](vcl::TReader& reader) { ReadItems(reader); },
      [this](vcl::TWriter& writer) { WriteItems(writer); }, Count() > 0);
}

void TPsPersistentList::WriteItems(vcl::TWriter& writer) {
  writer.WriteValue(vcl::TValueType::vaCollection);
  for (int i = 0; i < Count(); ++i)
    TPsWriter::WritePersistent(writer, *Items(i));
  writer.WriteListEnd();
}

void TPsPersistentList::ReadItems(vcl::TReader& reader) {
  if (reader.ReadValue() != vcl::TValueType::vaCollection)
    throw vcl::EReadError("Cannot read property.");
  if (reader.EndOfList()) {
    reader.ReadListEnd();
    return;
  }
  ReplaceItems([&] {
    while (!reader.EndOfList()) {
      // An element may carry its order number first.
      if (reader.NextValue() == vcl::TValueType::vaInteger)
        reader.ReadInteger();
      TPsReader::ReadPersistent(reader, *Add(nullptr));
    }
    reader.ReadListEnd();
  });
}

void TPsPersistentList::DebugDump() {
  if (!ActiveDebugWriter())
    return;
  DebugValueInt(" Count", Count());
  for (int i = 0; i < Count(); ++i) {
    DebugWrite("  [%d]", i);
    Items(i)->DebugDump("   ");
  }
}

}  // namespace toolkit
