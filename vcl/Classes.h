// The root of the class library: objects, persistent objects that copy
// themselves into each other, components with an owner and a name, owned
// components freed with their owner, notifications, the string list, and the
// scope that holds a list's update open.
//
// Freeing: a component is freed with vcl::Free (or through its owner, or an
// Owned<> pointer). Free first runs BeforeDestruction while the object is
// still whole (a form's destroy event runs there, then its owned components
// are freed last-to-first), then deletes it. A plain `delete` skips the
// subclass part of BeforeDestruction, so code frees components with Free.
#pragma once

#include <exception>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vcl/SysUtils.h"

namespace vcl {

class TObject {
 public:
  virtual ~TObject() = default;
};

class TFiler;

// An object that can take over another's content: Assign asks the source
// to copy itself into this one (AssignTo); neither knowing the other raises
// EConvertError "Cannot assign a %s to a %s".
class TPersistent : public TObject {
 public:
  virtual std::string ClassName() const { return "TPersistent"; }
  virtual void Assign(const TPersistent* source);
  // Declares the properties this object writes to and reads from a
  // component stream beyond its published ones (TFiler::DefineProperty).
  virtual void DefineProperties(TFiler* /*filer*/) {}

 protected:
  virtual void AssignTo(TPersistent* dest) const;

 private:
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

struct TPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

enum class TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* owner, std::string className = "TComponent");
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // The class name this object goes by in streams and lookups ("TfrmKorvamon", "TButton").
  std::string ClassName() const override { return className_; }

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // Empty, or an identifier unique (case-insensitively) among the owner's
  // components; otherwise throws EComponentError and keeps the old name.
  virtual void SetName(const std::string& name);

  // While a component's stored state is read it is loading; EndLoading ends
  // that and calls Loaded.
  void BeginLoading() { loading_ = true; }
  void EndLoading();
  bool Loading() const { return loading_; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(index); }
  TComponent* FindComponent(const std::string& name) const;

  // Takes `component` over from its present owner (names are checked first).
  void InsertComponent(TComponent* component);
  // Gives `component` up without freeing it; it has no owner afterwards.
  void RemoveComponent(TComponent* component);

  // `other` is told (Notification opRemove) when this component is freed.
  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  bool Destroying() const { return destroying_; }
  int Tag = 0;

  // Runs while the object is whole: frees its owned components
  // last-to-first, then tells the components that asked for it and its
  // owner (opRemove), so that they still see what class it is. Subclasses
  // run their own part first, then this.
  virtual void BeforeDestruction();

 protected:
  // Told when a component is inserted into or removed from this one, or freed
  // while this one asked for it. The default passes the news on to every
  // owned component (as the class library does); while this one frees its
  // own components, only to those that hear all its news (HearAllOwnerNews).
  virtual void Notification(TComponent* component, TOperation operation);
  // Makes this component hear of every component its owner gives up, also
  // of those freed with the owner, which the others do not hear of (what
  // refers to one of those asks for its free notification). For components
  // that relay their owner's news to objects outside the component tree.
  void HearAllOwnerNews();
  // Runs when loading ends; overrides call this one.
  virtual void Loaded() { loading_ = false; }
  // Frees the owned components, the last one first.
  void DestroyComponents();
  // Tells the owner once more that this component was inserted. The owner
  // heard of it first from the component constructor, before the object was
  // of its own class: a class that its owner's listeners look for calls this
  // at the end of its constructor.
  void AnnounceInsertion();

 private:
  struct NewsRound;

  // Tells the free-notification peers and the owner that this one goes.
  void AnnounceEnd();
  void ValidateRename(TComponent* component, const std::string& newName) const;
  void Insert(TComponent* component);
  void Remove(TComponent* component);
  // Tells `listeners` (owned components) the news, in their order, each but
  // `component` itself and those no longer owned by the time they are due.
  void TellOwned(const std::vector<TComponent*>& listeners, TComponent* component,
                 TOperation operation);

  std::string className_;
  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  // The owned components that hear all of this one's news.
  std::vector<TComponent*> allNewsHearers_;
  std::vector<TComponent*> freeNotifies_;
  // The rounds of news to the owned components under way, innermost first.
  NewsRound* newsRounds_ = nullptr;
  bool destroying_ = false;
  bool freeingComponents_ = false;
  bool hearsAllOwnerNews_ = false;
  bool loading_ = false;

  friend void Free(TComponent* component);
};

// Frees a component: its BeforeDestruction, then its destructor. Null is fine.
void Free(TComponent* component);
// Frees any object: a component with Free, anything else with delete.
void FreeObject(TObject* object);

template <class T>
void FreeAndNil(T*& component) {
  T* gone = component;
  component = nullptr;
  Free(gone);
}

struct FreeDeleter {
  void operator()(TComponent* component) const { Free(component); }
};
// A component held by one owner outside the component tree.
template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

// Keeps an update of a list (anything with BeginUpdate and EndUpdate: a
// string list, a string tree, a variable) open for a scope, so that what the
// scope changes is announced once. End closes it, and an error of its change
// handlers goes on to the caller. A scope left without End closes it on the
// way out, where it may not raise: an error under way goes on, and one of the
// closing goes to `onCloseError` where there is one.
template <class List>
class TUpdateScope {
 public:
  using TCloseErrorEvent = void (*)(const std::exception& error);

  explicit TUpdateScope(List& list, TCloseErrorEvent onCloseError = nullptr)
      : list_(&list), onCloseError_(onCloseError) {
    list.BeginUpdate();
  }
  ~TUpdateScope() {
    if (!list_)
      return;
    try {
      list_->EndUpdate();
    } catch (const std::exception& error) {
      if (onCloseError_)
        onCloseError_(error);
    } catch (...) {
    }
  }
  TUpdateScope(const TUpdateScope&) = delete;
  TUpdateScope& operator=(const TUpdateScope&) = delete;

  void End() { std::exchange(list_, nullptr)->EndUpdate(); }

 private:
  List* list_;
  TCloseErrorEvent onCloseError_;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

// An ordered list of 8-bit texts, each with an object it does not own. A
// sorted list keeps its texts in order (ASCII, ignoring case unless
// CaseSensitive, or the order of a subclass's CompareStrings) and finds them
// by bisection. Every change is announced by
// OnChanging before and OnChange after it; between BeginUpdate and the
// matching EndUpdate only one pair is. NUL is a character like any other.
// Index errors raise EStringListError "List index out of bounds (%d)".
class TStringList : public TPersistent {
 public:
  TStringList() = default;
  TStringList(const TStringList&) = delete;
  TStringList& operator=(const TStringList&) = delete;
  std::string ClassName() const override { return "TStringList"; }

  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int index) const;
  // Raises "Operation not allowed on sorted list" on a sorted list.
  void SetStrings(int index, const std::string& text);
  TObject* Objects(int index) const;
  void SetObjects(int index, TObject* object);

  // Appends (a sorted list inserts in order: an equal text is ignored
  // (dupIgnore, returning its index), refused with "String list does not
  // allow duplicates" (dupError), or added (dupAccept)). Returns the index.
  int Add(const std::string& text) { return AddObject(text, nullptr); }
  virtual int AddObject(const std::string& text, TObject* object);
  // Refused on a sorted list ("Operation not allowed on sorted list").
  void Insert(int index, const std::string& text) { InsertObject(index, text, nullptr); }
  virtual void InsertObject(int index, const std::string& text, TObject* object);
  virtual void Delete(int index);
  virtual void Clear();
  void Exchange(int index1, int index2);
  void AddStrings(const TStringList& strings);
  void Assign(const TPersistent* source) override;

  // The first index of an equal text, or -1.
  int IndexOf(const std::string& text) const;
  int IndexOfObject(const TObject* object) const;
  // On a sorted list: whether the text is there, and the index where it is
  // (the first of equals) or would be inserted. Unsorted lists search linearly.
  bool Find(const std::string& text, int& index) const;

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  void Sort();
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool caseSensitive);
  TDuplicates Duplicates = dupIgnore;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

  // Each line followed by CR LF. Reading splits at CR LF, LF or CR; a
  // final line break adds no empty line.
  std::string Text() const;
  void SetText(const std::string& text);
  // Lines separated by ','; a line with a blank, a control character, ','
  // or '"' is put in double quotes (doubling '"'). Reading also splits at
  // blanks outside quotes.
  std::string CommaText() const;
  void SetCommaText(const std::string& text);

  virtual void LoadFromStream(std::istream& stream);
  void SaveToStream(std::ostream& stream) const;
  // Through platform::files(); EFOpenError "Cannot open file \"%s\"" and
  // EFCreateError "Cannot create file \"%s\"".
  void LoadFromFile(const std::string& path);
  void SaveToFile(const std::string& path) const;

 protected:
  // Called before and after every change; they fire the events unless an
  // update is open. Subclasses that cache what the lines hold override them.
  virtual void Changing();
  virtual void Changed();
  // The one order of the list's texts (negative, 0, positive), for its
  // searches and its sorting alike: a strict weak order.
  virtual int CompareStrings(const std::string& a, const std::string& b) const;

  // The lines as one line of values: separated by `delimiter`; a value
  // holding `quote` or `delimiter` (or, with `blanksSeparate`, a blank or
  // control character) put in `quote`s with each `quote` doubled; quote #0
  // quotes nothing. One empty line gives two `quote`s. Reading gives the
  // values back: two delimiters in a row, a leading or a trailing one
  // delimit an empty value, an unclosed quote takes the rest of the text,
  // text after a closing quote starts the next value; with `blanksSeparate`
  // blanks outside quotes separate values too. NUL is data.
  std::string GetDelimited(char delimiter, char quote, bool blanksSeparate) const;
  void SetDelimited(const std::string& text, char delimiter, char quote, bool blanksSeparate);

 private:
  struct Item {
    std::string text;
    TObject* object = nullptr;
  };
  void CheckIndex(int index, int count) const;
  void CheckUnsorted() const;

  std::vector<Item> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  int updateCount_ = 0;
};

}  // namespace vcl
