#include "namedvalues/named_value.h"

#include <cstring>
#include <limits>

#include "common/error_reporter.h"
#include "common/request_pass.h"
#include "framework/boundary.h"
#include "namedvalues/member_value.h"
#include "namedvalues/named_values.h"

namespace qx {

using com::ComBoundary;
using com::kDescribeWhereFound;
using com::UniqueBstr;
using com::UniqueVariant;

namespace {

// The bytes a name takes after the member: the BSTR layout of a 32-bit byte count, the text and
// a NUL.
size_t NameRoom(NameRef name) {
  return name.IsNull() ? 0 : sizeof(std::uint32_t) + (name.length + size_t{1}) * sizeof(OLECHAR);
}

}  // namespace

com::ComPtr<CNamedValue> CNamedValue::Make(CNamedValues* parent, NameRef name, const VARIANT& value) {
  UniqueVariant copy;
  com::ThrowIfFailed(VariantCopyInd(copy.AddressOf(), const_cast<VARIANT*>(&value)));
  return Make(parent, name, std::move(copy));
}

com::ComPtr<CNamedValue> CNamedValue::Make(CNamedValues* parent, NameRef name, UniqueVariant value) {
  if (name.length > (std::numeric_limits<std::uint32_t>::max() - sizeof(std::uint32_t)) / sizeof(OLECHAR) - 1) {
    throw std::bad_alloc();
  }
  return com::MakeComWithRoom<CNamedValue>(com::TrailingRoom{NameRoom(name)}, parent, name, std::move(value));
}

CNamedValue::CNamedValue(CNamedValues* parent, NameRef name, UniqueVariant value) noexcept
    : value_(std::move(value)), parent_(parent) {
  if (name.IsNull()) return;
  auto* room = reinterpret_cast<unsigned char*>(this + 1);
  const std::uint32_t bytes = name.length * static_cast<std::uint32_t>(sizeof(OLECHAR));
  std::memcpy(room, &bytes, sizeof bytes);
  name_ = reinterpret_cast<BSTR>(room + sizeof bytes);
  std::memcpy(name_, name.data, bytes);
  name_[name.length] = L'\0';
}

CNamedValue::~CNamedValue() {
  if (ownsName_) SysFreeString(name_);
}

void CNamedValue::SetName(UniqueBstr name) noexcept {
  if (ownsName_) SysFreeString(name_);
  ownsName_ = !name.IsNull();
  name_ = name.Detach();
}

HRESULT CNamedValue::AssignValue(const VARIANT& value) noexcept {
  UniqueVariant copy;
  const HRESULT hr = VariantCopyInd(copy.AddressOf(), const_cast<VARIANT*>(&value));
  if (FAILED(hr)) return ReportHResult(hr);
  value_ = std::move(copy);
  return S_OK;
}

HRESULT CNamedValue::get_Name(BSTR* pVal) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValue::get_Name", [&] {
    if (!pVal) return ReportSystemError(E_POINTER);
    *pVal = UniqueBstr::Copy(name_).Detach();
    return S_OK;
  });
}

HRESULT CNamedValue::get_Value(VARIANT* pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  HRESULT hr = VariantClear(pVal);
  if (FAILED(hr)) return PropagateHResult(hr);
  hr = value_.CopyTo(pVal);
  return FAILED(hr) ? ReportHResult(hr) : S_OK;
}

HRESULT CNamedValue::put_Value(VARIANT newVal) {
  if (parent_ && parent_->IsReadOnly()) return ReportSystemError(E_ACCESSDENIED);
  return AssignValue(newVal);
}

HRESULT CNamedValue::get_Parent(_NamedValues** pVal) {
  if (!pVal) return ReportSystemError(E_POINTER);
  *pVal = parent_;
  if (parent_) parent_->AddRef();
  return S_OK;
}

HRESULT CNamedValue::Rename(BSTR NewName) {
  return ComBoundary(kDescribeWhereFound, L" CNamedValue::Rename", [&] {
    if (!parent_) {
      SetName(UniqueBstr::Copy(NewName));
      return S_OK;
    }
    // The collection replaces this member's name: hand it a copy, not the name it frees.
    const UniqueBstr current = UniqueBstr::Copy(name_);
    return parent_->Rename(current.Get(), NewName);
  });
}

HRESULT CNamedValue::Detach() {
  return ComBoundary(kDescribeWhereFound, L" CNamedValue::Detach", [&] {
    if (!parent_) return S_OK;
    const UniqueBstr current = UniqueBstr::Copy(name_);
    return parent_->Remove(current.Get());
  });
}

// Each forwards once per request pass: a value may lead back to this member (a member whose
// value is itself, or a collection that holds it).
HRESULT CNamedValue::SlimFast(LONG Reserved) {
  const RequestPass pass(RequestPass::kSlimFast, this);
  if (!pass.First()) return S_OK;
  if (auto target = ValueObject<ISlimFast>(value_.Get())) target->SlimFast(Reserved);
  return S_OK;
}

HRESULT CNamedValue::Refresh() {
  const RequestPass pass(RequestPass::kRefresh, this);
  if (!pass.First()) return S_OK;
  if (auto target = ValueObject<IRefresh>(value_.Get())) target->Refresh();
  return S_OK;
}

}  // namespace qx
