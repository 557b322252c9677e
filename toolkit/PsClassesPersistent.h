// Unit PsClasses, its persistent objects: TPsPersistent, the base of the
// items of keyed lists; TPsComponentNexus, which relays component
// notifications to an object that is no component; the writing and reading
// of items in a component stream; and TPsPersistentList, a list of items of
// one class found by a key text and stored as CSV (a header row with the
// names of the item class's listed properties, then one row per item).
#pragma once

#include <functional>
#include <iosfwd>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "toolkit/PsClasses.h"
#include "vcl/Classes.h"
#include "vcl/ClassesFiler.h"

namespace toolkit {

class TPsClassMeta;

// An item that takes part in the component world without being a
// component: it has an owner, tells its list when its configuration
// changes, and lets go of components that are removed.
class TPsPersistent : public vcl::TPersistent {
 public:
  TPsPersistent() = default;
  TPsPersistent(const TPsPersistent&) = delete;
  TPsPersistent& operator=(const TPsPersistent&) = delete;
  std::string ClassName() const override { return "TPsPersistent"; }
  // No published properties.
  static const TPsClassMeta& ClassMeta();

  vcl::TObject* Owner() const { return owner_; }
  virtual void SetOwner(vcl::TObject* owner);
  // The owner when there is one, else the item itself.
  virtual vcl::TObject* GetOwnerOrSelf();

  // The configuration-change callback; a list sets it to its ItemConfig.
  vcl::TNotifyEvent OnConfigChanged;
  // Calls OnConfigChanged, when set, with GetOwnerOrSelf.
  virtual void ConfigChanged();

  // A removal clears every writable published component property that
  // refers to `component`; insertions change nothing.
  virtual void Notification(vcl::TComponent* component, vcl::TOperation operation);

  // Adds one line per difference from `other` to `differences`; the base
  // finds none.
  virtual int Compare(const TPsPersistent* other, vcl::TStringList* differences) const;
  // Compare found a difference (`differences` may be null).
  virtual bool HasDifferences(const TPsPersistent* other, vcl::TStringList* differences) const;

  void DefineProperties(vcl::TFiler* filer) override;
  // Each listed property's name (after `prefix`) and text, to the trace hooks.
  virtual void DebugDump(const std::string& prefix);

 private:
  vcl::TObject* owner_ = nullptr;
};

// Items in a component stream: a list of the item's stored published
// properties (name and value; read-only properties, events and objects that
// are no components are left out), then its own defined properties. Any
// persistent object of a registered class streams so (the line log too).
class TPsWriter {
 public:
  static void WritePersistent(vcl::TWriter& writer, vcl::TPersistent& item);
};

class TPsReader {
 public:
  // Properties by name into the item; EReadError "Property %s does not
  // exist" for a name it neither publishes nor defines.
  static void ReadPersistent(vcl::TReader& reader, vcl::TPersistent& item);
};

// A component that hands the notifications its owner gives it (components
// inserted and removed, also those freed with the owner while the nexus is
// still there) to OnNotification, and, when it is freed, itself with
// opRemove. Set OnNotification to none before freeing the nexus
// yourself, so that the last call does not reach you.
class TPsComponentNexus : public vcl::TComponent {
 public:
  explicit TPsComponentNexus(vcl::TComponent* owner);
  ~TPsComponentNexus() override;

  std::function<void(vcl::TComponent* component, vcl::TOperation operation)> OnNotification;

 protected:
  // A handler's error while a component is being freed goes to DebugException.
  void Notification(vcl::TComponent* component, vcl::TOperation operation) override;

 private:
  // With `guarded`, the handler's error goes to DebugException.
  void Notify(vcl::TComponent* component, vcl::TOperation operation, bool guarded);
};

using TPsItemEvent = std::function<void(vcl::TObject* sender, TPsPersistent* item)>;

// The key list of a keyed list: keys compare as the user's locale compares
// texts ignoring case (an A with umlaut is one key in both cases), or
// exactly when CaseSensitive; and whether it holds an object is known
// without a search.
class TPsKeyList : public TPsStringList {
 public:
  std::string ClassName() const override { return "TPsKeyList"; }
  int AddObject(const std::string& text, vcl::TObject* object) override;
  void InsertObject(int index, const std::string& text, vcl::TObject* object) override;
  void Delete(int index) override;
  void Clear() override;
  bool HoldsObject(const vcl::TObject* object) const { return objects_.contains(object); }

 protected:
  int CompareStrings(const std::string& a, const std::string& b) const override;

 private:
  std::unordered_multiset<const vcl::TObject*> objects_;
};

// Items of one class (a TPsPersistent class), each under a key text that
// the list gives it (GetItemKey). Keys compare without regard to case, as
// the user's locale compares texts.
// A derived list whose ItemFinish does more than the base clears itself in
// its own destructor: the base's Clear no longer reaches its override.
class TPsPersistentList : public vcl::TPersistent {
 public:
  // vcl::Exception "TPsPersistentList.Create requires a class type
  // parameter!" without an item class.
  TPsPersistentList(vcl::TObject* owner, const TPsClassMeta* itemClass, bool ownsItems);
  ~TPsPersistentList() override;
  TPsPersistentList(const TPsPersistentList&) = delete;
  TPsPersistentList& operator=(const TPsPersistentList&) = delete;
  std::string ClassName() const override { return "TPsPersistentList"; }
  static const TPsClassMeta& ClassMeta();

  // The CSV column separator; the locale's list separator at first.
  char Delimiter;
  TPsItemEvent OnItemConfig;
  TPsItemEvent OnItemFinish;
  TPsItemEvent OnItemInit;
  vcl::TObject* Owner() const { return owner_; }
  // Removing an item frees it.
  bool OwnsItems;
  // The operations Notification passes on; removals only at first.
  std::set<vcl::TOperation> NotifyOperations;
  const TPsClassMeta* ItemClass() const { return itemClass_; }
  bool Sorted() const { return keys_.Sorted(); }

  int Count() const { return keys_.Count(); }
  TPsPersistent* Items(int index) const;
  // The base key is the item's identity (IdentityText).
  virtual std::string GetItemKey(const TPsPersistent* item) const;
  int IndexOfKey(const std::string& key) const;
  int IndexOf(const TPsPersistent* item) const { return IndexOfKey(GetItemKey(item)); }
  // The item under `key` (none when there is none) and its index (-1).
  TPsPersistent* Find(const std::string& key, int& index) const;

  // A new item of the item class, initialised (ItemInit); freed again when
  // that fails.
  TPsPersistent* CreateItem();
  TPsPersistent* Add(TPsPersistent* item = nullptr) { return Insert(Count(), item); }
  // Inserts `item`, or a new one for none, at `index` (at its key's place
  // when sorted). EPsException "TPsVarLinkList.Insert: Link is not of
  // expected class." or "Insert failed: Key '%s' already exists."; an item
  // made here is freed when the insertion fails.
  virtual TPsPersistent* Insert(int index, TPsPersistent* item);
  // One new item per line, at index + i: a copy of the line's object when
  // it is a TPsPersistent, else the line's CSV values.
  void InsertFromStrings(int index, const vcl::TStringList& strings);
  // Moves the item's entry to the key it has now, after it had `oldKey`.
  void UpdateKeyValue(TPsPersistent* item, const std::string& oldKey);
  // ItemFinish, then the entry goes, and the item is freed when owned.
  virtual void Delete(int index);
  // Every item, with one change of the key list.
  virtual void Clear();

  virtual void ItemInit(TPsPersistent* item);
  virtual void ItemConfig(TPsPersistent* item);
  virtual void ItemFinish(TPsPersistent* item);
  // Passes a notification in NotifyOperations on to every item, for a
  // component of one of the item class's component property classes or a
  // descendant of one.
  virtual void Notification(vcl::TComponent* component, vcl::TOperation operation);

  // From another list: a new item copying each of its items; from a string
  // list: its lines (InsertFromStrings). Either replaces all items.
  void Assign(const vcl::TPersistent* source) override;

  // CSV: the header row, then a row per item, each ended by CR LF. A load
  // reads CR LF, LF or CR, except inside a quoted field; its first row, without double quotes, must
  // be the header exactly (EPsRTTIException "The stream does not include compatible data. Expected
  // first row: %s"). A load that fails for any reason leaves the list as it was.
  virtual void LoadFromStream(std::istream& stream);
  virtual void SaveToStream(std::ostream& stream);
  virtual void LoadFromFile(const std::string& fileName);
  virtual void SaveToFile(const std::string& fileName);

  // "Items": a collection of the items, written only when there are some.
  // A value other than a collection raises EReadError "Cannot read
  // property."; a failed read leaves the list as it was.
  void DefineProperties(vcl::TFiler* filer) override;
  void DebugDump();

  // The key list's change event.
  vcl::TNotifyEvent& OnChange() { return keys_.OnChange; }

 protected:
  // Into a string list: one CSV row per item, the item as the line's object.
  void AssignTo(vcl::TPersistent* dest) const override;
  void SetSorted(bool sorted) { keys_.SetSorted(sorted); }
  // The classes of the item class's component properties.
  std::vector<const TPsClassMeta*>& ComponentClasses() { return componentClasses_; }

 private:
  // Sets the items aside, runs `fill` on the empty list, and drops the old
  // items; when `fill` fails, drops the new ones and brings the old back.
  void ReplaceItems(const std::function<void()>& fill);
  // ItemFinish and free (when owned) for items no longer listed. Errors
  // are collected; the first is rethrown at the end unless `quiet`.
  void DropItems(const std::vector<TPsPersistent*>& items, bool quiet);
  // Loads the rows of a CSV text, as LoadFromStream says.
  void LoadText(const std::string& text);
  void RenderLines(vcl::TStringList& lines);
  void ReadItems(vcl::TReader& reader);
  void WriteItems(vcl::TWriter& writer);

  vcl::TObject* owner_;
  const TPsClassMeta* itemClass_;
  std::vector<const TPsClassMeta*> componentClasses_;
  TPsKeyList keys_;
};

// Registers TPsPersistentList and TPsPersistent (the toolkit's start).
void RegisterPersistentClasses();

}  // namespace toolkit
