// What the tests share with qx_test_restorer.dll: its two restorer classes and its counts.
#pragma once

#include <windows.h>

namespace qx::test {

inline constexpr const wchar_t* kTestRestorerModule = L"qx_test_restorer.dll";
// {6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A41} and {6B1F4C2A-93D7-4E58-A1C6-0F2B7D3E9A42}
inline constexpr CLSID CLSID_TestRestorerA = {
    0x6B1F4C2A, 0x93D7, 0x4E58, {0xA1, 0xC6, 0x0F, 0x2B, 0x7D, 0x3E, 0x9A, 0x41}};
inline constexpr CLSID CLSID_TestRestorerB = {
    0x6B1F4C2A, 0x93D7, 0x4E58, {0xA1, 0xC6, 0x0F, 0x2B, 0x7D, 0x3E, 0x9A, 0x42}};

// Restorers built since the DLL was loaded, restorers alive, records alive.
using TestRestorerCountsFn = void(STDAPICALLTYPE*)(LONG* created, LONG* liveRestorers, LONG* liveRecords);

}  // namespace qx::test
