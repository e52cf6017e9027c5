// The method boundary: the one piece of code that runs an interface method's body, keeps every
// exception inside the DLL, and applies the class's error-object convention.
//
//   HRESULT CThing::Frob(BSTR name) {
//     return ComBoundary(kThingConvention, L" CThing::Frob", [&] { ...; return S_OK; });
//   }
#pragma once

#include <windows.h>

#include <new>

#include "common/error_reporter.h"
#include "framework/com_error.h"

namespace qx::com {

// Which steps of the boundary a class takes.
struct MethodConvention {
  bool clearOnEntry = false;  // discard a leftover error object before the body runs
  bool reportOnExit = false;  // on failure, describe it with the class message + method tag
  UINT classMessageId = 0;    // that class message
};

// Each failure is described once where it is found; nothing is cleared or added at the edges.
inline constexpr MethodConvention kDescribeWhereFound{};
// Clear on entry, close with the class-level message and the method tag.
constexpr MethodConvention FullConvention(UINT classMessageId) { return {true, true, classMessageId}; }
// Clear on entry, no closing report.
inline constexpr MethodConvention kClearOnEntry{true, false, 0};

// Runs `body` (returning an HRESULT) under `convention`. A ComError gives its code and installs
// its error object if it carries one; exhausted memory gives E_OUTOFMEMORY; anything else
// E_FAIL. Without a closing report, those two are described by the system error text.
template <class Body>
[[nodiscard]] HRESULT ComBoundary(const MethodConvention& convention, const wchar_t* methodTag, Body&& body) noexcept {
  if (convention.clearOnEntry) ClearErrorInfo();
  HRESULT hr;
  try {
    hr = body();
  } catch (const ComError& e) {
    if (e.Info()) SetErrorInfo(0, e.Info());
    hr = e.Code();
  } catch (const std::bad_alloc&) {
    hr = convention.reportOnExit ? E_OUTOFMEMORY : ReportSystemError(E_OUTOFMEMORY);
  } catch (...) {
    hr = convention.reportOnExit ? E_FAIL : ReportSystemError(E_FAIL);
  }
  if (FAILED(hr) && convention.reportOnExit) ReportLibraryError(convention.classMessageId, methodTag);
  return hr;
}

}  // namespace qx::com
