// The error reporter: the one place that builds the COM error objects the library leaves on the
// calling thread. Every failing interface method returns an HRESULT and, through these
// functions, an error object whose Source is "QXSDK" and whose description comes from the
// module's string table.
//
// Library failure codes are 0x8004xxxx whose low word is the string-table ID of the message.
// None of these functions changes the HRESULT a method returns; they only set, keep or replace
// the thread's error object, and none of them throws.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include "framework/owners.h"

namespace qx {

inline constexpr const wchar_t* kErrorSource = L"QXSDK";
inline constexpr const wchar_t* kErrorHelpFile = L"qxsdk.chm";

// The HRESULT of a library message: facility ITF, low word = the message ID.
constexpr HRESULT LibraryCode(UINT messageId) { return static_cast<HRESULT>(0x80040000u | (messageId & 0xFFFFu)); }

// Message IDs of the string table that the code refers to by name.
namespace msg {
inline constexpr UINT kProjectName = 100;
inline constexpr UINT kStyleWithValues = 1056;
inline constexpr UINT kDuplicateName = 1057;
inline constexpr UINT kNameNotFound = 1058;
inline constexpr UINT kItemNumberRange = 1059;
inline constexpr UINT kUnknownRegType = 1153;
inline constexpr UINT kUnsupportedRegType = 1154;
inline constexpr UINT kInvalidOptions = 1185;
inline constexpr UINT kOpeningRegKey = 1186;
inline constexpr UINT kRegKeyExists = 1187;
inline constexpr UINT kEmptyString = 1199;
inline constexpr UINT kNotOrphan = 1495;
inline constexpr UINT kQXErrorsCreate = 1509;
inline constexpr UINT kRestoreServers = 1510;
inline constexpr UINT kRestoreObject = 1511;
inline constexpr UINT kGetServers = 1546;
inline constexpr UINT kAllocString = 1560;
inline constexpr UINT kAllocSafeArray = 1561;
inline constexpr UINT kAllocEnumVariant = 1568;
inline constexpr UINT kAllocVariant = 1569;
inline constexpr UINT kAsynchInProgress = 1894;
inline constexpr UINT kAsynchTimeout = 1915;
inline constexpr UINT kEventCreate = 1945;
inline constexpr UINT kObjectNotAllowed = 1946;
inline constexpr UINT kAsynchComplete = 1948;
inline constexpr UINT kAsynchNotInProgress = 1949;
inline constexpr UINT kNamedValues = 1983;
inline constexpr UINT kCreateMTNVS = 12298;
inline constexpr UINT kMTNVS = 12303;
inline constexpr UINT kMTNV = 12312;
inline constexpr UINT kMTNVSLockWait = 12313;
inline constexpr UINT kMTNVParentLock = 12314;
}  // namespace msg

// True for failure codes that belong to the SDK's own message ranges.
bool IsLibraryCode(HRESULT hr) noexcept;

// The module whose string table holds the library's messages (set once at load).
void SetMessageModule(HINSTANCE module) noexcept;

// Discards the thread's error object.
void ClearErrorInfo() noexcept;

// The text of message `id`: the module's own string table, then the sibling modules that are
// already loaded, then "Failed to load resource ID = 0x<id>". Empty BSTR only if memory ran out.
com::UniqueBstr LoadMessageText(UINT id) noexcept;

// The system's text for a Win32 code or HRESULT, trailing line ends removed. Returns 0, the
// Win32 error of the failed lookup, or E_POINTER for a missing out-argument.
DWORD FormatSystemMessage(DWORD code, BSTR* text, DWORD languageId) noexcept;

// A new error object: description = text + suffix (left unset when empty), Source "QXSDK",
// HelpFile "qxsdk.chm", the module's error GUID. Empty when the platform refuses.
com::ComPtr<IErrorInfo> BuildErrorInfo(const wchar_t* text, const wchar_t* suffix) noexcept;

void SetErrorText(const wchar_t* text, const wchar_t* suffix) noexcept;
void SetLibraryError(UINT id, const wchar_t* suffix = nullptr) noexcept;
void SetLibraryErrorNumber(UINT id, LONG number) noexcept;
void SetLibraryErrorWithSystemText(UINT id, DWORD code, const wchar_t* suffix = nullptr) noexcept;

// Closing report of a method: keeps a present error object that says something, else installs
// the class-level message followed by the method tag.
void ReportLibraryError(UINT id, const wchar_t* methodTag) noexcept;

// The following return the code they are given, so that `return ReportSystemError(E_POINTER);`
// reads as what it does.
HRESULT ReportSystemError(HRESULT hr) noexcept;
HRESULT ReportHResult(HRESULT hr, const wchar_t* suffix = nullptr) noexcept;
HRESULT PropagateHResult(HRESULT hr, const wchar_t* suffix = nullptr) noexcept;

// SetLibraryError plus the matching code, for `return LibraryError(msg::kNameNotFound, name);`.
inline HRESULT LibraryError(UINT id, const wchar_t* suffix = nullptr) noexcept {
  SetLibraryError(id, suffix);
  return LibraryCode(id);
}

}  // namespace qx
