// The free-threaded marshaler, aggregated into objects that are used from
// any thread. Its IMarshal delegates reference counting to the outer object;
// the returned pointer is the inner object's own IUnknown, which the outer
// object releases when it is destroyed.
#pragma once
#include "platform/com/unknown.h"

HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** marshaler);
