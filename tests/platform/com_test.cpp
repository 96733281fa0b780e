#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/class_registry.h"
#include "platform/com/comptr.h"
#include "platform/com/git.h"
#include "platform/com/marshal.h"
#include "platform/com/object.h"

namespace {

struct ICounter : IUnknown {
  static constexpr IID kIid = MakeGuid("{6A1E0C52-1B7A-4C8D-9E55-0F3B2D4C6A71}");
  virtual int Next() = 0;
};

std::atomic<int> g_destroyed{0};

class CCounter : public ICounter, public CComObjectRoot {
 public:
  ~CCounter() override {
    if (marshaler_) marshaler_->Release();
    ++g_destroyed;
  }
  HRESULT FinalConstruct() { return CoCreateFreeThreadedMarshaler(static_cast<ICounter*>(this), &marshaler_); }
  HRESULT InternalQueryInterface(REFIID iid, void** object) {
    if (iid == IUnknown::kIid || iid == ICounter::kIid) return ReturnInterface(static_cast<ICounter*>(this), object);
    if (iid == IMarshal::kIid) return marshaler_->QueryInterface(iid, object);
    return E_NOINTERFACE;
  }
  int Next() override { return ++value_; }

 private:
  IUnknown* marshaler_ = nullptr;
  std::atomic<int> value_{0};
};

class CCounterFactory : public IClassFactory, public CComObjectRoot {
 public:
  HRESULT InternalQueryInterface(REFIID iid, void** object) {
    if (iid == IUnknown::kIid || iid == IClassFactory::kIid)
      return ReturnInterface(static_cast<IClassFactory*>(this), object);
    return E_NOINTERFACE;
  }
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    CComObject<CCounter>* counter = nullptr;
    HRESULT hr = CComObject<CCounter>::CreateInstance(&counter);
    if (FAILED(hr)) return hr;
    ComPtr<ICounter> hold(counter);
    return counter->QueryInterface(iid, object);
  }
  HRESULT LockServer(BOOL lock) override {
    lock ? ModuleLock() : ModuleUnlock();
    return S_OK;
  }
};

ComPtr<ICounter> NewCounter() {
  CComObject<CCounter>* p = nullptr;
  EXPECT_EQ(CComObject<CCounter>::CreateInstance(&p), S_OK);
  return ComPtr<ICounter>(p);
}

struct INope : IUnknown {
  static constexpr IID kIid = MakeGuid("{11111111-2222-3333-4444-555555555555}");
};

constexpr CLSID kCounterClass = MakeGuid("{0B6C1F3E-77D2-4E1A-8C0B-5A9E2D7F1C33}");

}  // namespace

TEST(Guid, ParsesTheBracedTextForm) {
  constexpr GUID g = MakeGuid("{E11924BE-C176-42B5-8311-E242324A15AB}");
  EXPECT_EQ(g.Data1, 0xE11924BEu);
  EXPECT_EQ(g.Data2, 0xC176);
  EXPECT_EQ(g.Data3, 0x42B5);
  EXPECT_EQ(g.Data4[0], 0x83);
  EXPECT_EQ(g.Data4[7], 0xAB);
  EXPECT_EQ(GuidToString(g), "{E11924BE-C176-42B5-8311-E242324A15AB}");
  EXPECT_EQ(ParseGuid("{e11924be-c176-42b5-8311-e242324a15ab}"), g);
  EXPECT_FALSE(ParseGuid("E11924BE-C176-42B5-8311-E242324A15AB"));
  EXPECT_FALSE(ParseGuid("{E11924BE-C176-42B5-8311-E242324A15AG}"));
  EXPECT_FALSE(ParseGuid("{E11924BEC-176-42B5-8311-E242324A15AB}"));
}

TEST(ComObject, ReferenceCountingDeletesOnLastReleaseAndHoldsTheModule) {
  int destroyedBefore = g_destroyed;
  LONG locksBefore = ModuleLockCount();
  {
    ComPtr<ICounter> counter = NewCounter();
    EXPECT_EQ(ModuleLockCount(), locksBefore + 1);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(counter.As(&unknown), S_OK);
    ComPtr<IMarshal> marshal;
    ASSERT_EQ(counter.As(&marshal), S_OK);
    EXPECT_EQ(marshal->IsFreeThreaded(), S_OK);
    // The marshaler's IMarshal gives the outer object's identity back.
    ComPtr<ICounter> again;
    ASSERT_EQ(marshal.As(&again), S_OK);
    EXPECT_EQ(again.Get(), counter.Get());
    ComPtr<INope> nope;
    EXPECT_EQ(counter.As(&nope), E_NOINTERFACE);
    EXPECT_FALSE(nope);
    EXPECT_EQ(g_destroyed, destroyedBefore);
  }
  EXPECT_EQ(g_destroyed, destroyedBefore + 1);
  EXPECT_EQ(ModuleLockCount(), locksBefore);
}

TEST(ComObject, GlobalObjectsAreNeverDeletedByReleasing) {
  static CComObjectGlobal<CCounter> global;
  int destroyedBefore = g_destroyed;
  LONG locksBefore = ModuleLockCount();
  global.AddRef();
  EXPECT_EQ(ModuleLockCount(), locksBefore + 1);
  global.Release();
  global.Release();  // even one release too many only unlocks the module
  EXPECT_EQ(g_destroyed, destroyedBefore);
  ModuleLock();
  EXPECT_EQ(global.Next(), 1);
}

TEST(GlobalInterfaceTable, CookiesWorkAcrossThreadsAndZeroIsRefused) {
  ComPtr<ICounter> counter = NewCounter();
  DWORD cookie = 0;
  ASSERT_EQ(RegisterInterfaceInGlobal(counter.Get(), ICounter::kIid, &cookie), S_OK);
  EXPECT_NE(cookie, 0u);

  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) {
        ComPtr<ICounter> fetched;
        if (GetInterfaceFromGlobal(cookie, ICounter::kIid, fetched.ReleaseAndGetVoidAddress()) != S_OK) ++failures;
        else fetched->Next();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(counter->Next(), 4001);

  void* p = nullptr;
  EXPECT_EQ(GetInterfaceFromGlobal(0, ICounter::kIid, &p), E_INVALIDARG);
  EXPECT_EQ(RevokeInterfaceFromGlobal(0), E_INVALIDARG);
  EXPECT_EQ(RevokeInterfaceFromGlobal(cookie), S_OK);
  EXPECT_EQ(RevokeInterfaceFromGlobal(cookie), E_INVALIDARG);
  EXPECT_EQ(GetInterfaceFromGlobal(cookie, ICounter::kIid, &p), E_INVALIDARG);
}

TEST(ClassRegistry, SuspendedClassesAreUnreachableUntilResumed) {
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_ALL, ICounter::kIid, &object), REGDB_E_CLASSNOTREG);

  static CComObjectGlobal<CCounterFactory> factory;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(kCounterClass, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED,
                                  &cookie),
            S_OK);
  EXPECT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_ALL, ICounter::kIid, &object), REGDB_E_CLASSNOTREG);

  ASSERT_EQ(CoResumeClassObjects(), S_OK);
  ComPtr<ICounter> counter;
  ASSERT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_ALL, ICounter::kIid, counter.ReleaseAndGetVoidAddress()),
            S_OK);
  EXPECT_EQ(counter->Next(), 1);

  CoSuspendClassObjects();
  EXPECT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_ALL, ICounter::kIid, &object), REGDB_E_CLASSNOTREG);
  CoResumeClassObjects();
  EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
  EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
  EXPECT_EQ(CoCreateInstance(kCounterClass, nullptr, CLSCTX_ALL, ICounter::kIid, &object), REGDB_E_CLASSNOTREG);
}

TEST(Apartment, InitialisationIsCountedPerThread) {
  std::thread([] {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitializeCount(), 2);
    std::thread([] { EXPECT_EQ(CoInitializeCount(), 0); }).join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeCount(), 0);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
  }).join();
}
