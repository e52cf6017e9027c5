// CEnumErrors: the IEnumVARIANT of a QXErrors collection. It works on the live collection, not
// on a snapshot: the count is asked anew at every call, so entries added after the enumerator
// was made are enumerated too. Used by one thread at a time (plain count).
#pragma once

#include "framework/com_object.h"
#include "module/interfaces.h"

namespace qx {

class CEnumErrors final : public com::ComObject<CEnumErrors, com::ClassOptions{}, IEnumVARIANT> {
 public:
  explicit CEnumErrors(com::ComPtr<_QXErrors> parent) noexcept : parent_(std::move(parent)) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override;

 private:
  com::ComPtr<_QXErrors> parent_;
  LONG cursor_ = 1;  // 1-based index of the next entry
};

}  // namespace qx
