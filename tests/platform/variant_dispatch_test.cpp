#include <gtest/gtest.h>

#include "platform/com/dispatch.h"
#include "platform/com/object.h"

TEST(Variant, EqualityNeedsTheSameTypeAndValue) {
  EXPECT_TRUE(VariantEquals(Variant::String("flashprogrammer"), Variant::String("flashprogrammer")));
  EXPECT_FALSE(VariantEquals(Variant::String("FlashProgrammer"), Variant::String("flashprogrammer")));
  EXPECT_TRUE(VariantEquals(Variant::UI4(7), Variant::UI4(7)));
  EXPECT_FALSE(VariantEquals(Variant::UI4(7), Variant::I4(7)));  // same number, other type
  EXPECT_FALSE(VariantEquals(Variant::UI8(1), Variant::UI8(2)));
  EXPECT_TRUE(VariantEquals(Variant::I1(-3), Variant::I1(-3)));
  EXPECT_TRUE(VariantEquals(Variant::Null(), Variant::Null()));
  EXPECT_TRUE(VariantEquals(Variant(), Variant()));
  EXPECT_FALSE(VariantEquals(Variant(), Variant::Null()));
}

TEST(Variant, ChangeToStringAndBack) {
  Variant v;
  ASSERT_EQ(VariantChangeType(&v, Variant::UI8(18446744073709551615ull), VT_BSTR), S_OK);
  EXPECT_EQ(v.bstr().str(), "18446744073709551615");
  ASSERT_EQ(VariantChangeType(&v, Variant::I1(-128), VT_BSTR), S_OK);
  EXPECT_EQ(v.bstr().str(), "-128");
  ASSERT_EQ(VariantChangeType(&v, Variant(), VT_BSTR), S_OK);
  EXPECT_EQ(v.vt(), VT_BSTR);
  EXPECT_EQ(v.bstr().str(), "");
  EXPECT_EQ(VariantChangeType(&v, Variant::Null(), VT_BSTR), DISP_E_TYPEMISMATCH);

  ASSERT_EQ(VariantChangeType(&v, Variant::String(" 42 "), VT_UI4), S_OK);
  EXPECT_EQ(v.vt(), VT_UI4);
  EXPECT_EQ(v.Unsigned(), 42u);
  EXPECT_EQ(VariantChangeType(&v, Variant::String("4x"), VT_UI4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(VariantChangeType(&v, Variant::String("-1"), VT_UI2), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&v, Variant::I4(128), VT_I1), DISP_E_OVERFLOW);
  ASSERT_EQ(VariantChangeType(&v, Variant::I4(-128), VT_I1), S_OK);
  EXPECT_EQ(v.Signed(), -128);
  EXPECT_EQ(VariantChangeType(&v, Variant::UI8(1ull << 32), VT_UI4), DISP_E_OVERFLOW);
  EXPECT_EQ(VariantChangeType(&v, Variant::String("99999999999999999999"), VT_UI8), DISP_E_OVERFLOW);
  // Converting in place keeps working when source and destination are one.
  v = Variant::UI2(65535);
  ASSERT_EQ(VariantChangeType(&v, v, VT_BSTR), S_OK);
  EXPECT_EQ(v.bstr().str(), "65535");
}

namespace {

// A small automation object: a "Name" property (default member) and an
// "Add" method, served from a member table.
class CSample : public CDispatchFromTable<CSample, IDispatch>, public CComObjectRoot {
 public:
  HRESULT InternalQueryInterface(REFIID iid, void** object) {
    if (iid == IUnknown::kIid || iid == IDispatch::kIid) return ReturnInterface(static_cast<IDispatch*>(this), object);
    return E_NOINTERFACE;
  }
  std::string name = "sample";

  static const DispatchTable& Table() {
    static const DispatchTable table(
        "ISample", MakeGuid("{7F1D2C3B-4A59-4E6F-8071-92A3B4C5D6E7}"),
        {
            {"Name", DISPID_VALUE, DISPATCH_PROPERTYGET, {}, VT_BSTR,
             [](void* self, std::span<Variant>, Variant* result) {
               *result = Variant::String(static_cast<CSample*>(self)->name);
               return S_OK;
             }},
            {"Name", DISPID_VALUE, DISPATCH_PROPERTYPUT, {VT_BSTR}, VT_EMPTY,
             [](void* self, std::span<Variant> args, Variant*) {
               static_cast<CSample*>(self)->name = args[0].bstr().str();
               return S_OK;
             }},
            {"Add", 7, DISPATCH_METHOD, {VT_I4, VT_UI4}, VT_I4,
             [](void*, std::span<Variant> args, Variant* result) {
               *result = Variant::I4(static_cast<std::int32_t>(args[0].Signed() - 2 * static_cast<std::int64_t>(args[1].Unsigned())));
               return S_OK;
             }},
        });
    return table;
  }
};

}  // namespace

TEST(Dispatch, InvokeByNameThroughTheMemberTable) {
  CComObject<CSample>* raw = nullptr;
  ASSERT_EQ(CComObject<CSample>::CreateInstance(&raw), S_OK);
  ComPtr<IDispatch> sample(raw);

  std::string names[] = {"aDD", "missing"};
  DISPID ids[2];
  EXPECT_EQ(sample->GetIDsOfNames(names, 2, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 7);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);

  // Arguments arrive last-first: Add(10, "3") = 10 - 2*3.
  Variant args[] = {Variant::String("3"), Variant::I4(10)};
  DISPPARAMS params{args, 2};
  Variant result;
  ASSERT_EQ(sample->Invoke(ids[0], DISPATCH_METHOD, &params, &result), S_OK);
  EXPECT_EQ(result.vt(), VT_I4);
  EXPECT_EQ(result.Signed(), 4);

  DISPPARAMS one{args, 1};
  EXPECT_EQ(sample->Invoke(7, DISPATCH_METHOD, &one, &result), DISP_E_BADPARAMCOUNT);
  Variant bad[] = {Variant::String("x"), Variant::I4(1)};
  DISPPARAMS badParams{bad, 2};
  EXPECT_EQ(sample->Invoke(7, DISPATCH_METHOD, &badParams, &result), DISP_E_TYPEMISMATCH);
  // An argument that does not fit its declared type raises the conversion's
  // own error, not a generic mismatch.
  Variant tooBig[] = {Variant::UI4(1), Variant::UI8(1ull << 40)};
  DISPPARAMS tooBigParams{tooBig, 2};
  EXPECT_EQ(sample->Invoke(7, DISPATCH_METHOD, &tooBigParams, &result), DISP_E_OVERFLOW);
  EXPECT_EQ(sample->Invoke(99, DISPATCH_METHOD, &params, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(sample->Invoke(7, DISPATCH_PROPERTYGET, &params, &result), DISP_E_MEMBERNOTFOUND);

  // The object converts to a string through its default member.
  Variant put[] = {Variant::String("renamed")};
  DISPPARAMS putParams{put, 1};
  ASSERT_EQ(sample->Invoke(DISPID_VALUE, DISPATCH_PROPERTYPUT, &putParams, nullptr), S_OK);
  Variant text;
  ASSERT_EQ(VariantChangeType(&text, Variant::Dispatch(sample.Get()), VT_BSTR), S_OK);
  EXPECT_EQ(text.bstr().str(), "renamed");

  unsigned count = 0;
  EXPECT_EQ(sample->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(sample->GetTypeInfo(1, &info), DISP_E_BADINDEX);
  ASSERT_EQ(sample->GetTypeInfo(0, &info), S_OK);
  unsigned functions = 0;
  info->GetFuncCount(&functions);
  EXPECT_EQ(functions, 3u);
  Bstr typeName;
  info->GetTypeName(&typeName);
  EXPECT_EQ(typeName.str(), "ISample");
  info->Release();
}
