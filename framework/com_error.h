// The exception that carries a COM failure through C++ code to the method boundary.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "framework/owners.h"

namespace qx::com {

// A failure HRESULT with, optionally, the error object that describes it. Without one, the
// boundary leaves the thread's error object as the code that threw left it.
class ComError {
 public:
  explicit ComError(HRESULT hr, ComPtr<IErrorInfo> info = {}) noexcept : hr_(hr), info_(std::move(info)) {}
  HRESULT Code() const noexcept { return hr_; }
  IErrorInfo* Info() const noexcept { return info_.Get(); }

 private:
  HRESULT hr_;
  ComPtr<IErrorInfo> info_;
};

// Throws a ComError for a failure code; success passes.
inline void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) throw ComError(hr);
}

}  // namespace qx::com
