#include "common/error_reporter.h"

#include <cstdio>
#include <string>

namespace qx {
namespace {

using com::ComPtr;
using com::UniqueBstr;

// One GUID for every error object the module builds.
constexpr GUID kErrorGuid = {0x08dd1069, 0xef4d, 0x43e5, {0xb6, 0xbe, 0xb6, 0x46, 0xdb, 0x1a, 0x7b, 0xc8}};

// Sibling SDK modules whose string tables are searched after the module's own, in this order.
// Only modules already loaded in the process are consulted; none is loaded for the purpose.
constexpr const wchar_t* kMessageModules[] = {L"QXSDK.dll", L"QXSDKParse.dll", L"QXSDKCommon.dll", L"QXSDKRegistry.dll",
                                              L"QXTimeServer.dll"};
constexpr int kSiblingBufferChars = 256;

HINSTANCE g_messageModule = nullptr;

void Install(ComPtr<IErrorInfo> info) noexcept {
  if (info) SetErrorInfo(0, info.Get());
}

// The thread's error object, taken off the thread.
ComPtr<IErrorInfo> TakeErrorInfo() noexcept {
  ComPtr<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) != S_OK) info.Reset();
  return info;
}

// Reads entry `id` of the module's own string table with its exact length (entries carry a
// length and no terminator). Empty when the entry is missing or of length 0.
std::wstring OwnString(UINT id) {
  if (!g_messageModule) return {};
  const wchar_t* text = nullptr;
  const int length = LoadStringW(g_messageModule, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return {};
  return std::wstring(text, static_cast<size_t>(length));
}

std::wstring SiblingString(UINT id) {
  for (const wchar_t* name : kMessageModules) {
    HMODULE module = GetModuleHandleW(name);
    if (!module) continue;
    wchar_t buffer[kSiblingBufferChars];
    const int length = LoadStringW(module, id, buffer, kSiblingBufferChars);
    if (length > 0) return std::wstring(buffer, static_cast<size_t>(length));
  }
  return {};
}

std::wstring MessageText(UINT id) {
  std::wstring text = OwnString(id);
  if (text.empty()) text = SiblingString(id);
  if (text.empty()) {
    wchar_t fallback[64];
    swprintf(fallback, 64, L"Failed to load resource ID = 0x%x", id);
    text = fallback;
  }
  return text;
}

std::wstring Concat(const wchar_t* text, const wchar_t* suffix) {
  std::wstring result = text ? text : L"";
  if (suffix) result += suffix;
  return result;
}

void InstallLibraryError(UINT id, const wchar_t* suffix) {
  const std::wstring text = MessageText(id);
  Install(BuildErrorInfo(text.c_str(), suffix));
}

}  // namespace

bool IsLibraryCode(HRESULT hr) noexcept {
  const auto code = static_cast<unsigned long>(hr);
  return (code >= 0x80040400ul && code <= 0x8004301Bul) || (code >= 0x8004A100ul && code <= 0x8004AFFFul);
}

void SetMessageModule(HINSTANCE module) noexcept { g_messageModule = module; }

void ClearErrorInfo() noexcept { TakeErrorInfo(); }

UniqueBstr LoadMessageText(UINT id) noexcept {
  try {
    const std::wstring text = MessageText(id);
    return UniqueBstr::Copy(text.data(), static_cast<UINT>(text.size()));
  } catch (...) {
    return {};
  }
}

DWORD FormatSystemMessage(DWORD code, BSTR* text, DWORD languageId) noexcept {
  if (!text) return static_cast<DWORD>(E_POINTER);
  wchar_t* buffer = nullptr;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
  const DWORD length = FormatMessageW(flags, nullptr, code, languageId, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  if (length == 0) return GetLastError();
  // Trailing line ends go; the first character is never examined.
  for (DWORD i = length - 1; i > 0 && (buffer[i] == L'\r' || buffer[i] == L'\n'); --i) buffer[i] = L'\0';
  *text = SysAllocString(buffer);
  LocalFree(buffer);
  return *text ? 0 : static_cast<DWORD>(E_OUTOFMEMORY);
}

ComPtr<IErrorInfo> BuildErrorInfo(const wchar_t* text, const wchar_t* suffix) noexcept {
  try {
    const std::wstring description = Concat(text, suffix);
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.Put()))) return {};
    if (!description.empty()) create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    create->SetSource(const_cast<LPOLESTR>(kErrorSource));
    create->SetGUID(kErrorGuid);
    create->SetHelpFile(const_cast<LPOLESTR>(kErrorHelpFile));
    return create.TryQuery<IErrorInfo>();
  } catch (...) {
    return {};
  }
}

void SetErrorText(const wchar_t* text, const wchar_t* suffix) noexcept { Install(BuildErrorInfo(text, suffix)); }

void SetLibraryError(UINT id, const wchar_t* suffix) noexcept {
  try {
    InstallLibraryError(id, suffix);
  } catch (...) {
  }
}

void SetLibraryErrorNumber(UINT id, LONG number) noexcept {
  wchar_t suffix[48];
  swprintf(suffix, 48, L"%d (%#x)", static_cast<int>(number), static_cast<unsigned>(number));
  SetLibraryError(id, suffix);
}

void SetLibraryErrorWithSystemText(UINT id, DWORD code, const wchar_t* suffix) noexcept {
  try {
    UniqueBstr system;
    FormatSystemMessage(code, system.Put(), 0);
    SetLibraryError(id, Concat(system.Get(), suffix).c_str());
  } catch (...) {
  }
}

void ReportLibraryError(UINT id, const wchar_t* methodTag) noexcept {
  ComPtr<IErrorInfo> present = TakeErrorInfo();
  if (present) {
    UniqueBstr description;
    if (SUCCEEDED(present->GetDescription(description.Put())) && SysStringByteLen(description.Get()) > 0) {
      SetErrorInfo(0, present.Get());
      return;
    }
  }
  SetLibraryError(id, methodTag);
}

HRESULT ReportSystemError(HRESULT hr) noexcept {
  switch (static_cast<unsigned long>(hr)) {
    case 0:
      return hr;
    case 0x80004001ul:  // E_NOTIMPL
    case 0x80004002ul:  // E_NOINTERFACE
    case 0x80004003ul:  // E_POINTER
    case 0x80004005ul:  // E_FAIL
    case 0x80020004ul:  // DISP_E_PARAMNOTFOUND
    case 0x80020005ul:  // DISP_E_TYPEMISMATCH
    case 0x8002000Aul:  // DISP_E_OVERFLOW
    case 0x80070005ul:  // E_ACCESSDENIED
    case 0x8007000Eul:  // E_OUTOFMEMORY
    case 0x80070057ul:  // E_INVALIDARG
      // Well-known codes: the caller's own message (or the client's) describes them.
      Install(BuildErrorInfo(L"", L""));
      return hr;
    default:
      break;
  }
  UniqueBstr text;
  const DWORD failure = FormatSystemMessage(static_cast<DWORD>(hr), text.Put(), 0);
  if (failure != 0) {
    wchar_t note[64];
    swprintf(note, 64, L" Error message formatting failed with [%x]", static_cast<unsigned>(failure));
    Install(BuildErrorInfo(note, L""));
  } else {
    Install(BuildErrorInfo(text.Get(), L""));
  }
  return hr;
}

HRESULT ReportHResult(HRESULT hr, const wchar_t* suffix) noexcept {
  if (SUCCEEDED(hr)) return hr;
  if (IsLibraryCode(hr)) {
    SetLibraryError(static_cast<UINT>(hr) & 0xFFFFu, suffix);
    return hr;
  }
  return ReportSystemError(hr);
}

HRESULT PropagateHResult(HRESULT hr, const wchar_t* suffix) noexcept {
  if (SUCCEEDED(hr)) return hr;
  if (ComPtr<IErrorInfo> present = TakeErrorInfo()) {
    SetErrorInfo(0, present.Get());
    return hr;
  }
  return ReportHResult(hr, suffix);
}

}  // namespace qx
