// The error reporter called directly, reading the string tables of the real QXSDKCommon.dll and of
// a stand-in sibling module.
#include <climits>
#include <functional>
#include <memory>
#include <string>

#include "common/error_reporter.h"
#include "test_support.h"

namespace qx::test {
namespace {

std::wstring SystemText(DWORD code) {
  UniqueBstr text;
  EXPECT_EQ(0u, FormatSystemMessage(code, text.Put(), 0)) << std::hex << code;
  return Text(text.Get());
}

constexpr DWORD kNoSystemText = 0xE0001234;  // a code the system's message tables do not know

// One report per row over the thread's error object (none, silent or described): kept, or ours with
// its description; the stand-in sibling QXSDK.dll is asked for what our table lacks while loaded.
TEST(ErrorReporter, ReportsKeepOrComposeTheThreadsObject) {
  SetMessageModule(LoadLibraryW(L"QXSDKCommon.dll"));  // stays loaded
  const wchar_t* const kSilent = L"<silent>";
  const std::wstring kKept = L"<kept>", kNone = L"<none>";
  const std::wstring notFound = SystemText(ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(!notFound.empty() && notFound.find_first_of(L"\r\n") == std::wstring::npos) << "line ends removed";
  std::wstring digits;  // the sibling holds 300 of them; 255 are read
  for (int i = 0; i < 255; ++i) digits += static_cast<wchar_t>(L'0' + i % 10);
  const struct {
    const char* label;
    const wchar_t* present;
    std::function<void()> report;
    std::wstring description;
  } rows[] = {
      {"system S_OK", L"Specific", [] { ReportSystemError(S_OK); }, kKept},
      {"reported S_FALSE, no object", nullptr, [] { ReportHResult(S_FALSE, L"x"); }, kNone},
      {"propagated success code", L"Specific", [] { PropagateHResult(static_cast<HRESULT>(0x00040400), L"x"); }, kKept},
      {"library error over a described one", L"Specific",
       [] { ReportLibraryError(msg::kNamedValues, L" CMTNVS::Refresh"); }, kKept},
      {"library error over a silent one", kSilent, [] { ReportLibraryError(msg::kNamedValues, L" CMTNVS::Refresh"); },
       L"NAMEDVALUES error CMTNVS::Refresh"},
      {"propagated code over a described one", L"Specific",
       [] { PropagateHResult(LibraryCode(msg::kNameNotFound), L"Name"); }, kKept},
      {"propagated library code, own text before the sibling's", nullptr,
       [] { PropagateHResult(LibraryCode(msg::kNameNotFound), L"Name"); }, L"Name not found in collection: Name"},
      {"reported well-known code", L"old", [] { ReportHResult(E_INVALIDARG, L"unused"); }, L""},
      {"system text of a success code", nullptr, [] { ReportSystemError(1); }, SystemText(1)},
      {"no system text", nullptr, [] { ReportSystemError(static_cast<HRESULT>(kNoSystemText)); },
       L" Error message formatting failed with [13d]"},
      {"number INT_MIN", nullptr, [] { SetLibraryErrorNumber(msg::kUnknownRegType, INT_MIN); },
       L"Registry data-type indicator was not recognized.-2147483648 (0x80000000)"},
      {"system text and suffix", nullptr,
       [] { SetLibraryErrorWithSystemText(msg::kOpeningRegKey, ERROR_FILE_NOT_FOUND, L"Software\\X"); },
       L"Error opening registry key. " + notFound + L"Software\\X"},
      {"no system text and suffix", nullptr,
       [] { SetLibraryErrorWithSystemText(msg::kOpeningRegKey, kNoSystemText, L"Software\\X"); },
       L"Error opening registry key. Software\\X"},
      {"the sibling's text", nullptr, [] { ReportHResult(static_cast<HRESULT>(0x8004A123), L" tag"); },
       L"Sibling message 0xA123. tag"},
      {"the sibling's long text", nullptr, [] { ReportHResult(static_cast<HRESULT>(0x8004A124)); }, digits},
      {"last of the MTNV codes, in no table", nullptr, [] { ReportHResult(static_cast<HRESULT>(0x8004301B)); },
       L"Failed to load resource ID = 0x301b"},
  };
  std::unique_ptr<HINSTANCE__, decltype(&FreeLibrary)> sibling(LoadLibraryW(L"QXSDK.dll"), &FreeLibrary);
  ASSERT_TRUE(sibling) << "the stand-in QXSDK.dll beside the test program";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    ClearErrorInfo();
    IErrorInfo* present = row.present ? PutThreadError(row.present == kSilent ? nullptr : row.present) : nullptr;
    row.report();
    const ErrorState error = PeekError();
    if (row.description == kKept) {
      EXPECT_TRUE(error.object == present && error.source == L"Elsewhere");
      continue;
    }
    ASSERT_EQ(row.description != kNone, error.present);
    if (!error.present) continue;
    EXPECT_NE(present, error.object);
    EXPECT_EQ(row.description, error.description);
    EXPECT_TRUE(error.source == L"QXSDK" && error.helpFile == L"qxsdk.chm" && error.helpContext == 0);
    EXPECT_NE(GUID_NULL, error.guid);
  }
  sibling.reset();
  EXPECT_EQ(L"Failed to load resource ID = 0xa123", Text(LoadMessageText(0xA123).Get()));
  ClearErrorInfo();
  // Codes just outside the library's ranges are not library codes.
  for (unsigned code : {0x800403FFu, 0x8004301Cu, 0x8004A0FFu, 0x8004B000u, 0x00040500u, 0xC0040500u})
    EXPECT_FALSE(IsLibraryCode(static_cast<HRESULT>(code))) << std::hex << code;
}

}  // namespace
}  // namespace qx::test
