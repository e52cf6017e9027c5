// C_EnumNamedValue: the member enumerator of a NamedValues collection (_EnumNamedValue), a
// snapshot of the members in the collection's public order at the time it was made.
#pragma once

#include <vector>

#include "framework/com_object.h"
#include "module/interfaces.h"
#include "namedvalues/named_value.h"

namespace qx {

class C_EnumNamedValue final
    : public com::ComObject<C_EnumNamedValue, com::ClassOptions{}, _EnumNamedValue, ISupportErrorInfo> {
 public:
  // Takes a reference on every member; holds none on the collection.
  template <class Members>
  explicit C_EnumNamedValue(const Members& members) : items_(members.begin(), members.end()) {
    for (CNamedValue* member : items_) member->AddRef();
  }
  ~C_EnumNamedValue();

  HRESULT STDMETHODCALLTYPE Next(NamedValue** pVal) override;

 private:
  std::vector<CNamedValue*> items_;
  size_t position_ = 0;
};

}  // namespace qx
