// The dispatch fast paths of NamedValues and NamedValue: the calls script clients make most
// (Item, Count, Add and _NewEnum of the collection, Value of a member) with the argument kinds
// script engines pass, served through the interface without the type information. Every other
// call goes to the type information's Invoke, as does every argument kind not listed here.
#pragma once

#include "module/interfaces.h"

namespace qx {

struct NamedValuesFastPath {
  static bool Invoke(INamedValues2* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* exception, HRESULT* hr) noexcept;
};

struct NamedValueFastPath {
  static bool Invoke(INamedValue2* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* exception, HRESULT* hr) noexcept;
};

}  // namespace qx
