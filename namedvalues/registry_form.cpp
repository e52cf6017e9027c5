#include "namedvalues/registry_form.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "common/error_reporter.h"
#include "common/variant_text.h"

namespace qx {

using com::UniqueBstr;
using com::UniqueRegKey;
using com::UniqueVariant;

namespace {

constexpr unsigned kIncludeSubkeys = qxnvIncludeSubkeys;
constexpr unsigned kDoNotCreate = qxnvDoNotCreate;
constexpr unsigned kKeyMustNotExist = qxnvKeyMustNotExist;

constexpr HRESULT kUnknownRegTypeCode = LibraryCode(msg::kUnknownRegType);
constexpr HRESULT kUnsupportedRegTypeCode = LibraryCode(msg::kUnsupportedRegType);

// The root as the registry functions want it. The predefined keys are 32-bit values that the
// platform sign-extends into a handle; an ordinary open key handle passes through unchanged.
HKEY AsKey(qxnvRegistryKeyConstants root) {
  return reinterpret_cast<HKEY>(static_cast<LONG_PTR>(static_cast<LONG>(root)));
}

// The text of `text` (its full BSTR length) in the ANSI code page. Null gives the empty string.
std::string ToAnsi(const OLECHAR* text, UINT length) {
  if (!text || length == 0) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), result.data(), size, nullptr, nullptr);
  return result;
}
std::string ToAnsi(BSTR text) { return ToAnsi(text, SysStringLen(text)); }

// A BSTR from `length` ANSI bytes; never null (no bytes give the empty string).
UniqueBstr FromAnsi(const char* text, size_t length) {
  if (length == 0) return UniqueBstr::Copy(L"", 0);
  const int size = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  if (size <= 0) return UniqueBstr::Copy(L"", 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(length), wide.data(), size);
  return UniqueBstr::Copy(wide.data(), static_cast<UINT>(wide.size()));
}

// String data up to its first NUL (the terminator may be stored or not).
size_t StringLength(const char* data, DWORD size) {
  const void* nul = std::memchr(data, '\0', size);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - data) : size;
}

UniqueVariant TextValue(UniqueBstr text) {
  UniqueVariant value;
  V_VT(value.AddressOf()) = VT_BSTR;
  V_BSTR(value.AddressOf()) = text.Detach();
  return value;
}

UniqueVariant ErrorValue(HRESULT code) {
  UniqueVariant value;
  V_VT(value.AddressOf()) = VT_ERROR;
  V_ERROR(value.AddressOf()) = code;
  return value;
}

// REG_EXPAND_SZ data with its environment references replaced.
UniqueBstr ExpandedText(const char* data, size_t length) {
  if (length == 0) return UniqueBstr::Copy(L"", 0);
  const std::string source(data, length);
  DWORD size = ExpandEnvironmentStringsA(source.c_str(), nullptr, 0);
  if (size == 0) return FromAnsi(source.data(), source.size());
  std::string expanded(size, '\0');
  size = ExpandEnvironmentStringsA(source.c_str(), expanded.data(), size);
  return FromAnsi(expanded.data(), StringLength(expanded.data(), size));
}

// The member value for one registry value; an unsupported or unknown type gives a VT_ERROR
// value, describes itself on the thread and sets `failure`.
UniqueVariant ValueFromRegistry(DWORD type, const char* data, DWORD size, HRESULT& failure) {
  switch (type) {
    case REG_SZ:
      return TextValue(FromAnsi(data, StringLength(data, size)));
    case REG_EXPAND_SZ:
      return TextValue(ExpandedText(data, StringLength(data, size)));
    case REG_DWORD: {
      DWORD number = 0;
      std::memcpy(&number, data, size < sizeof number ? size : sizeof number);
      UniqueVariant value;
      V_VT(value.AddressOf()) = VT_I4;
      V_I4(value.AddressOf()) = static_cast<LONG>(number);
      return value;
    }
    case REG_NONE:
    case REG_BINARY:
    case REG_DWORD_BIG_ENDIAN:
    case REG_LINK:
    case REG_MULTI_SZ:
    case REG_RESOURCE_LIST:
      SetLibraryErrorNumber(msg::kUnsupportedRegType, static_cast<LONG>(type));
      failure = kUnsupportedRegTypeCode;
      return ErrorValue(kUnsupportedRegTypeCode);
    default:
      SetLibraryErrorNumber(msg::kUnknownRegType, static_cast<LONG>(type));
      failure = kUnknownRegTypeCode;
      return ErrorValue(kUnknownRegTypeCode);
  }
}

// A member's value in the form it is written: a DWORD or ANSI string data.
struct RegistryData {
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};
// Fails with the conversion's HRESULT when the value has no such form.
HRESULT DataFromValue(const VARIANT& original, RegistryData& out) {
  UniqueVariant value;
  HRESULT hr = VariantCopyInd(value.AddressOf(), const_cast<VARIANT*>(&original));
  if (FAILED(hr)) return hr;
  switch (value.Type()) {
    case VT_I2:
    case VT_R4:
    case VT_R8:
      hr = VariantChangeType(value.AddressOf(), value.AddressOf(), 0, VT_I4);
      if (FAILED(hr)) return hr;
      [[fallthrough]];
    case VT_I4:
    case VT_INT: {
      const DWORD number = static_cast<DWORD>(value.Type() == VT_INT ? V_INT(&value.Get()) : V_I4(&value.Get()));
      out.type = REG_DWORD;
      out.bytes.resize(sizeof number);
      std::memcpy(out.bytes.data(), &number, sizeof number);
      return S_OK;
    }
    case VT_BSTR:
      break;
    default: {
      UniqueVariant text;
      hr = VariantToText(value.Get(), text);
      if (FAILED(hr)) return hr;
      value = std::move(text);
      break;
    }
  }
  const std::string text = ToAnsi(V_BSTR(&value.Get()));
  out.type = REG_SZ;
  out.bytes.assign(text.begin(), text.end());
  out.bytes.push_back(0);
  return S_OK;
}

HRESULT OpenFailure(LONG status, BSTR subKey) {
  SetLibraryErrorWithSystemText(msg::kOpeningRegKey, static_cast<DWORD>(status), subKey);
  return LibraryCode(msg::kOpeningRegKey);
}

}  // namespace

HRESULT LoadRegistryKey(qxnvRegistryKeyConstants root, BSTR subKey, qxnvRegistryOptions options,
                        RegistryLoadTarget& target, const RegistryRules& rules, HRESULT& entryFailure) {
  entryFailure = S_OK;
  if (static_cast<unsigned>(options) > kIncludeSubkeys) return LibraryError(msg::kInvalidOptions);

  UniqueRegKey key;
  const std::string subKeyName = ToAnsi(subKey);
  LONG status = RegOpenKeyExA(AsKey(root), subKeyName.c_str(), 0, KEY_READ, key.Put());
  if (status != ERROR_SUCCESS) return OpenFailure(status, subKey);

  DWORD subkeyCount = 0, longestSubkey = 0, valueCount = 0, longestValueName = 0, longestData = 0;
  status = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeyCount, &longestSubkey, nullptr, &valueCount,
                            &longestValueName, &longestData, nullptr, nullptr);
  if (status != ERROR_SUCCESS) {
    return rules.queryFailsAsOpen ? OpenFailure(status, subKey) : ReportSystemError(HRESULT_FROM_WIN32(status));
  }

  // A failure is remembered (a later one replacing an earlier one) and the load goes on.
  const auto remember = [&](HRESULT hr) {
    if (FAILED(hr)) entryFailure = hr;
  };
  std::vector<char> nameBuffer(static_cast<size_t>(std::max(longestValueName, longestSubkey)) + 1);
  std::vector<BYTE> dataBuffer(static_cast<size_t>(longestData) + 1);

  for (DWORD index = valueCount; index-- > 0;) {
    DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
    DWORD dataSize = static_cast<DWORD>(dataBuffer.size());
    DWORD type = REG_NONE;
    status =
        RegEnumValueA(key.Get(), index, nameBuffer.data(), &nameLength, nullptr, &type, dataBuffer.data(), &dataSize);
    if (status != ERROR_SUCCESS) {
      remember(HRESULT_FROM_WIN32(status));
      continue;
    }
    HRESULT typeFailure = S_OK;
    UniqueVariant value =
        ValueFromRegistry(type, reinterpret_cast<const char*>(dataBuffer.data()), dataSize, typeFailure);
    remember(typeFailure);
    const UniqueBstr name = FromAnsi(nameBuffer.data(), nameLength);
    remember(target.AddLoaded(name.Get(), value.Get()));
  }

  if (static_cast<unsigned>(options) == kIncludeSubkeys) {
    for (DWORD index = subkeyCount; index-- > 0;) {
      DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
      status = RegEnumKeyExA(key.Get(), index, nameBuffer.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
      if (status != ERROR_SUCCESS) {
        remember(HRESULT_FROM_WIN32(status));
        continue;
      }
      const UniqueBstr name = FromAnsi(nameBuffer.data(), nameLength);
      UniqueVariant value;
      remember(target.LoadNested(key.Get(), name.Get(), value));
      remember(target.AddLoaded(name.Get(), value.Get()));
    }
  }
  return S_OK;
}

HRESULT DumpRegistryKey(qxnvRegistryKeyConstants root, BSTR subKey, qxnvRegistryOptions options,
                        const RegistryRules& rules, const std::function<HRESULT(std::vector<RegistryEntry>&)>& gather) {
  const unsigned flags = static_cast<unsigned>(options);
  const bool doNotCreate = (flags & kDoNotCreate) != 0;
  const bool mustNotExist = (flags & kKeyMustNotExist) != 0;
  if ((flags & ~(kDoNotCreate | kKeyMustNotExist)) != 0 || (doNotCreate && mustNotExist)) {
    return LibraryError(msg::kInvalidOptions);
  }

  UniqueRegKey key;
  const std::string subKeyName = ToAnsi(subKey);
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  LONG status;
  if (doNotCreate) {
    status = RegOpenKeyExA(AsKey(root), subKeyName.c_str(), 0, KEY_WRITE, key.Put());
  } else {
    char keyClass[] = "QXSDK";
    status = RegCreateKeyExA(AsKey(root), subKeyName.c_str(), 0, keyClass, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                             key.Put(), &disposition);
  }
  if (status != ERROR_SUCCESS) return OpenFailure(status, subKey);
  if (mustNotExist && disposition == REG_OPENED_EXISTING_KEY) return LibraryError(msg::kRegKeyExists, subKey);

  std::vector<RegistryEntry> entries;
  HRESULT failure = gather(entries);
  for (const RegistryEntry& entry : entries) {
    RegistryData data;
    const HRESULT converted = DataFromValue(entry.value.Get(), data);
    if (FAILED(converted)) {
      if (rules.keepConversionFailures) failure = converted;
      continue;
    }
    const std::string valueName = ToAnsi(entry.name.Get());
    RegSetValueExA(key.Get(), valueName.c_str(), 0, data.type, data.bytes.data(),
                   static_cast<DWORD>(data.bytes.size()));
  }
  return failure;
}

}  // namespace qx
