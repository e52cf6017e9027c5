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

  // A new member of `parent` (null for an orphan) named `name` (null stays null), the name
  // kept in the member's own allocation. The first copies `value` with by-reference indirection
  // removed and throws ComError with the copy's HRESULT when it cannot; the second takes `value`
  // over. Throws std::bad_alloc.
  static com::ComPtr<CNamedValue> Make(CNamedValues* parent, NameRef name, const VARIANT& value);
  static com::ComPtr<CNamedValue> Make(CNamedValues* parent, NameRef name, com::UniqueVariant value);

  // For Make only: the object and the room for its name come from one allocation.
  CNamedValue(CNamedValues* parent, NameRef name, com::UniqueVariant value) noexcept;
  static void* operator new(size_t size, com::TrailingRoom room) { return ::operator new(size + room.bytes); }
  static void operator delete(void* block, com::TrailingRoom) noexcept { ::operator delete(block); }
  static void operator delete(void* block) noexcept { ::operator delete(block); }
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
  NameRef Name() const noexcept { return NameOf(name_); }
  BSTR NameBstr() const noexcept { return name_; }
  void SetName(com::UniqueBstr name) noexcept;
  CNamedValues* Parent() const noexcept { return parent_; }
  void SetParent(CNamedValues* parent) noexcept { parent_ = parent; }
  const VARIANT& Value() const noexcept { return value_.Get(); }
  // Replaces the value by a dereferenced copy of `value`; on failure reports it and keeps the
  // old value.
  HRESULT AssignValue(const VARIANT& value) noexcept;
  // Takes `value` over as the new value.
  void TakeValue(com::UniqueVariant value) noexcept { value_ = std::move(value); }

 private:
  // The name: null, the copy in this member's allocation (laid out as a BSTR: length prefix,
  // text, NUL), or a BSTR the member owns once renamed.
  BSTR name_ = nullptr;
  bool ownsName_ = false;
  com::UniqueVariant value_;
  CNamedValues* parent_;  // not counted: the collection clears it when it lets the member go
};

}  // namespace qx
