// The type library as clients read it: QXSDKCommon.tlb beside the test program (the file that
// the DLL embeds), read through oleaut32. The checks restate the automation contract where a
// slip in the IDL would go unnoticed by the compiler: member order, dispatch identifiers,
// defaults, flags, enumeration values and the library's attributes.
#include "test_support.h"

#include <vector>

namespace qx::test {
namespace {

struct Param {
  std::wstring name;
  USHORT flags = 0;
  VARTYPE vt = VT_EMPTY;       // of the parameter itself
  VARTYPE pointee = VT_EMPTY;  // for VT_PTR
  std::wstring userType;       // name of the VT_USERDEFINED type, directly or behind the pointer
  UniqueVariant defaultValue;  // VT_EMPTY when the parameter has none
};

struct Member {
  std::wstring name;
  MEMBERID memid = 0;
  INVOKEKIND invkind = INVOKE_FUNC;
  FUNCKIND funckind = FUNC_PUREVIRTUAL;
  SHORT oVft = 0;
  WORD flags = 0;
  std::wstring help;
  std::vector<Param> params;
};

std::wstring TypeName(ITypeInfo* info) {
  UniqueBstr name;
  info->GetDocumentation(MEMBERID_NIL, name.Put(), nullptr, nullptr, nullptr);
  return Text(name.Get());
}

std::wstring UserTypeName(ITypeInfo* owner, HREFTYPE ref) {
  ComPtr<ITypeInfo> type;
  return SUCCEEDED(owner->GetRefTypeInfo(ref, type.Put())) ? TypeName(type.Get()) : L"?";
}

TYPEATTR Attributes(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  EXPECT_EQ(S_OK, info->GetTypeAttr(&attr));
  TYPEATTR copy{};
  if (attr) copy = *attr;
  if (attr) info->ReleaseTypeAttr(attr);
  return copy;
}

// Every function of a type info, as plain values. Fails the test for any unreadable member.
std::vector<Member> Members(ITypeInfo* info) {
  std::vector<Member> members;
  const TYPEATTR attr = Attributes(info);
  for (UINT f = 0; f < attr.cFuncs; ++f) {
    FUNCDESC* fd = nullptr;
    const HRESULT hr = info->GetFuncDesc(f, &fd);
    EXPECT_EQ(S_OK, hr) << "GetFuncDesc(" << f << ") of " << testing::PrintToString(TypeName(info));
    if (FAILED(hr)) continue;
    Member m;
    m.memid = fd->memid;
    m.invkind = fd->invkind;
    m.funckind = fd->funckind;
    m.oVft = fd->oVft;
    m.flags = fd->wFuncFlags;
    std::vector<BSTR> names(fd->cParams + 1u, nullptr);
    UINT count = 0;
    EXPECT_EQ(S_OK, info->GetNames(fd->memid, names.data(), static_cast<UINT>(names.size()), &count));
    m.name = Text(names[0]);
    UniqueBstr help;
    info->GetDocumentation(fd->memid, nullptr, help.Put(), nullptr, nullptr);
    m.help = Text(help.Get());
    for (SHORT p = 0; p < fd->cParams; ++p) {
      const ELEMDESC& e = fd->lprgelemdescParam[p];
      Param param;
      param.name = p + 1u < count ? Text(names[p + 1]) : L"";
      param.flags = e.paramdesc.wParamFlags;
      param.vt = e.tdesc.vt;
      const TYPEDESC& target = e.tdesc.vt == VT_PTR ? *e.tdesc.lptdesc : e.tdesc;
      if (e.tdesc.vt == VT_PTR) param.pointee = target.vt;
      if (target.vt == VT_USERDEFINED) param.userType = UserTypeName(info, target.hreftype);
      if (param.flags & PARAMFLAG_FHASDEFAULT) {
        EXPECT_EQ(S_OK, VariantCopy(param.defaultValue.Put(), &e.paramdesc.pparamdescex->varDefaultValue));
      }
      m.params.push_back(std::move(param));
    }
    for (BSTR b : names) SysFreeString(b);
    info->ReleaseFuncDesc(fd);
    members.push_back(std::move(m));
  }
  return members;
}

LONG AsLong(const VARIANT& v) {
  UniqueVariant converted;
  EXPECT_EQ(S_OK, VariantChangeType(converted.Put(), const_cast<VARIANT*>(&v), 0, VT_I4));
  return V_I4(converted.AddressOf());
}

class TypeLibraryTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring file(path);
    file = file.substr(0, file.find_last_of(L"\\/") + 1) + L"QXSDKCommon.tlb";
    library_ = new ComPtr<ITypeLib>;
    loadResult_ = LoadTypeLibEx(file.c_str(), REGKIND_NONE, library_->Put());
  }
  static void TearDownTestSuite() {
    delete library_;
    library_ = nullptr;
  }
  void SetUp() override { ASSERT_EQ(S_OK, loadResult_) << "QXSDKCommon.tlb beside the test program"; }

  static ITypeLib* Library() { return library_->Get(); }

  // The type info of that name; for a dual interface the dispatch half.
  static ComPtr<ITypeInfo> Type(const std::wstring& name) {
    for (UINT i = 0; i < Library()->GetTypeInfoCount(); ++i) {
      ComPtr<ITypeInfo> info;
      if (SUCCEEDED(Library()->GetTypeInfo(i, info.Put())) && TypeName(info.Get()) == name) return info;
    }
    ADD_FAILURE() << "no type named " << testing::PrintToString(name);
    return {};
  }

  // The virtual-table view: for a dual interface its interface half, otherwise the type itself.
  static ComPtr<ITypeInfo> Vtable(const std::wstring& name) {
    ComPtr<ITypeInfo> info = Type(name);
    if (!info || !(Attributes(info.Get()).wTypeFlags & TYPEFLAG_FDUAL)) return info;
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> half;
    EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
    EXPECT_EQ(S_OK, info->GetRefTypeInfo(ref, half.Put()));
    return half;
  }

  static std::vector<std::pair<std::wstring, LONG>> EnumValues(const std::wstring& name) {
    std::vector<std::pair<std::wstring, LONG>> values;
    ComPtr<ITypeInfo> info = Type(name);
    if (!info) return values;
    const TYPEATTR attr = Attributes(info.Get());
    EXPECT_EQ(TKIND_ENUM, attr.typekind);
    for (UINT v = 0; v < attr.cVars; ++v) {
      VARDESC* vd = nullptr;
      EXPECT_EQ(S_OK, info->GetVarDesc(v, &vd));
      if (!vd) continue;
      UniqueBstr member;
      info->GetDocumentation(vd->memid, member.Put(), nullptr, nullptr, nullptr);
      values.emplace_back(Text(member.Get()), AsLong(*vd->lpvarValue));
      info->ReleaseVarDesc(vd);
    }
    return values;
  }

 private:
  static inline ComPtr<ITypeLib>* library_ = nullptr;
  static inline HRESULT loadResult_ = E_FAIL;
};

struct Expected {
  const wchar_t* name;
  MEMBERID memid;
  INVOKEKIND invkind;
};
constexpr INVOKEKIND kFunc = INVOKE_FUNC, kGet = INVOKE_PROPERTYGET, kPut = INVOKE_PROPERTYPUT;

// The interface's own members in virtual-table order, after `inheritedSlots` inherited ones.
void ExpectVtable(ITypeInfo* info, std::initializer_list<Expected> expected, int inheritedSlots) {
  ASSERT_NE(nullptr, info);
  const std::vector<Member> members = Members(info);
  ASSERT_EQ(expected.size(), members.size()) << testing::PrintToString(TypeName(info));
  size_t i = 0;
  for (const Expected& e : expected) {
    const Member& m = members[i];
    EXPECT_EQ(e.name, m.name) << "slot " << i;
    EXPECT_EQ(e.memid, m.memid) << testing::PrintToString(m.name);
    EXPECT_EQ(e.invkind, m.invkind) << testing::PrintToString(m.name);
    EXPECT_EQ(static_cast<SHORT>((inheritedSlots + i) * sizeof(void*)), m.oVft) << testing::PrintToString(m.name);
    ++i;
  }
}

const Member* Find(const std::vector<Member>& members, const std::wstring& name, INVOKEKIND kind = kFunc) {
  for (const Member& m : members)
    if (m.name == name && m.invkind == kind) return &m;
  ADD_FAILURE() << "no member " << testing::PrintToString(name);
  return nullptr;
}

TEST_F(TypeLibraryTest, LibraryAttributes) {
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(S_OK, Library()->GetLibAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(LIBID_QXSDKCommon, attr->guid));
  EXPECT_EQ(0x409u, attr->lcid);
  EXPECT_EQ(1, attr->wMajorVerNum);
  EXPECT_EQ(0, attr->wMinorVerNum);
  EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
  Library()->ReleaseTLibAttr(attr);
  UniqueBstr name, doc, helpFile;
  ASSERT_EQ(S_OK, Library()->GetDocumentation(-1, name.Put(), doc.Put(), nullptr, helpFile.Put()));
  EXPECT_EQ(L"QXSDKCommon", Text(name.Get()));
  EXPECT_EQ(L"QXSDKCommon 1.0 Type Library", Text(doc.Get()));
  EXPECT_EQ(L"..\\help\\qxsdk.chm", Text(helpFile.Get()));
}

// Every member of every type reads back (a default oleaut32 cannot decode makes GetFuncDesc
// fail), and the GUIDs of the generated header are those of the library.
TEST_F(TypeLibraryTest, EveryTypeAndMemberIsReadable) {
  const struct {
    const GUID* guid;
    const wchar_t* name;
    TYPEKIND kind;
  } types[] = {
      {&__uuidof(_NamedValues), L"_NamedValues", TKIND_DISPATCH},
      {&__uuidof(INamedValues2), L"INamedValues2", TKIND_DISPATCH},
      {&__uuidof(NamedValue), L"NamedValue", TKIND_DISPATCH},
      {&__uuidof(INamedValue2), L"INamedValue2", TKIND_DISPATCH},
      {&__uuidof(_EnumNamedValue), L"_EnumNamedValue", TKIND_INTERFACE},
      {&__uuidof(_MTNVS), L"_MTNVS", TKIND_DISPATCH},
      {&__uuidof(_MTNV), L"_MTNV", TKIND_DISPATCH},
      {&__uuidof(_EnumMTNV), L"_EnumMTNV", TKIND_INTERFACE},
      {&__uuidof(_QXErrors), L"_QXErrors", TKIND_DISPATCH},
      {&__uuidof(_QXError), L"_QXError", TKIND_DISPATCH},
      {&__uuidof(_QXAsynchStatus), L"_QXAsynchStatus", TKIND_DISPATCH},
      {&__uuidof(IQXAsynchStatus2), L"IQXAsynchStatus2", TKIND_INTERFACE},
      {&__uuidof(IQXAsynchStatus3), L"IQXAsynchStatus3", TKIND_DISPATCH},
      {&__uuidof(IQXAsynchStatusInt), L"IQXAsynchStatusInt", TKIND_INTERFACE},
      {&DIID__QXAsynchStatusEvents, L"_QXAsynchStatusEvents", TKIND_DISPATCH},
      {&__uuidof(_QXGlobalRestorer), L"_QXGlobalRestorer", TKIND_DISPATCH},
      {&__uuidof(INameResolver), L"INameResolver", TKIND_INTERFACE},
      {&__uuidof(IRefresh), L"IRefresh", TKIND_INTERFACE},
      {&__uuidof(IRefresh2), L"IRefresh2", TKIND_INTERFACE},
      {&__uuidof(ISlimFast), L"ISlimFast", TKIND_INTERFACE},
      {&__uuidof(ITraverse), L"ITraverse", TKIND_INTERFACE},
      {&__uuidof(IQXReset), L"IQXReset", TKIND_INTERFACE},
      {&__uuidof(IQXRestorer), L"IQXRestorer", TKIND_INTERFACE},
      {&__uuidof(IQXPersist), L"IQXPersist", TKIND_INTERFACE},
      {&__uuidof(IQXServers), L"IQXServers", TKIND_INTERFACE},
      {&__uuidof(IQXTransaction), L"IQXTransaction", TKIND_INTERFACE},
      {&CLSID_NamedValues, L"NamedValues", TKIND_COCLASS},
      {&CLSID_NamedValue2, L"NamedValue2", TKIND_COCLASS},
      {&CLSID_MTNV, L"MTNV", TKIND_COCLASS},
      {&CLSID_MTNVS, L"MTNVS", TKIND_COCLASS},
      {&CLSID_QXErrors, L"QXErrors", TKIND_COCLASS},
      {&CLSID_QXError, L"QXError", TKIND_COCLASS},
      {&CLSID_QXAsynchStatus, L"QXAsynchStatus", TKIND_COCLASS},
      {&CLSID_QXGlobalRestorer, L"QXGlobalRestorer", TKIND_COCLASS},
  };
  for (const auto& t : types) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, Library()->GetTypeInfoOfGuid(*t.guid, info.Put())) << testing::PrintToString(t.name);
    EXPECT_EQ(t.name, TypeName(info.Get()));
    EXPECT_EQ(t.kind, Attributes(info.Get()).typekind) << testing::PrintToString(t.name);
  }
  // 34 classes and interfaces plus six enumerations.
  ASSERT_EQ(40u, Library()->GetTypeInfoCount());
  for (UINT i = 0; i < Library()->GetTypeInfoCount(); ++i) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, Library()->GetTypeInfo(i, info.Put()));
    Members(info.Get());
    if (Attributes(info.Get()).wTypeFlags & TYPEFLAG_FDUAL) Members(Vtable(TypeName(info.Get())).Get());
  }
}

TEST_F(TypeLibraryTest, NamedValuesOrderAndDispatchIds) {
  ExpectVtable(Vtable(L"_NamedValues").Get(),
               {{L"_NewEnum", DISPID_NEWENUM, kGet},
                {L"Item", 0, kGet},
                {L"Count", 1, kGet},
                {L"Add", 2, kFunc},
                {L"Copy", 3, kFunc},
                {L"Merge", 4, kFunc},
                {L"_MemberEnum", 5, kGet},
                {L"SetSize", 9, kFunc},
                {L"LoadFromString", 10, kFunc},
                {L"DumpToString", 11, kFunc},
                {L"ReadOnly", 12, kGet},
                {L"Freeze", 13, kFunc},
                {L"LoadFromRegistry", 14, kFunc},
                {L"DumpToRegistry", 15, kFunc},
                {L"Style", 16, kGet},
                {L"Style", 16, kPut},
                {L"Sorted", 17, kGet},
                {L"Sorted", 17, kPut}},
               7);
  // INamedValues2 extends _NamedValues: its own members follow the 7 + 18 inherited slots.
  ExpectVtable(Vtable(L"INamedValues2").Get(),
               {{L"Rename", 100, kFunc},
                {L"Remove", 101, kFunc},
                {L"Clear", 102, kFunc},
                {L"Clone", 103, kFunc},
                {L"Insert", 104, kFunc}},
               25);
  HREFTYPE ref = 0;
  ComPtr<ITypeInfo> base;
  ComPtr<ITypeInfo> derived = Vtable(L"INamedValues2");
  ASSERT_EQ(S_OK, derived->GetRefTypeOfImplType(0, &ref));
  ASSERT_EQ(S_OK, derived->GetRefTypeInfo(ref, base.Put()));
  EXPECT_EQ(L"_NamedValues", TypeName(base.Get()));

  const auto members = Members(Vtable(L"_NamedValues").Get());
  const Member* newEnum = Find(members, L"_NewEnum", kGet);
  ASSERT_TRUE(newEnum);
  EXPECT_TRUE(newEnum->flags & FUNCFLAG_FHIDDEN);
  EXPECT_EQ(L"Used to iterate over the collection", newEnum->help);
  EXPECT_FALSE(Find(members, L"Count", kGet)->flags & FUNCFLAG_FHIDDEN);
  EXPECT_EQ(L"Gets a NamedValue from the collection, by name or by index.", Find(members, L"Item", kGet)->help);

  // Optional VARIANT_BOOL defaults to true (the 16-bit pattern 65535).
  const Member* copy = Find(members, L"Copy");
  ASSERT_TRUE(copy);
  ASSERT_EQ(3u, copy->params.size());
  EXPECT_EQ(PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, copy->params[1].flags);
  EXPECT_EQ(VT_BOOL, copy->params[1].defaultValue.Type());
  EXPECT_EQ(VARIANT_TRUE, V_BOOL(&copy->params[1].defaultValue.Get()));

  const Member* load = Find(members, L"LoadFromRegistry");
  ASSERT_TRUE(load);
  ASSERT_EQ(3u, load->params.size());
  EXPECT_EQ(L"qxnvRegistryKeyConstants", load->params[0].userType);
  EXPECT_EQ(L"qxnvRegistryOptions", load->params[2].userType);
  EXPECT_EQ(0, AsLong(load->params[2].defaultValue.Get()));
}

TEST_F(TypeLibraryTest, QXErrorsHasNoDispid1AndAddErrorInfoFollowsAdd) {
  ExpectVtable(Vtable(L"_QXErrors").Get(),
               {{L"_NewEnum", DISPID_NEWENUM, kGet},
                {L"Item", 0, kGet},
                {L"Count", 2, kGet},
                {L"Add", 3, kFunc},
                {L"AddErrorInfo", 7, kFunc},
                {L"ReadOnly", 4, kGet},
                {L"Freeze", 5, kFunc},
                {L"SetSize", 6, kFunc}},
               7);
  // Nothing answers to DISPID 1 on the dispatch side either.
  ComPtr<ITypeInfo2> dispatch = Type(L"_QXErrors").TryQuery<ITypeInfo2>();
  ASSERT_TRUE(dispatch);
  UINT index = 0;
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, dispatch->GetFuncIndexOfMemId(1, INVOKE_PROPERTYGET, &index));
  EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, dispatch->GetFuncIndexOfMemId(1, INVOKE_FUNC, &index));

  const auto members = Members(Vtable(L"_QXErrors").Get());
  const Member* add = Find(members, L"Add");
  ASSERT_TRUE(add);
  ASSERT_EQ(7u, add->params.size());
  EXPECT_EQ(VT_BSTR, add->params[2].defaultValue.Type());
  EXPECT_EQ(0u, SysStringLen(V_BSTR(&add->params[2].defaultValue.Get())));
  EXPECT_EQ(0, AsLong(add->params[4].defaultValue.Get()));
  EXPECT_EQ(PARAMFLAG_FIN | PARAMFLAG_FOPT, add->params[5].flags);  // Cause: optional, no default
  EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, add->params[6].flags);
  const Member* addErrorInfo = Find(members, L"AddErrorInfo");
  ASSERT_TRUE(addErrorInfo);
  EXPECT_EQ(VT_UNKNOWN, addErrorInfo->params[1].vt);
  EXPECT_TRUE(addErrorInfo->params[1].flags & PARAMFLAG_FHASDEFAULT);
  EXPECT_TRUE(Find(members, L"_NewEnum", kGet)->flags & FUNCFLAG_FHIDDEN);
}

TEST_F(TypeLibraryTest, AsynchStatusTimeoutPutPrecedesGet) {
  ExpectVtable(Vtable(L"IQXAsynchStatus3").Get(),
               {{L"Timeout", 101, kPut}, {L"Timeout", 101, kGet}, {L"CallCompleteEvent2", 102, kGet}}, 7 + 10);
  const auto base = Members(Vtable(L"_QXAsynchStatus").Get());
  ASSERT_EQ(10u, base.size());
  EXPECT_EQ(L"ProgressPercent", base[1].name);
  EXPECT_EQ(kPut, base[1].invkind);
  EXPECT_TRUE(base[1].flags & FUNCFLAG_FHIDDEN);
  EXPECT_EQ(L"Status", base[2].name);
  EXPECT_EQ(L"CallStatusConstants", base[2].params[0].userType);

  // The event interface is dispatch-only, and the class's default source.
  ComPtr<ITypeInfo> events = Type(L"_QXAsynchStatusEvents");
  ASSERT_TRUE(events);
  EXPECT_FALSE(Attributes(events.Get()).wTypeFlags & TYPEFLAG_FDUAL);
  const auto fired = Members(events.Get());
  ASSERT_EQ(2u, fired.size());
  EXPECT_EQ(L"OnStatusChange", fired[0].name);
  EXPECT_EQ(1, fired[0].memid);
  EXPECT_EQ(L"OnProgressChange", fired[1].name);
  EXPECT_EQ(2, fired[1].memid);
  EXPECT_EQ(VT_R8, fired[1].params[0].vt);

  ComPtr<ITypeInfo> coclass = Type(L"QXAsynchStatus");
  ASSERT_TRUE(coclass);
  ASSERT_EQ(5, Attributes(coclass.Get()).cImplTypes);
  const wchar_t* expected[] = {L"_QXAsynchStatus", L"_QXAsynchStatusEvents", L"IQXAsynchStatus2", L"IQXAsynchStatus3",
                               L"IQXAsynchStatusInt"};
  for (UINT i = 0; i < 5; ++i) {
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> impl;
    INT flags = 0;
    ASSERT_EQ(S_OK, coclass->GetRefTypeOfImplType(i, &ref));
    ASSERT_EQ(S_OK, coclass->GetRefTypeInfo(ref, impl.Put()));
    ASSERT_EQ(S_OK, coclass->GetImplTypeFlags(i, &flags));
    EXPECT_EQ(expected[i], TypeName(impl.Get()));
    const INT want = i == 0 ? IMPLTYPEFLAG_FDEFAULT : i == 1 ? IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE : 0;
    EXPECT_EQ(want, flags) << i;
  }
}

TEST_F(TypeLibraryTest, AbstractInterfaces) {
  // ITraverse's void* defaults must read back as integer 0.
  ComPtr<ITypeInfo> traverse = Type(L"ITraverse");
  ASSERT_TRUE(traverse);
  const TYPEATTR attr = Attributes(traverse.Get());
  EXPECT_TRUE(attr.wTypeFlags & TYPEFLAG_FHIDDEN);
  EXPECT_FALSE(attr.wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  const auto members = Members(traverse.Get());
  ASSERT_EQ(1u, members.size());
  const Member& t = members[0];
  ASSERT_EQ(3u, t.params.size());
  EXPECT_EQ(VT_PTR, t.params[0].vt);
  EXPECT_EQ(VT_VOID, t.params[0].pointee);
  EXPECT_FALSE(t.params[0].flags & PARAMFLAG_FHASDEFAULT);
  EXPECT_EQ(VT_PTR, t.params[1].vt);
  EXPECT_EQ(VT_VOID, t.params[1].pointee);
  EXPECT_EQ(PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT, t.params[1].flags);
  EXPECT_EQ(0, AsLong(t.params[1].defaultValue.Get()));
  EXPECT_EQ(L"qxtrStyleFlags", t.params[2].userType);
  EXPECT_EQ(0, AsLong(t.params[2].defaultValue.Get()));

  ExpectVtable(Type(L"IQXRestorer").Get(), {{L"RestoreObject", 1, kFunc}, {L"RestoreServers", 2, kFunc}}, 3);
  ExpectVtable(Type(L"IQXPersist").Get(), {{L"Persist", 1, kFunc}}, 3);
  ExpectVtable(Type(L"IQXTransaction").Get(),
               {{L"Begin", 1, kFunc},
                {L"Commit", 2, kFunc},
                {L"Cancel", 3, kFunc},
                {L"Rollback", 4, kFunc},
                {L"IsDirty", 5, kGet}},
               3);
  // IRefresh2 extends IRefresh; its one member takes a machine int.
  const auto refresh2 = Members(Type(L"IRefresh2").Get());
  ASSERT_EQ(1u, refresh2.size());
  EXPECT_EQ(static_cast<SHORT>(4 * sizeof(void*)), refresh2[0].oVft);
  EXPECT_EQ(VT_INT, refresh2[0].params[0].vt);
  EXPECT_TRUE(Attributes(Type(L"IQXAsynchStatus2").Get()).wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  EXPECT_FALSE(Attributes(Type(L"IQXAsynchStatus2").Get()).wTypeFlags & TYPEFLAG_FDUAL);

  const auto restorer = Members(Vtable(L"_QXGlobalRestorer").Get());
  const Member* restoreServers = Find(restorer, L"RestoreServers");
  ASSERT_TRUE(restoreServers);
  EXPECT_EQ(PARAMFLAG_FOUT, restoreServers->params[1].flags);
  EXPECT_EQ(0, AsLong(restoreServers->params[2].defaultValue.Get()));
}

TEST_F(TypeLibraryTest, ClassesAndTypeFlags) {
  const struct {
    const wchar_t* name;
    bool creatable;
  } classes[] = {{L"NamedValues", true},    {L"NamedValue2", false},    {L"MTNV", false},
                 {L"MTNVS", true},          {L"QXErrors", true},        {L"QXError", false},
                 {L"QXAsynchStatus", true}, {L"QXGlobalRestorer", true}};
  for (const auto& c : classes) {
    ComPtr<ITypeInfo> info = Type(c.name);
    ASSERT_TRUE(info);
    EXPECT_EQ(c.creatable, (Attributes(info.Get()).wTypeFlags & TYPEFLAG_FCANCREATE) != 0)
        << testing::PrintToString(c.name);
  }
  ComPtr<ITypeInfo> namedValues = Type(L"NamedValues");
  EXPECT_EQ(6, Attributes(namedValues.Get()).cImplTypes);

  const WORD dualFlags = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
  EXPECT_EQ(dualFlags | TYPEFLAG_FHIDDEN,
            Attributes(Type(L"_NamedValues").Get()).wTypeFlags & (dualFlags | TYPEFLAG_FHIDDEN));
  EXPECT_EQ(dualFlags, Attributes(Type(L"INamedValues2").Get()).wTypeFlags & (dualFlags | TYPEFLAG_FHIDDEN));
  EXPECT_TRUE(Attributes(Type(L"_EnumNamedValue").Get()).wTypeFlags & TYPEFLAG_FHIDDEN);
  EXPECT_TRUE(Attributes(Type(L"_QXGlobalRestorer").Get()).wTypeFlags & TYPEFLAG_FHIDDEN);
}

TEST_F(TypeLibraryTest, Enumerations) {
  using Values = std::vector<std::pair<std::wstring, LONG>>;
  EXPECT_EQ((Values{{L"qxnvHKEY_CLASSES_ROOT", static_cast<LONG>(0x80000000)},
                    {L"qxnvHKEY_CURRENT_USER", static_cast<LONG>(0x80000001)},
                    {L"qxnvHKEY_LOCAL_MACHINE", static_cast<LONG>(0x80000002)},
                    {L"qxnvHKEY_USERS", static_cast<LONG>(0x80000003)},
                    {L"qxnvHKEY_PERFORMANCE_DATA", static_cast<LONG>(0x80000004)},
                    {L"qxnvHKEY_CURRENT_CONFIG", static_cast<LONG>(0x80000005)},
                    {L"qxnvHKEY_DYN_DATA", static_cast<LONG>(0x80000006)}}),
            EnumValues(L"qxnvRegistryKeyConstants"));
  EXPECT_EQ((Values{{L"csInitial", 0},
                    {L"csInProgress", 1},
                    {L"csComplete", 2},
                    {L"csHasErrors", 4},
                    {L"csInProgressWithErrors", 5},
                    {L"csCompleteWithErrors", 6},
                    {L"csCancelFlag", 8},
                    {L"csCancelPending", 9},
                    {L"csCancelComplete", 10},
                    {L"csCancelHasErrors", 12},
                    {L"csCancelCompleteWithErrors", 14},
                    {L"csFailedToComplete", 16}}),
            EnumValues(L"CallStatusConstants"));
  EXPECT_EQ(
      (Values{{L"qxnvNoOptions", 0}, {L"qxnvIncludeSubkeys", 1}, {L"qxnvDoNotCreate", 2}, {L"qxnvKeyMustNotExist", 4}}),
      EnumValues(L"qxnvRegistryOptions"));
  EXPECT_EQ((Values{{L"qxnvCaseSensitive", 1},
                    {L"qxnvLocaleSensitive", 2},
                    {L"qxnvAllowLeadingSpace", 4},
                    {L"qxnvAllowTrailingSpace", 8}}),
            EnumValues(L"qxnvStyleConstants"));
  EXPECT_EQ((Values{{L"qxtrNoOptions", 0}, {L"qxtrSorted", 1}, {L"qxtrUnsorted", 2}}), EnumValues(L"qxtrStyleFlags"));

  // Every error constant is FACILITY_ITF + its message ID, matches the C++ header, and carries
  // a help string.
  const auto errors = EnumValues(L"cmeErrorConstants");
  ASSERT_EQ(19u, errors.size());
  EXPECT_EQ((std::pair<std::wstring, LONG>{L"cmeNAMEDVALUES", cmeNAMEDVALUES}), errors[14]);
  EXPECT_EQ(static_cast<LONG>(0x800407BF), cmeNAMEDVALUES);
  EXPECT_EQ(static_cast<LONG>(0x8004301A), cmeMTNVEXCEEDPARENTLOCKATTEMPTMAX);
  ComPtr<ITypeInfo> info = Type(L"cmeErrorConstants");
  for (UINT v = 0; v < errors.size(); ++v) {
    EXPECT_EQ(0x80040000u, static_cast<ULONG>(errors[v].second) & 0xFFFF0000u)
        << testing::PrintToString(errors[v].first);
    VARDESC* vd = nullptr;
    ASSERT_EQ(S_OK, info->GetVarDesc(v, &vd));
    UniqueBstr help;
    info->GetDocumentation(vd->memid, nullptr, help.Put(), nullptr, nullptr);
    info->ReleaseVarDesc(vd);
    EXPECT_FALSE(Text(help.Get()).empty()) << testing::PrintToString(errors[v].first);
    if (errors[v].first == L"cmeMTNVSLOCKWAITFOREVERTIMEOUT") {
      EXPECT_EQ(L"MTNVS couldn't get it's own lock while waiting forever.", Text(help.Get()));
    }
  }
  UniqueBstr help;
  info->GetDocumentation(MEMBERID_NIL, nullptr, help.Put(), nullptr, nullptr);
  EXPECT_EQ(L"An enumeration of the QXSDKCommon specific error constants", Text(help.Get()));
}

// The DLL must embed the finished library, not widl's raw output.
TEST_F(TypeLibraryTest, DllEmbedsTheFinishedLibrary) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dll(path);
  dll = dll.substr(0, dll.find_last_of(L"\\/") + 1) + L"QXSDKCommon.dll";
  if (GetFileAttributesW(dll.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no QXSDKCommon.dll beside the tests";
  ComPtr<ITypeLib> embedded;
  ASSERT_EQ(S_OK, LoadTypeLibEx(dll.c_str(), REGKIND_NONE, embedded.Put()));
  ComPtr<ITypeInfo> traverse;
  ASSERT_EQ(S_OK, embedded->GetTypeInfoOfGuid(__uuidof(ITraverse), traverse.Put()));
  FUNCDESC* fd = nullptr;
  ASSERT_EQ(S_OK, traverse->GetFuncDesc(0, &fd));
  traverse->ReleaseFuncDesc(fd);
  ComPtr<ITypeInfo> dispatch;
  ASSERT_EQ(S_OK, embedded->GetTypeInfoOfGuid(__uuidof(_QXErrors), dispatch.Put()));
  EXPECT_EQ(15, Attributes(dispatch.Get()).cFuncs);  // 7 from IDispatch and 8 of its own
}

}  // namespace
}  // namespace qx::test
