// CMTNVS: the members that act on many items at once: copy, merge and clone, the text and
// registry forms, traversal, name resolution, and the Refresh and SlimFast passes.
//
// Copy and Merge read their source without holding this collection's lock and take it again only
// to add, so a thread never holds two collection locks (merges in opposite directions cannot
// deadlock). The others hold the lock for their whole run; whatever calls out to client code
// works on a counted snapshot of the items.
#include "common/error_reporter.h"
#include "common/request_pass.h"
#include "mtnamedvalues/mtnvs.h"
#include "namedvalues/member_transfer.h"
#include "namedvalues/member_walk.h"
#include "namedvalues/registry_form.h"
#include "namedvalues/store_rules.h"
#include "namedvalues/text_form.h"

namespace qx {

using com::ComBoundary;
using com::ComPtr;
using com::UniqueBstr;
using com::UniqueVariant;

namespace {

constexpr UINT kOwn = msg::kMTNVS;
constexpr UINT kView = msg::kNamedValues;

}  // namespace

bool CMTNVS::IsFrozen() noexcept {
  const auto held = lock_.Lock();
  return readOnly_;
}

template <class Member, class Out>
HRESULT CMTNVS::CopyMember(UINT classMessageId, const wchar_t* methodTag, Member* source,
                           VARIANT_BOOL replaceDuplicates, Out** out) noexcept {
  if (out) *out = nullptr;
  if (source && IsFrozen()) return RefuseFrozen();
  return ComBoundary(com::FullConvention(classMessageId), methodTag, [&] {
    if (!source) return ReportSystemError(E_POINTER);
    // The source may be an item of any collection, this one included: it takes its own locks.
    UniqueBstr name;
    UniqueVariant value;
    HRESULT hr = ReadMember(source, name, value);
    if (FAILED(hr)) return hr;
    CMTNV* member = nullptr;
    {
      const auto held = lock_.Lock();
      hr = InternalAdd(name.Get(), value.Get(), replaceDuplicates != VARIANT_FALSE, out ? &member : nullptr);
    }
    return HandOutAs(hr, ComPtr<CMTNV>::Adopt(member), out);
  });
}

template <class Collection, class CopyOne>
HRESULT CMTNVS::MergeFrom(UINT classMessageId, const wchar_t* methodTag, Collection* source, CopyOne&& copy) noexcept {
  if (source && IsFrozen()) return RefuseFrozen();
  return ComBoundary(com::FullConvention(classMessageId), methodTag, [&] {
    if (!source) return ReportSystemError(E_POINTER);
    return MergeMembers(source, copy);
  });
}

HRESULT CMTNVS::MTCopy(_MTNV* pmtnvSource, VARIANT_BOOL ReplaceDuplicates, _MTNV** hVal) {
  return CopyMember(kOwn, L" CMTNVS::MTCopy", pmtnvSource, ReplaceDuplicates, hVal);
}

HRESULT CMTNVS::Copy(NamedValue* pnvSource, VARIANT_BOOL ReplaceDuplicates, NamedValue** pVal) {
  return CopyMember(kView, L" CMTNVS::Copy", pnvSource, ReplaceDuplicates, pVal);
}

HRESULT CMTNVS::MTMerge(_MTNVS* pmtnvSource, VARIANT_BOOL ReplaceDuplicates) {
  return MergeFrom(kOwn, L" CMTNVS::MTMerge", pmtnvSource, [&](_MTNV* member) {
    ComPtr<_MTNV> copy;
    return MTCopy(member, ReplaceDuplicates, copy.Put());
  });
}

HRESULT CMTNVS::Merge(_NamedValues* pnvSource, VARIANT_BOOL ReplaceDuplicates) {
  return MergeFrom(kView, L" CMTNVS::Merge", pnvSource, [&](NamedValue* member) {
    ComPtr<NamedValue> copy;
    return Copy(member, ReplaceDuplicates, copy.Put());
  });
}

HRESULT CMTNVS::MTClone(_MTNVS** hVal) {
  return Locked(kOwn, L" CMTNVS::MTClone", [&] {
    if (!hVal) return ReportSystemError(E_POINTER);
    *hVal = nullptr;
    const ComPtr<CMTNVS> copy = com::MakeCom<CMTNVS>();
    HRESULT hr = copy->put_Style(static_cast<qxnvStyleConstants>(style_.Bits()));
    if (SUCCEEDED(hr)) hr = copy->put_Sorted(items_.Sorted() ? VARIANT_TRUE : VARIANT_FALSE);
    if (SUCCEEDED(hr)) hr = copy->SetSize(items_.Capacity());
    // The copy reads this collection's items on this thread, which holds this collection's lock,
    // and is not yet visible to any other thread.
    if (SUCCEEDED(hr)) hr = copy->Merge(static_cast<INamedValues2*>(this), VARIANT_FALSE);
    if (FAILED(hr)) return hr;
    return copy.QueryTo(__uuidof(_MTNVS), reinterpret_cast<void**>(hVal));
  });
}

HRESULT CMTNVS::Clone(INamedValues2** pVal) {
  return Locked(kView, L" CMTNVS::Clone", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = nullptr;
    ComPtr<_MTNVS> copy;
    return HandOutAs(MTClone(copy.Put()), copy, pVal);
  });
}

HRESULT CMTNVS::MTLoadFromString(BSTR str) {
  return Locked(kOwn, L" CMTNVS::MTLoadFromString", [&] {
    if (readOnly_) return E_ACCESSDENIED;
    // Every loaded value is a string; an entry replaces the value of a member of its name.
    return LoadStructuredString(str, [&](NameRef name, NameRef valueText) {
      UniqueVariant value;
      V_VT(value.AddressOf()) = VT_BSTR;
      V_BSTR(value.AddressOf()) = CopyName(valueText).Detach();
      return InternalAdd(CopyName(name).Get(), value.Get(), true, nullptr);
    });
  });
}

HRESULT CMTNVS::MTDumpToString(BSTR* pStr) {
  if (!pStr) {
    ClearErrorInfo();
    return ReportSystemError(E_POINTER);
  }
  return Locked(kOwn, L" CMTNVS::MTDumpToString", [&] {
    *pStr = nullptr;
    // Member values change only under this collection's lock, which is held.
    return DumpStructuredString(CountedSnapshot(items_.PublicOrder()), pStr);
  });
}

HRESULT CMTNVS::MTLoadFromRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey, qxnvRegistryOptions Opt) {
  return Locked(kOwn, L" CMTNVS::MTLoadFromRegistry", [&] {
    if (readOnly_) return E_ACCESSDENIED;
    // Failing values do not count: they are described when met, and the load goes on.
    CollectionLoadTarget<CMTNVS> target(*this, kMTNVSRegistryRules);
    HRESULT ignored = S_OK;
    return LoadRegistryKey(RootKey, SubKey, Opt, target, kMTNVSRegistryRules, ignored);
  });
}

HRESULT CMTNVS::MTDumpToRegistry(qxnvRegistryKeyConstants RootKey, BSTR SubKey, qxnvRegistryOptions Opt) {
  return Locked(kOwn, L" CMTNVS::MTDumpToRegistry", [&] {
    return DumpRegistryKey(RootKey, SubKey, Opt, kMTNVSRegistryRules, [&](std::vector<RegistryEntry>& entries) {
      // Each member's name and value are copied under its own lock; converting them for the
      // registry happens afterwards, on the copies.
      entries.reserve(static_cast<size_t>(items_.Count()));
      for (CMTNV* member : items_.PublicOrder()) {
        RegistryEntry entry;
        const auto held = member->OwnLock().Lock();
        entry.name = UniqueBstr::Copy(member->NameBstr());
        com::ThrowIfFailed(VariantCopyInd(entry.value.AddressOf(), const_cast<VARIANT*>(&member->Value())));
        entries.push_back(std::move(entry));
      }
      return S_OK;
    });
  });
}
HRESULT CMTNVS::Traverse(void* pCallback, void* pPassThru, qxtrStyleFlags Style) {
  // The lock stays held while the callbacks run: they may call back into this collection on this
  // thread; other threads wait.
  return Locked(kView, L" CMTNVS::Traverse", [&] { return TraverseMembers(items_, pCallback, pPassThru, Style); });
}

HRESULT CMTNVS::Resolve(BSTR Name, VARIANT* pVal) {
  return Locked(kView, L" CMTNVS::Resolve", [&] { return ResolveMember(items_, Name, pVal); });
}

// The members' own Refresh and SlimFast call into their object values, which may be other
// collections with locks of their own: they run after this collection's lock is left, so that a
// thread never holds two collection locks, on the members counted while it was held.
template <class Visit>
HRESULT CMTNVS::PassToMembers(int kind, const wchar_t* methodTag, Visit&& visit) noexcept {
  // Once per request pass: a member's value may lead back to this collection.
  const RequestPass pass(static_cast<RequestPass::Kind>(kind), this);
  if (!pass.First()) return S_OK;
  std::vector<ComPtr<CMTNV>> members;
  const HRESULT hr = Locked(kView, methodTag, [&] {
    if (readOnly_) return E_ACCESSDENIED;
    members = ShrunkSnapshot(items_);
    return S_OK;
  });
  for (const auto& member : members) (void)visit(*member);
  return hr;
}

HRESULT CMTNVS::SlimFast(LONG Reserved) {
  return PassToMembers(RequestPass::kSlimFast, L" CMTNVS::SlimFast",
                       [&](CMTNV& member) { return member.SlimFast(Reserved); });
}

HRESULT CMTNVS::Refresh() {
  return PassToMembers(RequestPass::kRefresh, L" CMTNVS::Refresh", [](CMTNV& member) { return member.Refresh(); });
}

}  // namespace qx
