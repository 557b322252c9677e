// Owners of COM's handles, so none is leaked on any path: ComPtr holds one
// reference to an interface; TaskMemPtr, BstrPtr and SafeArrayPtr free their
// block; OleVariant clears what it holds; RegistryKey closes its key.
#pragma once

#include <memory>
#include <utility>

#include "platform/com/Com.h"

namespace platform::com {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes a reference of its own.
  explicit ComPtr(T* p) : p_(p) {
    if (p_)
      p_->AddRef();
  }
  // Takes over a reference the caller holds.
  static ComPtr Adopt(T* p) {
    ComPtr ptr;
    ptr.p_ = p;
    return ptr;
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Gives the reference up to the caller.
  T* Detach() { return std::exchange(p_, nullptr); }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr))
      p->Release();
  }
  // For out parameters: releases what is held and receives a new reference.
  T** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  // The object asked for another interface; empty when it has none.
  template <class U>
  ComPtr<U> As() const {
    ComPtr<U> other;
    if (p_)
      p_->QueryInterface(IidOf<U>(), other.ReceiveVoid());
    return other;
  }

 private:
  T* p_ = nullptr;
};

struct TaskMemFree {
  void operator()(void* p) const { CoTaskMemFree(p); }
};
template <class T>
using TaskMemPtr = std::unique_ptr<T, TaskMemFree>;

struct BstrFree {
  void operator()(OLECHAR* text) const { SysFreeString(text); }
};
using BstrPtr = std::unique_ptr<OLECHAR, BstrFree>;

struct SafeArrayFree {
  void operator()(SAFEARRAY* array) const { SafeArrayDestroy(array); }
};
using SafeArrayPtr = std::unique_ptr<SAFEARRAY, SafeArrayFree>;

class OleVariant {
 public:
  OleVariant() { VariantInit(&value_); }
  ~OleVariant() { VariantClear(&value_); }
  OleVariant(const OleVariant&) = delete;
  OleVariant& operator=(const OleVariant&) = delete;

  VARIANT* Get() { return &value_; }
  VARIANT& operator*() { return value_; }
  VARIANT* operator->() { return &value_; }

 private:
  VARIANT value_;
};

// An open registry key, closed with its owner.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() {
    if (key_)
      RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY* Receive() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

}  // namespace platform::com
