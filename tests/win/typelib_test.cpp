// The embedded type library: every member decodes (widl's raw void* defaults would not), and the
// error constants carry the help strings added after widl.
#include "test_support.h"

namespace qx::test {
namespace {

TEST(TypeLibrary, EveryMemberOfEveryTypeDecodes) {
  wchar_t file[MAX_PATH] = {};
  GetModuleFileNameW(LoadLibraryW(L"QXSDKCommon.dll"), file, MAX_PATH);  // beside the test program
  ComPtr<ITypeLib> library;
  ASSERT_EQ(S_OK, LoadTypeLibEx(file, REGKIND_NONE, library.Put()));
  for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library->GetTypeInfo(i, info.Put()));
    UniqueBstr name;
    info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    for (UINT f = 0; f < attr->cFuncs; ++f) {
      FUNCDESC* fd = nullptr;
      EXPECT_EQ(S_OK, info->GetFuncDesc(f, &fd)) << testing::PrintToString(Text(name.Get())) << " " << f;
      if (fd) info->ReleaseFuncDesc(fd);
    }
    for (UINT v = 0; Text(name.Get()) == L"cmeErrorConstants" && v < attr->cVars; ++v) {
      VARDESC* vd = nullptr;
      ASSERT_EQ(S_OK, info->GetVarDesc(v, &vd));
      UniqueBstr help;
      info->GetDocumentation(vd->memid, nullptr, help.Put(), nullptr, nullptr);
      info->ReleaseVarDesc(vd);
      EXPECT_FALSE(Text(help.Get()).empty()) << "error constant " << v << " has no help string";
    }
    info->ReleaseTypeAttr(attr);
  }
}

}  // namespace
}  // namespace qx::test
