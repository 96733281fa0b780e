// An owning interface pointer: AddRef on copy, Release on destruction.
#pragma once
#include <utility>

#include "platform/com/unknown.h"

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(T* p) : p_(p) {  // NOLINT: takes a new reference, as COM smart pointers do
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) {
    ComPtr(p).Swap(*this);
    return *this;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Takes over a reference the caller already owns.
  void Attach(T* p) {
    Reset();
    p_ = p;
  }
  // Gives up ownership without releasing.
  T* Detach() { return std::exchange(p_, nullptr); }
  // For out-parameters: releases the current pointer and hands its slot out.
  T** ReleaseAndGetAddressOf() {
    Reset();
    return &p_;
  }
  void** ReleaseAndGetVoidAddress() { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

  // QueryInterface into another smart pointer.
  template <class U>
  HRESULT As(ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(IidOf<U>(), out->ReleaseAndGetVoidAddress());
  }
  // Hands out a new reference through a raw out-pointer.
  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

 private:
  T* p_ = nullptr;
};
