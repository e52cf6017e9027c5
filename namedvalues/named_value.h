// CNamedValue: one member of a NamedValues collection (NamedValue / INamedValue2).
#pragma once

#include "framework/com_object.h"
#include "namedvalues/dispatch_fast_path.h"
#include "framework/owners.h"
#include "module/interfaces.h"
#include "namedvalues/name_rules.h"

namespace qx {

class CNamedValues;

class CNamedValue final : public com::ComObject<CNamedValue, com::ClassOptions{}, com::Dual<INamedValue2, NamedValueFastPath>,
                                                ISupportErrorInfo, ISlimFast, IRefresh> {
 public:
  // Answers the implementation object itself, so that a collection recognises its own kind of
  // member behind a NamedValue pointer.
  static constexpr GUID kImplementationIid = {
      0x5b0e3f4c, 0x7d2a, 0x4e61, {0x9a, 0x35, 0x1c, 0x8e, 0x62, 0x0b, 0x47, 0xd1}};

  // Copies the name (null stays null) and the value with by-reference indirection removed.
  // Throws ComError with the copy's HRESULT when the value cannot be copied.
  CNamedValue(CNamedValues* parent, com::UniqueBstr name, const VARIANT& value);
  // Takes the name and the value over as they are.
  CNamedValue(CNamedValues* parent, com::UniqueBstr name, com::UniqueVariant value) noexcept;
  ~CNamedValue();

  // NamedValue
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Value(VARIANT newVal) override;
  HRESULT STDMETHODCALLTYPE get_Parent(_NamedValues** pVal) override;
  // INamedValue2
  HRESULT STDMETHODCALLTYPE Rename(BSTR NewName) override;
  HRESULT STDMETHODCALLTYPE Detach() override;
  // ISlimFast, IRefresh: forwarded to the value when it is an object that answers them.
  HRESULT STDMETHODCALLTYPE SlimFast(LONG Reserved) override;
  HRESULT STDMETHODCALLTYPE Refresh() override;

  // For the collection.
  NameRef Name() const noexcept { return NameOf(name_.Get()); }
  BSTR NameBstr() const noexcept { return name_.Get(); }
  void SetName(com::UniqueBstr name) noexcept { name_ = std::move(name); }
  CNamedValues* Parent() const noexcept { return parent_; }
  void SetParent(CNamedValues* parent) noexcept { parent_ = parent; }
  const VARIANT& Value() const noexcept { return value_.Get(); }
  // Replaces the value by a dereferenced copy of `value`; on failure reports it and keeps the
  // old value.
  HRESULT AssignValue(const VARIANT& value) noexcept;
  // Takes `value` over as the new value.
  void TakeValue(com::UniqueVariant value) noexcept { value_ = std::move(value); }

 private:
  // The value as an object of interface I, if it is (or converts to) one that answers I.
  template <class I>
  com::ComPtr<I> ValueObject() const noexcept;

  com::UniqueBstr name_;
  com::UniqueVariant value_;
  CNamedValues* parent_;  // not counted: the collection clears it when it lets the member go
};

}  // namespace qx
