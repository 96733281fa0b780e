#include "platform/com/marshal.h"

#include <atomic>
#include <new>

namespace {

class FreeThreadedMarshaler final : public IUnknown {
 public:
  explicit FreeThreadedMarshaler(IUnknown* outer) : marshal_(outer) {}

  // The inner (non-delegating) IUnknown.
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (iid == IUnknown::kIid) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    if (iid == IMarshal::kIid) {
      *object = static_cast<IMarshal*>(&marshal_);
      marshal_.AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  class Marshal final : public IMarshal {
   public:
    explicit Marshal(IUnknown* outer) : outer_(outer) {}
    HRESULT QueryInterface(REFIID iid, void** object) override {
      return outer_->QueryInterface(iid, object);
    }
    ULONG AddRef() override { return outer_->AddRef(); }
    ULONG Release() override { return outer_->Release(); }
    HRESULT IsFreeThreaded() override { return S_OK; }

   private:
    IUnknown* outer_;
  };

  std::atomic<ULONG> refs_{1};
  Marshal marshal_;
};

}  // namespace

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler) {
  if (!marshaler) return E_POINTER;
  *marshaler = nullptr;
  if (!outer) return E_INVALIDARG;
  auto* inner = new (std::nothrow) FreeThreadedMarshaler(outer);
  if (!inner) return E_OUTOFMEMORY;
  *marshaler = inner;
  return S_OK;
}
