// CMTNV: one member of an MTNVS collection (_MTNV, and the NamedValue / INamedValue2 view),
// callable from any thread.
//
// Locks: the item's own lock guards its name, value and parent link. Methods that also depend on
// the collection (name, parent, the read-only rule of a value change) take the parent's lock too,
// but never wait for it while holding their own: collection methods lock the collection first
// and the item second, so an item only tries the parent's lock and, on contention, lets its own
// lock go, sleeps 1 to 9 ms and starts again (GetLocks).
#pragma once

#include "framework/com_object.h"
#include "framework/owners.h"
#include "module/interfaces.h"
#include "namedvalues/name_rules.h"

namespace qx {

class CMTNVS;

class CMTNV final
    : public com::ComObject<CMTNV, com::ClassOptions{.interlocked = true, .freeThreadedMarshaler = true},
                            com::Dual<_MTNV>, ISupportErrorInfo, com::Dual<INamedValue2>, ISlimFast, IRefresh> {
 public:
  // Late-bound clients see the NamedValue view.
  using DispatchInterface = INamedValue2;
  // Answers the implementation object itself, so that a collection recognises its own items.
  static constexpr GUID kImplementationIid = {
      0x3c1d8e52, 0x94a7, 0x4b0f, {0x8e, 0x61, 0x2f, 0xd4, 0x07, 0xb9, 0x5a, 0xc3}};

  // Attempts at the parent's lock before an item method gives up with 0x8004301A.
  static constexpr LONG kParentLockAttempts = 24000;

  // A member of `parent` (null for an orphan) with the given name and an already dereferenced value.
  CMTNV(CMTNVS* parent, com::UniqueBstr name, com::UniqueVariant value) noexcept;
  ~CMTNV();

  // _MTNV
  HRESULT STDMETHODCALLTYPE get_NV(NamedValue** hNV) override;
  HRESULT STDMETHODCALLTYPE get_INV2(INamedValue2** hNV2) override;
  HRESULT STDMETHODCALLTYPE get_MTName(BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE get_MTValue(VARIANT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_MTValue(VARIANT newVal) override;
  HRESULT STDMETHODCALLTYPE get_MTParent(_MTNVS** hVal) override;
  HRESULT STDMETHODCALLTYPE MTRename(BSTR NewName) override;
  HRESULT STDMETHODCALLTYPE MTDetach() override;
  // NamedValue / INamedValue2: the _MTNV members, except Parent, which hands out the view.
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override { return get_MTName(pVal); }
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pVal) override { return get_MTValue(pVal); }
  HRESULT STDMETHODCALLTYPE put_Value(VARIANT newVal) override { return put_MTValue(newVal); }
  HRESULT STDMETHODCALLTYPE get_Parent(_NamedValues** pVal) override;
  HRESULT STDMETHODCALLTYPE Rename(BSTR NewName) override { return MTRename(NewName); }
  HRESULT STDMETHODCALLTYPE Detach() override { return MTDetach(); }
  // ISlimFast, IRefresh: passed on to an object value.
  HRESULT STDMETHODCALLTYPE SlimFast(LONG Reserved) override;
  HRESULT STDMETHODCALLTYPE Refresh() override;

  // For the collection, which holds its own lock and, where it reads or writes more than the
  // name of one of its members, this item's lock (OwnLock).
  com::CriticalSection& OwnLock() noexcept { return lock_; }
  NameRef Name() const noexcept { return NameOf(name_.Get()); }
  BSTR NameBstr() const noexcept { return name_.Get(); }
  void SetName(com::UniqueBstr name) noexcept { name_ = std::move(name); }
  CMTNVS* Parent() const noexcept { return parent_; }
  void SetParent(CMTNVS* parent) noexcept { parent_ = parent; }
  const VARIANT& Value() const noexcept { return value_.Get(); }
  // Swaps in a new, already dereferenced value; `value` receives the old one, which the caller
  // releases once it holds no lock of this item.
  void ExchangeValue(com::UniqueVariant& value) noexcept { std::swap(value, value_); }

 private:
  class Locks;

  // Enters the own lock and, for an attached item, the parent's lock (see the header comment).
  // On failure no lock is held.
  HRESULT GetLocks(const wchar_t* methodTag) noexcept;
  void ReleaseLocks() noexcept;
  // Calls pass(ComPtr<I>) with the value as an I object, outside the own lock.
  template <class I, class Pass>
  HRESULT PassToValue(int kind, const wchar_t* methodTag, Pass&& pass) noexcept;
  // The parent with a reference, or empty for an orphan (or a parent being destroyed).
  com::ComPtr<CMTNVS> ReferencedParent() noexcept;

  com::CriticalSection lock_;
  com::UniqueBstr name_;
  com::UniqueVariant value_;
  CMTNVS* parent_;  // not counted: the collection clears it, under lock_, when it lets the item go
};

}  // namespace qx
