// Win32 code.
#include "htmlui/mshtml_external_win.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "htmlui/dispatch_rules.h"
#include "sysenv/scope_exit.h"

namespace htmlui {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide text is UTF-16");

// The type field of a deleted member's value. Not a valid VARIANT type, so such a value must never
// reach VariantClear or VariantCopy.
constexpr VARTYPE kDeletedMemberType = 0xFFFF;

const char16_t* u16(const wchar_t* text) { return reinterpret_cast<const char16_t*>(text); }

MemberValueKind kindOf(const VARIANT& value) {
  if (value.vt == kDeletedMemberType) return MemberValueKind::kDeleted;
  if (value.vt == VT_DISPATCH && value.pdispVal != nullptr) return MemberValueKind::kDispatch;
  return MemberValueKind::kOther;
}

}  // namespace

MSHTMLExternal::MSHTMLExternal() : reallocate_(&std::realloc) {}

MSHTMLExternal::~MSHTMLExternal() {
  static_assert(std::is_trivially_copyable<DynamicMember>::value, "the array is moved by realloc");
  for (ULONG i = 0; i < memberCount_; ++i) {
    std::free(members_[i].name);
    if (members_[i].value.vt != kDeletedMemberType) VariantClear(&members_[i].value);
  }
  std::free(members_);
}

UINT MSHTMLExternal::methodCount() {
  const MethodEntry* table = nullptr;
  return GetMethodTable(&table);
}

const wchar_t* MSHTMLExternal::methodName(UINT row) {
  const MethodEntry* table = nullptr;
  GetMethodTable(&table);
  return table[row].name;
}

HRESULT MSHTMLExternal::invokeMethod(UINT row, WORD flags, DISPPARAMS* params, VARIANT* result) {
  const MethodEntry* table = nullptr;
  GetMethodTable(&table);
  if (table[row].handler == nullptr) return DISP_E_MEMBERNOTFOUND;
  return (this->*table[row].handler)(flags, params, result);
}

HRESULT MSHTMLExternal::appendMember(const wchar_t* name, DISPID* dispid) {
  *dispid = DISPID_UNKNOWN;
  // The name is copied before the array grows, so that a failure leaves the array as it was.
  const std::size_t nameBytes = (std::wcslen(name) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(reallocate_(nullptr, nameBytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::memcpy(copy, name, nameBytes);
  if (appendNeedsGrowth(memberCount_)) {
    std::size_t arrayBytes = 0;
    void* grown = grownArrayBytes(memberCount_, sizeof(DynamicMember), &arrayBytes)
                      ? reallocate_(members_, arrayBytes)
                      : nullptr;
    if (grown == nullptr) {
      std::free(copy);
      return E_OUTOFMEMORY;
    }
    members_ = static_cast<DynamicMember*>(grown);
  }
  DynamicMember& member = members_[memberCount_];
  member.name = copy;
  VariantInit(&member.value);
  *dispid = memberDispid(memberCount_);
  ++memberCount_;
  return S_OK;
}

HRESULT MSHTMLExternal::GetDispID(BSTR name, DWORD grfdex, DISPID* dispid) {
  if (dispid == nullptr) return E_POINTER;
  const wchar_t* text = name != nullptr ? name : L"";  // a null BSTR is the empty string
  const bool ignoreCase = (grfdex & fdexNameCaseInsensitive) != 0;
  const bool ensure = (grfdex & fdexNameEnsure) != 0;
  if (SUCCEEDED(findMethod(text, ignoreCase, dispid))) return S_OK;
  if ((grfdex & fdexNameNoDynamicProperties) == 0) {
    for (ULONG i = 0; i < memberCount_; ++i) {
      DynamicMember& member = members_[i];
      if (!namesEqual(u16(member.name), u16(text), ignoreCase)) continue;
      if (member.value.vt == kDeletedMemberType) {
        if (!ensure) {
          *dispid = DISPID_UNKNOWN;
          return DISP_E_UNKNOWNNAME;
        }
        VariantInit(&member.value);  // revived: same slot and DISPID, empty value
      }
      *dispid = memberDispid(i);
      return S_OK;
    }
  }
  if (ensure) return appendMember(text, dispid);
  *dispid = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT MSHTMLExternal::InvokeEx(DISPID dispid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* excepinfo, IServiceProvider* caller) {
  if (dispid >= 0) return Invoke(dispid, IID_NULL, lcid, flags, params, result, excepinfo, nullptr);
  const std::uint32_t index = memberIndexOf(dispid);
  if (index >= memberCount_) return DISP_E_UNKNOWNNAME;

  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  if (params == nullptr) params = &none;
  const ExpandoAction action =
      expandoCallAction(flags, params->cArgs, params->cNamedArgs,
                        reinterpret_cast<const std::int32_t*>(params->rgdispidNamedArgs),
                        kindOf(members_[index].value));
  switch (action) {
    case ExpandoAction::kGet:
      if (result == nullptr) return E_INVALIDARG;
      VariantInit(result);  // an out parameter: whatever the caller left there is not ours to clear
      return VariantCopy(result, &members_[index].value);
    case ExpandoAction::kPut: {
      // Copy first, then swap in: clearing the old value can release a page object, and nothing
      // here may hold on to the array while foreign code runs.
      VARIANT fresh;
      VariantInit(&fresh);
      const HRESULT copied = VariantCopy(&fresh, &params->rgvarg[0]);
      if (FAILED(copied)) return copied;
      VARIANT old = members_[index].value;
      members_[index].value = fresh;
      if (old.vt != kDeletedMemberType) VariantClear(&old);
      return S_OK;
    }
    case ExpandoAction::kCallDefault: {
      // The page function may add or replace members while it runs: hold the object, not the record.
      IDispatch* target = members_[index].value.pdispVal;
      target->AddRef();
      sysenv::ScopeExit releaseTarget([target] { target->Release(); });
      IDispatchEx* targetEx = nullptr;
      if (SUCCEEDED(target->QueryInterface(__uuidof(IDispatchEx), reinterpret_cast<void**>(&targetEx)))) {
        sysenv::ScopeExit releaseEx([targetEx] { targetEx->Release(); });
        return targetEx->InvokeEx(DISPID_VALUE, lcid, flags, params, result, excepinfo, caller);
      }
      return target->Invoke(DISPID_VALUE, IID_NULL, lcid, flags, params, result, excepinfo, nullptr);
    }
    case ExpandoAction::kNothing:
      return S_OK;
    case ExpandoAction::kBadParamCount:
      return DISP_E_BADPARAMCOUNT;
    case ExpandoAction::kParamNotFound:
      return DISP_E_PARAMNOTFOUND;
    case ExpandoAction::kMemberNotFound:
      return DISP_E_MEMBERNOTFOUND;
    case ExpandoAction::kNotImplemented:
      break;
  }
  return E_NOTIMPL;
}

HRESULT MSHTMLExternal::DeleteMemberByName(BSTR name, DWORD grfdex) {
  DISPID dispid = DISPID_UNKNOWN;
  GetDispID(name, grfdex, &dispid);  // its result does not matter: a miss leaves DISPID_UNKNOWN
  return DeleteMemberByDispID(dispid);
}

HRESULT MSHTMLExternal::DeleteMemberByDispID(DISPID dispid) {
  if (dispid >= 0) return S_FALSE;  // fixed methods cannot be deleted
  const std::uint32_t index = memberIndexOf(dispid);
  if (index >= memberCount_) return S_OK;
  VARIANT& value = members_[index].value;
  if (value.vt != kDeletedMemberType) {
    VARIANT old = value;
    value.vt = kDeletedMemberType;
    VariantClear(&old);
  }
  return S_OK;
}

HRESULT MSHTMLExternal::GetMemberProperties(DISPID, DWORD, DWORD*) { return E_NOTIMPL; }
HRESULT MSHTMLExternal::GetMemberName(DISPID, BSTR*) { return E_NOTIMPL; }
HRESULT MSHTMLExternal::GetNextDispID(DWORD, DISPID, DISPID*) { return E_NOTIMPL; }
HRESULT MSHTMLExternal::GetNameSpaceParent(IUnknown**) { return E_NOTIMPL; }

void MSHTMLExternal::SetHostWindow(HWND window) {
  if (window == nullptr) releaseMemberValues();  // the page is going: let go of its objects now
  hostWindow_ = window;
}

void MSHTMLExternal::releaseMemberValues() {
  // By index, re-reading the array: a released page object may run code that adds members.
  for (ULONG i = 0; i < memberCount_; ++i) {
    VARIANT& value = members_[i].value;
    if (value.vt == kDeletedMemberType || value.vt == VT_EMPTY) continue;
    VARIANT old = value;
    VariantInit(&value);
    VariantClear(&old);
  }
}

}  // namespace htmlui
