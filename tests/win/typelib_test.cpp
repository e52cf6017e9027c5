// The type library as clients read it, where a slip would pass the compiler: every member
// decodes, the DLL embeds the finished library (void* defaults and help strings filled in after
// widl), and the slots, dispatch identifiers and defaults that late and early binding depend on.
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

// The virtual-table view of a type: for a dual interface its interface half.
ComPtr<ITypeInfo> Vtable(const GUID& guid) {
  ComPtr<ITypeInfo> info, half;
  EXPECT_EQ(S_OK, Library()->GetTypeInfoOfGuid(guid, info.Put()));
  HREFTYPE ref = 0;
  if (info && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
      SUCCEEDED(info->GetRefTypeInfo(ref, half.Put()))) {
    return half;
  }
  return info;
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

constexpr MEMBERID kAnyId = MEMBERID_NIL;  // for interfaces that are not dispatched

TEST(TypeLibrary, SlotsIdentifiersAndDefaults) {
  const struct {
    const GUID* type;
    const wchar_t* name;
    INVOKEKIND kind;
    MEMBERID memid;
    int slot;            // in the virtual table, counting IUnknown's and IDispatch's
    int param = -1;      // a parameter whose default is checked, or -1
    LONG defaultValue = 0;
  } rows[] = {
      {&__uuidof(_NamedValues), L"_NewEnum", INVOKE_PROPERTYGET, DISPID_NEWENUM, 7},
      {&__uuidof(_NamedValues), L"Item", INVOKE_PROPERTYGET, 0, 8},
      {&__uuidof(_NamedValues), L"Copy", INVOKE_FUNC, 3, 11, 1, VARIANT_TRUE},
      {&__uuidof(_NamedValues), L"LoadFromRegistry", INVOKE_FUNC, 14, 19, 2, 0},
      {&__uuidof(_NamedValues), L"Sorted", INVOKE_PROPERTYPUT, 17, 24},
      {&__uuidof(INamedValues2), L"Rename", INVOKE_FUNC, 100, 25},
      {&__uuidof(INamedValues2), L"Insert", INVOKE_FUNC, 104, 29},
      {&__uuidof(_QXErrors), L"Count", INVOKE_PROPERTYGET, 2, 9},
      {&__uuidof(_QXErrors), L"AddErrorInfo", INVOKE_FUNC, 7, 11},
      {&__uuidof(_QXErrors), L"SetSize", INVOKE_FUNC, 6, 14},
      {&__uuidof(IQXAsynchStatus3), L"Timeout", INVOKE_PROPERTYPUT, 101, 17},
      {&__uuidof(IQXAsynchStatus3), L"Timeout", INVOKE_PROPERTYGET, 101, 18},
      {&__uuidof(ITraverse), L"Traverse", INVOKE_FUNC, kAnyId, 3, 1, 0},
      {&__uuidof(IRefresh2), L"RefreshToDepth", INVOKE_FUNC, kAnyId, 4},
      {&__uuidof(_QXGlobalRestorer), L"RestoreServers", INVOKE_FUNC, 2, 8, 2, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(row.name)));
    ComPtr<ITypeInfo> info = Vtable(*row.type);
    ASSERT_TRUE(info);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    bool found = false;
    for (UINT f = 0; f < count && !found; ++f) {
      FUNCDESC* fd = nullptr;
      ASSERT_EQ(S_OK, info->GetFuncDesc(f, &fd));
      UniqueBstr name;
      UINT got = 0;
      info->GetNames(fd->memid, name.Put(), 1, &got);
      if (Text(name.Get()) == row.name && fd->invkind == row.kind) {
        found = true;
        if (row.memid != kAnyId) {
          EXPECT_EQ(row.memid, fd->memid);
        }
        EXPECT_EQ(row.slot * static_cast<int>(sizeof(void*)), fd->oVft);
        if (row.param >= 0) {
          const PARAMDESC& p = fd->lprgelemdescParam[row.param].paramdesc;
          ASSERT_TRUE(p.wParamFlags & PARAMFLAG_FHASDEFAULT);
          UniqueVariant value;
          EXPECT_EQ(S_OK, VariantChangeType(value.Put(), &p.pparamdescex->varDefaultValue, 0, VT_I4));
          EXPECT_EQ(row.defaultValue, static_cast<SHORT>(V_I4(&value.Get())));
        }
      }
      info->ReleaseFuncDesc(fd);
    }
    EXPECT_TRUE(found);
  }
  // No member of the error collection answers to DISPID 1.
  ComPtr<ITypeInfo> errors;
  ASSERT_EQ(S_OK, Library()->GetTypeInfoOfGuid(__uuidof(_QXErrors), errors.Put()));
  UINT index = 0;
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, errors.TryQuery<ITypeInfo2>()->GetFuncIndexOfMemId(1, INVOKE_PROPERTYGET, &index));
}

}  // namespace
}  // namespace qx::test
