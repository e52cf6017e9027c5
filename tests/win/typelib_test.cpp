// The type library the DLL embeds, as clients read it: every member decodes (a default that
// oleaut32 cannot read makes that fail, as widl's raw void* defaults do), and the help strings
// added after widl are there.
#include "test_support.h"

namespace qx::test {
namespace {

std::wstring TypeName(ITypeInfo* info) {
  UniqueBstr name;
  info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
  return Text(name.Get());
}

// The library embedded in the DLL beside the test program, loaded once.
ITypeLib* Library() {
  static ComPtr<ITypeLib> library = [] {
    wchar_t path[MAX_PATH] = {};
    std::wstring file(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    file = file.substr(0, file.find_last_of(L"\\/") + 1) + L"QXSDKCommon.dll";
    ComPtr<ITypeLib> loaded;
    EXPECT_EQ(S_OK, LoadTypeLibEx(file.c_str(), REGKIND_NONE, loaded.Put()));
    return loaded;
  }();
  return library.Get();
}

TEST(TypeLibrary, EveryMemberOfEveryTypeDecodes) {
  ASSERT_TRUE(Library());
  ASSERT_EQ(40u, Library()->GetTypeInfoCount());  // 34 classes and interfaces, six enumerations
  for (UINT i = 0; i < Library()->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, Library()->GetTypeInfo(i, info.Put()));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    for (UINT f = 0; f < attr->cFuncs; ++f) {
      FUNCDESC* fd = nullptr;  // a default oleaut32 cannot decode makes this fail
      EXPECT_EQ(S_OK, info->GetFuncDesc(f, &fd)) << testing::PrintToString(TypeName(info.Get())) << " " << f;
      if (fd) info->ReleaseFuncDesc(fd);
    }
    if (attr->typekind == TKIND_ENUM && TypeName(info.Get()) == L"cmeErrorConstants") {
      for (UINT v = 0; v < attr->cVars; ++v) {
        VARDESC* vd = nullptr;
        ASSERT_EQ(S_OK, info->GetVarDesc(v, &vd));
        UniqueBstr help;
        info->GetDocumentation(vd->memid, nullptr, help.Put(), nullptr, nullptr);
        info->ReleaseVarDesc(vd);
        EXPECT_FALSE(Text(help.Get()).empty()) << "error constant " << v << " has no help string";
      }
    }
    info->ReleaseTypeAttr(attr);
  }
}

}  // namespace
}  // namespace qx::test
