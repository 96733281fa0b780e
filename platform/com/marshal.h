// The free-threaded marshaler, aggregated into objects that are used from
// any thread. Its IMarshal delegates reference counting to the outer object;
// the returned pointer is the inner object's own IUnknown, which the outer
// object releases when it is destroyed.
#pragma once
#include "platform/com/unknown.h"

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler);

// The marshaler an object aggregates, as a member: made in the object's
// FinalConstruct, answering IMarshal for it, released with it.
class CAggregatedMarshaler {
 public:
  CAggregatedMarshaler() = default;
  ~CAggregatedMarshaler() {
    if (inner_) inner_->Release();
  }
  CAggregatedMarshaler(const CAggregatedMarshaler&) = delete;
  CAggregatedMarshaler& operator=(const CAggregatedMarshaler&) = delete;

  HRESULT Create(IUnknown* outer) { return CoCreateFreeThreadedMarshaler(outer, &inner_); }
  // The object's answer for an interface its own map does not hold.
  HRESULT QueryInterface(REFIID iid, void** object) const {
    if (iid == IMarshal::kIid && inner_) return inner_->QueryInterface(iid, object);
    return E_NOINTERFACE;
  }

 private:
  IUnknown* inner_ = nullptr;
};
