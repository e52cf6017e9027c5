#include "namedvalues/enum_named_value.h"

namespace qx {

C_EnumNamedValue::~C_EnumNamedValue() {
  for (CNamedValue* member : items_) member->Release();
}

// Past the end: S_FALSE and a null member. A null out-pointer skips one member.
HRESULT C_EnumNamedValue::Next(NamedValue** pVal) {
  if (position_ >= items_.size()) {
    if (pVal) *pVal = nullptr;
    return S_FALSE;
  }
  CNamedValue* member = items_[position_++];
  if (pVal) {
    member->AddRef();
    *pVal = member;
  }
  return S_OK;
}

}  // namespace qx
