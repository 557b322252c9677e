// The root of the class library: objects, components with an owner and a
// name, owned components freed with their owner, and notifications.
//
// Freeing: a component is freed with vcl::Free (or through its owner, or an
// Owned<> pointer). Free first runs BeforeDestruction while the object is
// still whole (a form's destroy event runs there, then its owned components
// are freed last-to-first), then deletes it. A plain `delete` skips the
// subclass part of BeforeDestruction, so code frees components with Free.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vcl {

class TObject {
 public:
  virtual ~TObject() = default;
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

// The library's errors (a duplicate name, an invalid operation).
class EComponentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EInvalidOperation : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TOperation { opInsert, opRemove };

// ASCII case-insensitive equality, as component names compare.
bool SameText(const std::string& a, const std::string& b);

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner, std::string className = "TComponent");
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // The class name the Parts use for this object ("TfrmKorvamon", "TButton").
  const std::string& ClassName() const { return className_; }

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  // Empty, or an identifier unique (case-insensitively) among the owner's
  // components; otherwise throws EComponentError and keeps the old name.
  void SetName(const std::string& name);

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

  // Runs while the object is whole: marks it destroying and frees its owned
  // components last-to-first. Subclasses run their own part first, then this.
  virtual void BeforeDestruction();

 protected:
  // Told when a component is inserted into or removed from this one, or freed
  // while this one asked for it. The default passes the news on to every
  // owned component (as the class library does).
  virtual void Notification(TComponent* component, TOperation operation);
  // Frees the owned components, the last one first.
  void DestroyComponents();

 private:
  void ValidateRename(TComponent* component, const std::string& newName) const;
  void Insert(TComponent* component);
  void Remove(TComponent* component);

  std::string className_;
  TComponent* owner_ = nullptr;
  std::string name_;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
  bool destroying_ = false;

  friend void Free(TComponent* component);
};

// Frees a component: its BeforeDestruction, then its destructor. Null is fine.
void Free(TComponent* component);

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

}  // namespace vcl
