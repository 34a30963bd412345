// Win32 code. The script object base, driven by Wine's JScript engine where a script can
// express the case, and by direct calls where it cannot.
#include "htmlui/mshtml_external_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "support/jscript_host_win.h"
#include "support/recording_dispatch_win.h"

namespace htmlui {

// Reaches the allocation seam of the base, for failures that a test machine cannot produce.
struct MSHTMLExternalTestAccess {
  static void setReallocate(MSHTMLExternal& object, MSHTMLExternal::Reallocate reallocate) {
    object.reallocate_ = reallocate;
  }
  static std::size_t recordSize() { return sizeof(MSHTMLExternal::DynamicMember); }
};

namespace {

constexpr HRESULT kHandlerFailure = static_cast<HRESULT>(0x80070005);  // E_ACCESSDENIED

// A script object with a small table: add(a, b), concat(a, b), fail().
class TestExternal final : public MSHTMLExternal {
 public:
  void OnDocumentComplete(MSHTMLClient*) override {}
  UINT GetMethodTable(const MethodEntry** table) override {
    static const MethodEntry kTable[] = {
        {L"add", static_cast<MethodHandler>(&TestExternal::add)},
        {L"concat", static_cast<MethodHandler>(&TestExternal::concat)},
        {L"fail", static_cast<MethodHandler>(&TestExternal::fail)},
    };
    *table = kTable;
    return 3;
  }

  // Every InvokeEx the engine makes, to see the flags it passes.
  HRESULT STDMETHODCALLTYPE InvokeEx(DISPID dispid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excepinfo,
                                     IServiceProvider* caller) override {
    invokeExFlags.push_back(flags);
    return MSHTMLExternal::InvokeEx(dispid, lcid, flags, params, result, excepinfo, caller);
  }
  std::vector<WORD> invokeExFlags;

 private:
  // Arguments arrive last first.
  HRESULT add(WORD, DISPPARAMS* params, VARIANT* result) {
    if (params->cArgs != 2 || params->rgvarg[0].vt != VT_I4 || params->rgvarg[1].vt != VT_I4) {
      return DISP_E_TYPEMISMATCH;
    }
    if (result != nullptr) {
      result->vt = VT_I4;
      result->lVal = params->rgvarg[1].lVal + params->rgvarg[0].lVal;
    }
    return S_OK;
  }
  HRESULT concat(WORD, DISPPARAMS* params, VARIANT* result) {
    if (params->cArgs != 2 || params->rgvarg[0].vt != VT_BSTR || params->rgvarg[1].vt != VT_BSTR) {
      return DISP_E_TYPEMISMATCH;
    }
    const std::wstring joined = std::wstring(params->rgvarg[1].bstrVal) + params->rgvarg[0].bstrVal;
    if (result != nullptr) {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString(joined.c_str());
    }
    return S_OK;
  }
  HRESULT fail(WORD, DISPPARAMS*, VARIANT*) { return kHandlerFailure; }
};

// A test's own reference; released at the end of the test.
struct ExternalRef {
  TestExternal* object;
  ExternalRef() : object(new TestExternal) {}
  ~ExternalRef() { reset(); }
  void reset() {
    if (object != nullptr) object->Release();
    object = nullptr;
  }
  TestExternal* operator->() const { return object; }
};

// A BSTR for the duration of a call.
class Name {
 public:
  explicit Name(const wchar_t* text) : bstr_(SysAllocString(text)) {}
  ~Name() { SysFreeString(bstr_); }
  operator BSTR() const { return bstr_; }

 private:
  BSTR bstr_;
};

DISPID dispidOf(MSHTMLExternal* object, const wchar_t* name, DWORD grfdex, HRESULT* hr = nullptr) {
  DISPID dispid = 12345;
  const HRESULT result = object->GetDispID(Name(name), grfdex, &dispid);
  if (hr != nullptr) *hr = result;
  return dispid;
}

HRESULT putNumber(MSHTMLExternal* object, DISPID dispid, LONG value) {
  VARIANT argument;
  argument.vt = VT_I4;
  argument.lVal = value;
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {&argument, &named, 1, 1};
  return object->InvokeEx(dispid, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

HRESULT getValue(MSHTMLExternal* object, DISPID dispid, VARIANT* value) {
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  return object->InvokeEx(dispid, 0, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr);
}

const DISPID kFirstMember = static_cast<DISPID>(0x80000000u);

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { CoUninitialize(); }
};

// ---- direct calls: the rules as a caller other than JScript sees them ----

TEST_F(ComTest, QueryInterfaceServesTheThreeDispatchInterfacesOnly) {
  ExternalRef external;
  const IID* served[] = {&IID_IUnknown, &IID_IDispatch, &__uuidof(IDispatchEx)};
  for (const IID* iid : served) {
    void* out = nullptr;
    ASSERT_EQ(external->QueryInterface(*iid, &out), S_OK);
    EXPECT_EQ(out, static_cast<IDispatchEx*>(external.object));
    EXPECT_EQ(external->Release(), 1u);  // QueryInterface took a reference
  }
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(external->QueryInterface(IID_IPersist, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ComTest, ReferenceCountSurvivesConcurrentAddRefAndRelease) {
  ExternalRef external;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) external->AddRef();
      for (int i = 0; i < 20000; ++i) external->Release();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(external->AddRef(), 2u);
  external->Release();
}

TEST_F(ComTest, GetIDsOfNamesIsExactAndResolvesEveryName) {
  ExternalRef external;
  dispidOf(external.object, L"expando", fdexNameEnsure);  // members are never searched here
  Name add(L"add"), upperAdd(L"Add"), concat(L"concat"), expando(L"expando");
  LPOLESTR names[] = {add, upperAdd, concat, expando};
  DISPID dispids[4] = {};
  EXPECT_EQ(external->GetIDsOfNames(IID_NULL, names, 4, 0, dispids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(dispids[0], 1);
  EXPECT_EQ(dispids[1], DISPID_UNKNOWN);
  EXPECT_EQ(dispids[2], 2);
  EXPECT_EQ(dispids[3], DISPID_UNKNOWN);
  EXPECT_EQ(external->GetIDsOfNames(IID_NULL, names + 2, 1, 0, dispids), S_OK);
}

TEST_F(ComTest, GetDispIDFoldsCaseOnlyWhenAsked) {
  ExternalRef external;
  HRESULT hr = S_OK;
  EXPECT_EQ(dispidOf(external.object, L"FAIL", fdexNameCaseInsensitive, &hr), 3);
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(dispidOf(external.object, L"FAIL", 0, &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(dispidOf(external.object, L"myValue", fdexNameEnsure), kFirstMember);
  EXPECT_EQ(dispidOf(external.object, L"MYVALUE", fdexNameCaseInsensitive), kFirstMember);
  EXPECT_EQ(dispidOf(external.object, L"MYVALUE", 0, &hr), DISPID_UNKNOWN);
}

TEST_F(ComTest, NoDynamicPropertiesSkipsTheMembers) {
  ExternalRef external;
  ASSERT_EQ(dispidOf(external.object, L"x", fdexNameEnsure), kFirstMember);
  HRESULT hr = S_OK;
  EXPECT_EQ(dispidOf(external.object, L"x", fdexNameNoDynamicProperties, &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
  EXPECT_EQ(dispidOf(external.object, L"add", fdexNameNoDynamicProperties), 1);
}

TEST_F(ComTest, EnsureTwiceGivesOneMemberAndDeleteThenReviveKeepsItsDispid) {
  ExternalRef external;
  EXPECT_EQ(dispidOf(external.object, L"x", fdexNameEnsure), kFirstMember);
  EXPECT_EQ(dispidOf(external.object, L"x", fdexNameEnsure), kFirstMember);
  ASSERT_EQ(putNumber(external.object, kFirstMember, 7), S_OK);

  EXPECT_EQ(external->DeleteMemberByName(Name(L"x"), 0), S_OK);
  HRESULT hr = S_OK;
  EXPECT_EQ(dispidOf(external.object, L"x", 0, &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
  VARIANT value;
  VariantInit(&value);
  EXPECT_EQ(getValue(external.object, kFirstMember, &value), DISP_E_MEMBERNOTFOUND);  // stale DISPID

  EXPECT_EQ(dispidOf(external.object, L"x", fdexNameEnsure, &hr), kFirstMember);
  EXPECT_EQ(hr, S_OK);
  ASSERT_EQ(getValue(external.object, kFirstMember, &value), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);  // revived empty, not with its old 7
  EXPECT_EQ(dispidOf(external.object, L"y", fdexNameEnsure), kFirstMember + 1);  // no new slot for x
}

TEST_F(ComTest, ThirtyThirdMemberGrowsTheArrayToSixtyFourKeepingDispids) {
  static std::vector<std::size_t> arrayRequests;
  arrayRequests.clear();
  ExternalRef external;
  MSHTMLExternalTestAccess::setReallocate(*external.object, [](void* block, std::size_t bytes) {
    if (block != nullptr || bytes % MSHTMLExternalTestAccess::recordSize() == 0) {
      arrayRequests.push_back(bytes / MSHTMLExternalTestAccess::recordSize());
    }
    return std::realloc(block, bytes);
  });
  // Names of odd lengths, so that a name's bytes are never a multiple of the record size.
  auto nameOf = [](int i) { return L"member" + std::to_wstring(i) + L"_"; };
  for (int i = 0; i < 33; ++i) {
    ASSERT_EQ(dispidOf(external.object, nameOf(i).c_str(), fdexNameEnsure), kFirstMember + i);
    ASSERT_EQ(putNumber(external.object, kFirstMember + i, i * 10), S_OK);
  }
  EXPECT_EQ(arrayRequests, (std::vector<std::size_t>{32, 64}));
  for (int i = 0; i < 33; ++i) {
    EXPECT_EQ(dispidOf(external.object, nameOf(i).c_str(), 0), kFirstMember + i);
    VARIANT value;
    ASSERT_EQ(getValue(external.object, kFirstMember + i, &value), S_OK);
    EXPECT_EQ(value.lVal, i * 10);
  }
}

TEST_F(ComTest, OutOfMemoryLeavesExistingMembersUntouched) {
  static int allocationsLeft;
  ExternalRef external;
  MSHTMLExternalTestAccess::setReallocate(*external.object, [](void* block, std::size_t bytes) {
    return allocationsLeft-- > 0 ? std::realloc(block, bytes) : nullptr;
  });
  allocationsLeft = 1000;
  for (int i = 0; i < 32; ++i) {
    ASSERT_EQ(dispidOf(external.object, (L"m" + std::to_wstring(i)).c_str(), fdexNameEnsure),
              kFirstMember + i);
  }
  ASSERT_EQ(putNumber(external.object, kFirstMember + 31, 31), S_OK);
  // The name copy fails; then, at the growth boundary, the array's growth fails.
  for (int failingCall : {0, 1}) {
    allocationsLeft = failingCall;
    HRESULT hr = S_OK;
    EXPECT_EQ(dispidOf(external.object, L"extra", fdexNameEnsure, &hr), DISPID_UNKNOWN);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
  }
  allocationsLeft = 1000;
  EXPECT_EQ(dispidOf(external.object, L"m31", 0), kFirstMember + 31);
  VARIANT value;
  ASSERT_EQ(getValue(external.object, kFirstMember + 31, &value), S_OK);
  EXPECT_EQ(value.lVal, 31);
  EXPECT_EQ(dispidOf(external.object, L"extra", fdexNameEnsure), kFirstMember + 32);
}

TEST_F(ComTest, InvokeReachesOnlyTableRowsThroughTheNullInterface) {
  ExternalRef external;
  VARIANT arguments[2];
  arguments[0].vt = VT_I4;
  arguments[0].lVal = 2;
  arguments[1].vt = VT_I4;
  arguments[1].lVal = 40;
  DISPPARAMS params = {arguments, nullptr, 2, 0};
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(external->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.lVal, 42);
  const DISPID outsideTable[] = {0, 4, -1, static_cast<DISPID>(0x80000000u)};
  for (DISPID outside : outsideTable) {
    EXPECT_EQ(external->Invoke(outside, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND)
        << outside;
  }
  EXPECT_EQ(external->Invoke(1, IID_IDispatch, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(external->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            kHandlerFailure);  // a handler's failure passes unchanged
}

TEST_F(ComTest, InvokeExChecksPropertyArguments) {
  ExternalRef external;
  const DISPID x = dispidOf(external.object, L"x", fdexNameEnsure);
  VARIANT arguments[2];
  arguments[0].vt = VT_I4;
  arguments[0].lVal = 1;
  arguments[1] = arguments[0];
  DISPID putId = DISPID_PROPERTYPUT;
  VARIANT result;
  VariantInit(&result);
  struct Case {
    WORD flags;
    DISPPARAMS params;
    HRESULT expected;
  };
  const Case cases[] = {
      {DISPATCH_PROPERTYGET, {arguments, nullptr, 1, 0}, DISP_E_BADPARAMCOUNT},
      {DISPATCH_PROPERTYPUT, {arguments, nullptr, 1, 0}, DISP_E_PARAMNOTFOUND},
      {DISPATCH_PROPERTYPUT, {arguments, &putId, 2, 1}, DISP_E_BADPARAMCOUNT},
      {0, {nullptr, nullptr, 0, 0}, E_NOTIMPL},
  };
  for (const Case& c : cases) {
    DISPPARAMS params = c.params;
    EXPECT_EQ(external->InvokeEx(x, 0, c.flags, &params, &result, nullptr, nullptr), c.expected)
        << "flags " << c.flags;
  }
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(external->InvokeEx(x + 1, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNNAME);  // past the array
}

TEST_F(ComTest, MethodCallOnANumberDoesNothing) {
  ExternalRef external;
  const DISPID x = dispidOf(external.object, L"x", fdexNameEnsure);
  ASSERT_EQ(putNumber(external.object, x, 5), S_OK);
  VARIANT result;
  result.vt = VT_I2;
  result.iVal = 99;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(external->InvokeEx(x, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I2);
  EXPECT_EQ(result.iVal, 99);
}

TEST_F(ComTest, MethodCallOnAnObjectWithoutDispatchExUsesItsInvoke) {
  ExternalRef external;
  testsupport::RecordingDispatch function;
  const DISPID f = dispidOf(external.object, L"f", fdexNameEnsure);
  VARIANT held;
  held.vt = VT_DISPATCH;
  held.pdispVal = &function;
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS put = {&held, &putId, 1, 1};
  ASSERT_EQ(external->InvokeEx(f, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(function.references(), 2);

  VARIANT argument;
  argument.vt = VT_I4;
  argument.lVal = 3;
  DISPPARAMS call = {&argument, nullptr, 1, 0};
  ASSERT_EQ(external->InvokeEx(f, 0x409, DISPATCH_METHOD, &call, nullptr, nullptr, nullptr), S_OK);
  ASSERT_EQ(function.calls.size(), 1u);
  EXPECT_EQ(function.calls[0].dispid, DISPID_VALUE);
  EXPECT_TRUE(function.calls[0].iidIsNull);
  EXPECT_EQ(function.calls[0].lcid, 0x409u);
  EXPECT_EQ(function.calls[0].flags, DISPATCH_METHOD);
  ASSERT_EQ(function.calls[0].arguments.size(), 1u);
  EXPECT_EQ(function.calls[0].arguments[0].lVal, 3);
  EXPECT_TRUE(function.calls[0].argErrIsNull);
  EXPECT_EQ(function.references(), 2);  // the call's own reference was given back

  EXPECT_EQ(external->DeleteMemberByDispID(f), S_OK);
  EXPECT_EQ(function.references(), 1);  // deleting cleared the value
}

TEST_F(ComTest, DeleteRules) {
  ExternalRef external;
  EXPECT_EQ(external->DeleteMemberByDispID(1), S_FALSE);
  EXPECT_EQ(external->DeleteMemberByDispID(-1), S_OK);
  EXPECT_EQ(external->DeleteMemberByDispID(kFirstMember), S_OK);  // past the (empty) array
  EXPECT_EQ(external->DeleteMemberByName(Name(L"missing"), 0), S_OK);
  EXPECT_EQ(dispidOf(external.object, L"missing", 0), DISPID_UNKNOWN);
  // With ensure the name is made, then deleted: it exists as a deleted slot.
  EXPECT_EQ(external->DeleteMemberByName(Name(L"made"), fdexNameEnsure), S_OK);
  EXPECT_EQ(dispidOf(external.object, L"made", 0), DISPID_UNKNOWN);
  EXPECT_EQ(dispidOf(external.object, L"made", fdexNameEnsure), kFirstMember);
  EXPECT_EQ(external->DeleteMemberByDispID(kFirstMember), S_OK);
  EXPECT_EQ(external->DeleteMemberByDispID(kFirstMember), S_OK);  // twice: still one deleted slot
}

TEST_F(ComTest, DestructorReleasesMemberValues) {
  testsupport::RecordingDispatch held, deletedThenHeld;
  {
    ExternalRef external;
    for (auto* object : {&held, &deletedThenHeld}) {
      const DISPID member = dispidOf(external.object, object == &held ? L"a" : L"b", fdexNameEnsure);
      VARIANT value;
      value.vt = VT_DISPATCH;
      value.pdispVal = object;
      DISPID putId = DISPID_PROPERTYPUT;
      DISPPARAMS put = {&value, &putId, 1, 1};
      ASSERT_EQ(external->InvokeEx(member, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    }
    external->DeleteMemberByName(Name(L"b"), 0);  // a deleted slot must not be cleared again
    EXPECT_EQ(held.references(), 2);
    EXPECT_EQ(deletedThenHeld.references(), 1);
  }
  EXPECT_EQ(held.references(), 1);
  EXPECT_EQ(deletedThenHeld.references(), 1);
}

TEST_F(ComTest, DetachingTheWindowReleasesMemberValuesButKeepsTheMembers) {
  testsupport::RecordingDispatch pageFunction;
  ExternalRef external;
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  external->SetHostWindow(window);
  EXPECT_EQ(external->hostWindow(), window);
  const DISPID f = dispidOf(external.object, L"f", fdexNameEnsure);
  VARIANT value;
  value.vt = VT_DISPATCH;
  value.pdispVal = &pageFunction;
  DISPID putId = DISPID_PROPERTYPUT;
  DISPPARAMS put = {&value, &putId, 1, 1};
  ASSERT_EQ(external->InvokeEx(f, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(pageFunction.references(), 2);

  external->SetHostWindow(nullptr);
  DestroyWindow(window);
  EXPECT_EQ(external->hostWindow(), nullptr);
  EXPECT_EQ(pageFunction.references(), 1);
  EXPECT_EQ(dispidOf(external.object, L"f", 0), f);
  ASSERT_EQ(getValue(external.object, f, &value), S_OK);
  EXPECT_EQ(value.vt, VT_EMPTY);
}

// ---- JScript as the caller ----

class JScriptTest : public ComTest {
 protected:
  void SetUp() override {
    ComTest::SetUp();
    host_ = new testsupport::JScriptHost;
    ASSERT_TRUE(host_->ok()) << std::hex << host_->status();
    ASSERT_EQ(host_->addNamedItem(L"external", static_cast<IDispatchEx*>(external_.object)), S_OK);
  }
  // The object goes before the apartment: its members may hold the engine's functions.
  void TearDown() override {
    delete host_;
    external_.reset();
    ComTest::TearDown();
  }
  VARIANT evaluate(const std::wstring& expression) {
    VARIANT value;
    EXPECT_EQ(host_->evaluate(expression, &value), S_OK) << firstError();
    return value;
  }
  std::wstring firstError() {
    return host_->errors().empty() ? L"" : host_->errors()[0].description;
  }

  ExternalRef external_;
  testsupport::JScriptHost* host_ = nullptr;
};

TEST_F(JScriptTest, CallsTableMethodsWithTheirArguments) {
  VARIANT sum = evaluate(L"external.add(2, 40)");
  EXPECT_EQ(sum.vt, VT_I4);
  EXPECT_EQ(sum.lVal, 42);
  VARIANT joined = evaluate(L"external.concat('ab', 'cd')");
  ASSERT_EQ(joined.vt, VT_BSTR);
  EXPECT_STREQ(joined.bstrVal, L"abcd");
  VariantClear(&joined);
}

TEST_F(JScriptTest, AHandlerFailureBecomesAScriptException) {
  VARIANT number = evaluate(L"(function(){ try { external.fail(); return 0; } catch (e) { return e.number; } })()");
  ASSERT_EQ(number.vt, VT_I4);
  EXPECT_EQ(number.lVal, kHandlerFailure);
}

TEST_F(JScriptTest, ExpandoPropertyRoundTrips) {
  ASSERT_EQ(host_->run(L"external.x = 5;"), S_OK) << firstError();
  VARIANT value = evaluate(L"external.x");
  EXPECT_EQ(value.vt, VT_I4);
  EXPECT_EQ(value.lVal, 5);
  EXPECT_EQ(dispidOf(external_.object, L"x", 0), kFirstMember);  // a real member of the object
}

TEST_F(JScriptTest, ExpandoFunctionIsCalledAsAStatementAndInAnExpression) {
  ASSERT_EQ(host_->run(L"var seen = 0; external.f = function(a) { seen = a; return a * 2; };"), S_OK)
      << firstError();
  external_->invokeExFlags.clear();
  ASSERT_EQ(host_->run(L"external.f(3);"), S_OK) << firstError();
  EXPECT_EQ(evaluate(L"seen").lVal, 3);
  const std::vector<WORD> statementFlags = external_->invokeExFlags;

  external_->invokeExFlags.clear();
  VARIANT doubled = evaluate(L"external.f(21)");
  EXPECT_EQ(doubled.vt, VT_I4);
  EXPECT_EQ(doubled.lVal, 42);
  const std::vector<WORD> expressionFlags = external_->invokeExFlags;
  // What the engine passes: a statement calls with the method flag alone, a call whose value is used
  // adds the get flag.
  EXPECT_EQ(statementFlags, std::vector<WORD>{DISPATCH_METHOD});
  EXPECT_EQ(expressionFlags, std::vector<WORD>{DISPATCH_METHOD | DISPATCH_PROPERTYGET});
}

TEST_F(JScriptTest, DeleteRemovesTheExpando) {
  ASSERT_EQ(host_->run(L"external.x = 5;"), S_OK) << firstError();
  ASSERT_EQ(host_->run(L"delete external.x;"), S_OK) << firstError();
  HRESULT hr = S_OK;
  EXPECT_EQ(dispidOf(external_.object, L"x", 0, &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, DISP_E_UNKNOWNNAME);
  VARIANT kind = evaluate(L"typeof external.x");
  ASSERT_EQ(kind.vt, VT_BSTR);
  EXPECT_STREQ(kind.bstrVal, L"undefined");
  VariantClear(&kind);
  ASSERT_EQ(host_->run(L"external.x = 6;"), S_OK);  // assigning again revives the same slot
  EXPECT_EQ(dispidOf(external_.object, L"x", 0), kFirstMember);
  EXPECT_EQ(evaluate(L"external.x").lVal, 6);
}

}  // namespace
}  // namespace htmlui
