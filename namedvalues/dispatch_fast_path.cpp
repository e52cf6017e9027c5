#include "namedvalues/dispatch_fast_path.h"

#include "framework/dispatch.h"

namespace qx {
namespace {

constexpr DISPID kCount = 1;
constexpr DISPID kAdd = 2;
constexpr WORD kPut = DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;

bool IsGet(WORD flags) { return (flags & DISPATCH_PROPERTYGET) && !(flags & kPut); }
bool IsCall(WORD flags) { return (flags & DISPATCH_METHOD) && !(flags & kPut); }

// Positional arguments only, exactly `count` of them.
bool Takes(const DISPPARAMS* params, UINT count) {
  return params && params->cNamedArgs == 0 && params->cArgs == count && (count == 0 || params->rgvarg);
}

// An argument as the member receives it: a variable passed by reference (VT_BYREF | VT_VARIANT)
// stands for the variant it refers to.
VARIANT* Plain(VARIANT& arg) {
  if (V_VT(&arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&arg)) return V_VARIANTREF(&arg);
  return &arg;
}

// Kinds of VARIANT arguments handed to a VARIANT* parameter as they are.
bool IsPlainValue(VARTYPE vt) {
  switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R8:
    case VT_BSTR:
    case VT_BOOL:
    case VT_DISPATCH:
      return true;
    default:
      return false;
  }
}

// Completes a served call: the result on success, else what the type information reports.
HRESULT Served(HRESULT hr, EXCEPINFO* exception) {
  return FAILED(hr) ? com::DispatchException(hr, exception) : hr;
}

// Puts an [out, retval] object in the result, as the type information does even when the
// member failed (then a null object); one nobody asked for is released.
HRESULT ObjectResult(HRESULT hr, IUnknown* object, VARTYPE vt, VARIANT* result, EXCEPINFO* exception) {
  if (result) {
    V_VT(result) = vt;
    V_UNKNOWN(result) = object;
  } else if (object) {
    object->Release();
  }
  return Served(hr, exception);
}

}  // namespace

bool NamedValuesFastPath::Invoke(INamedValues2* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, HRESULT* hr) noexcept {
  switch (id) {
    case DISPID_VALUE: {  // Item(Index)
      if (!IsGet(flags) || !Takes(params, 1)) return false;
      VARIANT* index = Plain(params->rgvarg[0]);
      const VARTYPE vt = V_VT(index);
      if (vt != VT_BSTR && vt != VT_I4 && vt != VT_I2 && vt != VT_R8) return false;
      NamedValue* member = nullptr;
      const HRESULT called = self->get_Item(index, &member);
      *hr = ObjectResult(called, member, VT_DISPATCH, result, exception);
      return true;
    }
    case kCount: {
      if (!IsGet(flags) || !Takes(params, 0)) return false;
      LONG count = 0;
      const HRESULT called = self->get_Count(&count);
      if (result) {
        V_VT(result) = VT_I4;
        V_I4(result) = count;
      }
      *hr = Served(called, exception);
      return true;
    }
    case kAdd: {  // Add(Name, Value); arguments arrive last first
      if (!IsCall(flags) || !Takes(params, 2)) return false;
      VARIANT* name = Plain(params->rgvarg[1]);
      VARIANT* value = Plain(params->rgvarg[0]);
      if (V_VT(name) != VT_BSTR || !IsPlainValue(V_VT(value))) return false;
      NamedValue* member = nullptr;
      const HRESULT called = self->Add(V_BSTR(name), value, &member);
      *hr = ObjectResult(called, member, VT_DISPATCH, result, exception);
      return true;
    }
    case DISPID_NEWENUM: {
      if (!IsGet(flags) || !Takes(params, 0)) return false;
      IUnknown* enumerator = nullptr;
      const HRESULT called = self->get__NewEnum(&enumerator);
      *hr = ObjectResult(called, enumerator, VT_UNKNOWN, result, exception);
      return true;
    }
    default:
      return false;
  }
}

bool NamedValueFastPath::Invoke(INamedValue2* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO* exception, HRESULT* hr) noexcept {
  if (id != DISPID_VALUE || !IsGet(flags) || !Takes(params, 0)) return false;
  VARIANT discarded;
  VariantInit(&discarded);
  *hr = Served(self->get_Value(result ? result : &discarded), exception);
  VariantClear(&discarded);
  return true;
}

}  // namespace qx
