#include "mtnamedvalues/mtnv.h"

#include <cstdint>

#include "common/error_reporter.h"
#include "common/request_pass.h"
#include "framework/boundary.h"
#include "mtnamedvalues/mtnvs.h"
#include "namedvalues/member_value.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;
using com::UniqueBstr;

namespace {

constexpr com::MethodConvention kItemConvention = com::FullConvention(msg::kMTNV);

// A whole number of milliseconds from 1 to 9, drawn afresh for each back-off. Each thread has a
// generator of its own, seeded differently, so that competing threads spread apart.
DWORD BackOffMilliseconds() noexcept {
  thread_local std::uint32_t state = GetCurrentThreadId() * 2654435761u ^ GetTickCount() ^ 0x9E3779B9u;
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  const std::uint32_t r = (state >> 8) & 0x7FFF;  // 0 to 32767
  return r * 9 / 32768 + 1;
}

}  // namespace

// Holds the item's locks for the body of a method: GetLocks on construction, ReleaseLocks on
// destruction when it succeeded.
class CMTNV::Locks {
 public:
  Locks(CMTNV& item, const wchar_t* methodTag) noexcept : item_(item), result_(item.GetLocks(methodTag)) {}
  ~Locks() {
    if (SUCCEEDED(result_)) item_.ReleaseLocks();
  }
  Locks(const Locks&) = delete;
  Locks& operator=(const Locks&) = delete;
  HRESULT Result() const noexcept { return result_; }

 private:
  CMTNV& item_;
  HRESULT result_;
};

CMTNV::CMTNV(CMTNVS* parent, UniqueBstr name, com::UniqueVariant value) noexcept
    : name_(std::move(name)), value_(std::move(value)), parent_(parent) {}

CMTNV::~CMTNV() = default;

HRESULT CMTNV::GetLocks(const wchar_t* methodTag) noexcept {
  lock_.Enter();
  for (LONG attempts = 1;; ++attempts) {
    // The parent link changes only under the own lock, which is held here.
    if (!parent_ || parent_->TryLockCollection()) return S_OK;
    lock_.Leave();
    if (attempts >= kParentLockAttempts) return LibraryError(msg::kMTNVParentLock, methodTag);
    Sleep(BackOffMilliseconds());
    lock_.Enter();
  }
}

void CMTNV::ReleaseLocks() noexcept {
  // Only this thread could have changed the link since GetLocks (MTDetach, which also left the
  // parent's lock), so a parent here is one whose lock this thread holds.
  if (parent_) parent_->UnlockCollection();
  lock_.Leave();
}

ComPtr<CMTNVS> CMTNV::ReferencedParent() noexcept {
  if (!parent_ || !parent_->TryAddRef()) return {};
  return ComPtr<CMTNVS>::Adopt(parent_);
}

HRESULT CMTNV::get_NV(NamedValue** hNV) { return QueryInterface(__uuidof(NamedValue), reinterpret_cast<void**>(hNV)); }

HRESULT CMTNV::get_INV2(INamedValue2** hNV2) {
  return QueryInterface(__uuidof(INamedValue2), reinterpret_cast<void**>(hNV2));
}

HRESULT CMTNV::get_MTName(BSTR* pVal) {
  return ComBoundary(kItemConvention, L" CMTNV::get_MTName", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    const Locks held(*this, L" CMTNV::get_MTName");
    if (FAILED(held.Result())) return held.Result();
    name_.CopyTo(pVal);
    return S_OK;
  });
}

HRESULT CMTNV::get_MTValue(VARIANT* pVal) {
  return ComBoundary(kItemConvention, L" CMTNV::get_MTValue", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    // The caller's old value is released before the lock is taken: its release runs client code.
    HRESULT hr = VariantClear(pVal);
    if (FAILED(hr)) return PropagateHResult(hr, L" Couldn't clear variant");
    const auto held = lock_.Lock();
    hr = value_.CopyTo(pVal);
    return FAILED(hr) ? ReportHResult(hr) : S_OK;
  });
}

HRESULT CMTNV::put_MTValue(VARIANT newVal) {
  // Declared first, so that the old value goes after the locks.
  com::UniqueVariant value;
  return ComBoundary(kItemConvention, L" CMTNV::put_MTValue", [&] {
    const Locks held(*this, L" CMTNV::put_MTValue");
    if (FAILED(held.Result())) return held.Result();
    if (parent_ && parent_->IsReadOnly()) return ReportSystemError(E_ACCESSDENIED);
    // A failed copy leaves the old value in place.
    const HRESULT hr = VariantCopyInd(value.AddressOf(), &newVal);
    if (FAILED(hr)) return ReportHResult(hr, L" CMTNV::put_MTValue> InternalPutValue");
    ExchangeValue(value);
    return S_OK;
  });
}

HRESULT CMTNV::get_MTParent(_MTNVS** hVal) {
  return ComBoundary(kItemConvention, L" CMTNV::get_MTParent", [&] {
    if (!hVal) return ReportSystemError(E_POINTER);
    *hVal = nullptr;
    const Locks held(*this, L" CMTNV::get_MTParent");
    if (FAILED(held.Result())) return held.Result();
    *hVal = ReferencedParent().Detach();
    return S_OK;
  });
}

HRESULT CMTNV::get_Parent(_NamedValues** pVal) {
  return ComBoundary(kItemConvention, L" CMTNV::get_Parent", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    const Locks held(*this, L" CMTNV::get_Parent");
    if (FAILED(held.Result())) return held.Result();
    *pVal = static_cast<INamedValues2*>(ReferencedParent().Detach());
    return S_OK;
  });
}

HRESULT CMTNV::MTRename(BSTR NewName) {
  return ComBoundary(kItemConvention, L" CMTNV::MTRename", [&] {
    const Locks held(*this, L" CMTNV::MTRename");
    if (FAILED(held.Result())) return held.Result();
    if (!parent_) {
      name_ = UniqueBstr::Copy(NewName);
      return S_OK;
    }
    // The collection replaces this item's name: hand it a copy, not the name it frees.
    const UniqueBstr current = UniqueBstr::Copy(name_.Get());
    return parent_->InternalRename(current.Get(), NewName, false);
  });
}

HRESULT CMTNV::MTDetach() {
  return ComBoundary(kItemConvention, L" CMTNV::MTDetach", [&] {
    const Locks held(*this, L" CMTNV::MTDetach");
    if (FAILED(held.Result())) return held.Result();
    if (!parent_) return S_OK;
    const UniqueBstr current = UniqueBstr::Copy(name_.Get());
    return parent_->InternalRemove(current.Get(), false);
  });
}

// The value object is taken under the own lock and called outside it: it is client code, which
// may call back into this item or its collection, from this thread or another.
template <class I, class Pass>
HRESULT CMTNV::PassToValue(int kind, const wchar_t* methodTag, Pass&& pass) noexcept {
  return ComBoundary(kItemConvention, methodTag, [&] {
    // Once per request pass: the value may lead back to this item.
    const RequestPass visit(static_cast<RequestPass::Kind>(kind), this);
    if (!visit.First()) return S_OK;
    ComPtr<I> target;
    {
      const auto held = lock_.Lock();
      target = ValueObject<I>(value_.Get());
    }
    if (target) (void)pass(target);
    return S_OK;
  });
}

HRESULT CMTNV::SlimFast(LONG Reserved) {
  return PassToValue<ISlimFast>(RequestPass::kSlimFast, L" CMTNV::SlimFast",
                                [&](const ComPtr<ISlimFast>& target) { return target->SlimFast(Reserved); });
}

HRESULT CMTNV::Refresh() {
  return PassToValue<IRefresh>(RequestPass::kRefresh, L" CMTNV::Refresh",
                               [](const ComPtr<IRefresh>& target) { return target->Refresh(); });
}

}  // namespace qx
