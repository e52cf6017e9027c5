#include "namedvalues/named_value.h"

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

CNamedValue::CNamedValue(CNamedValues* parent, UniqueBstr name, const VARIANT& value)
    : name_(std::move(name)), parent_(parent) {
  com::ThrowIfFailed(VariantCopyInd(value_.AddressOf(), const_cast<VARIANT*>(&value)));
}

CNamedValue::CNamedValue(CNamedValues* parent, UniqueBstr name, UniqueVariant value) noexcept
    : name_(std::move(name)), value_(std::move(value)), parent_(parent) {}

CNamedValue::~CNamedValue() = default;

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
    name_.CopyTo(pVal);
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
      name_ = UniqueBstr::Copy(NewName);
      return S_OK;
    }
    // The collection replaces this member's name: hand it a copy, not the name it frees.
    const UniqueBstr current = UniqueBstr::Copy(name_.Get());
    return parent_->Rename(current.Get(), NewName);
  });
}

HRESULT CNamedValue::Detach() {
  return ComBoundary(kDescribeWhereFound, L" CNamedValue::Detach", [&] {
    if (!parent_) return S_OK;
    const UniqueBstr current = UniqueBstr::Copy(name_.Get());
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
