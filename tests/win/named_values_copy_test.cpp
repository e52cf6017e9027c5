// NamedValues: Copy, Merge and Clone between collections (ours and foreign implementations of
// the interfaces), Traverse with a caller's function, Resolve, and Refresh/SlimFast forwarding.
#include <string>
#include <type_traits>
#include <vector>

#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kDuplicate = static_cast<HRESULT>(0x80040421);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80040422);
constexpr HRESULT kInvalidOptions = static_cast<HRESULT>(0x800404A1);

const std::wstring kDuplicateText = L"Cannot add duplicate name to the collection: ";
const std::wstring kNotFoundText = L"Name not found in collection: ";
const std::wstring kCopyReport = L"NAMEDVALUES error CNamedValues::Copy";
const std::wstring kMergeReport = L"NAMEDVALUES error CNamedValues::Merge";

// ---------------------------------------------------------------------------------------------
// Reading and building collections.


std::vector<std::wstring> InsertionNames(INamedValues2* nv) {
  VARIANT_BOOL sorted = 0;
  EXPECT_EQ(S_OK, nv->get_Sorted(&sorted));
  nv->put_Sorted(VARIANT_FALSE);
  auto names = Names(nv);
  nv->put_Sorted(sorted);
  return names;
}

void Add(INamedValues2* nv, const std::wstring& name, LONG value) {
  auto bstr = Bstr(name);
  auto v = VarI4(value);
  EXPECT_EQ(S_OK, nv->Add(bstr.Get(), v.AddressOf(), nullptr)) << testing::PrintToString(name);
}
ComPtr<INamedValues2> Make(std::initializer_list<std::pair<std::wstring, LONG>> members, LONG style = 0) {
  auto nv = NewNamedValues();
  EXPECT_EQ(S_OK, nv->put_Style(static_cast<qxnvStyleConstants>(style)));
  for (const auto& [name, value] : members) Add(nv.Get(), name, value);
  return nv;
}
ComPtr<NamedValue> Item(INamedValues2* nv, const std::wstring& name) {
  auto index = VarText(name);
  ComPtr<NamedValue> member;
  EXPECT_EQ(S_OK, nv->get_Item(index.AddressOf(), member.Put())) << testing::PrintToString(name);
  return member;
}
LONG ValueOf(NamedValue* member) {
  UniqueVariant value;
  EXPECT_EQ(S_OK, member->get_Value(value.Put()));
  EXPECT_EQ(VT_I4, value.Type());
  return V_I4(&value.Get());
}
LONG ValueOf(INamedValues2* nv, const std::wstring& name) { return ValueOf(Item(nv, name).Get()); }

// Installs an error object that says something, as an earlier unrelated call would leave it.
void LeaveStaleError() {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.Put()));
  auto text = Bstr(L"stale");
  create->SetDescription(text.Get());
  ComPtr<IErrorInfo> info = create.TryQuery<IErrorInfo>();
  SetErrorInfo(0, info.Get());
}

// ---------------------------------------------------------------------------------------------
// Foreign implementations: counted on the stack, answering only their own interface.

template <class Base, class I>
class Double : public Base {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == __uuidof(I) || (std::is_base_of_v<IDispatch, I> && iid == IID_IDispatch)) {
      *out = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  LONG refs = 0;
};

class ForeignMember : public Double<NoTypeInfoDispatch<NamedValue>, NamedValue> {
 public:
  ForeignMember(std::wstring name, LONG value) : name_(std::move(name)), value_(value) {}
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* pVal) override {
    *pVal = Bstr(name_).Detach();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT* pVal) override {
    V_VT(pVal) = VT_I4;
    V_I4(pVal) = value_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_Value(VARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Parent(_NamedValues**) override { return E_NOTIMPL; }

 private:
  std::wstring name_;
  LONG value_;
};

class ForeignEnum : public Double<_EnumNamedValue, _EnumNamedValue> {
 public:
  std::vector<NamedValue*> items;
  size_t next = 0;
  HRESULT STDMETHODCALLTYPE Next(NamedValue** pVal) override {
    *pVal = nullptr;
    if (next >= items.size()) return S_FALSE;
    *pVal = items[next++];
    (*pVal)->AddRef();
    return S_OK;
  }
};

// A collection of another make: only _MemberEnum works (or fails, when told to).
class ForeignCollection : public Double<NoTypeInfoDispatch<_NamedValues>, _NamedValues> {
 public:
  ForeignEnum enumerator;
  HRESULT enumResult = S_OK;

  HRESULT STDMETHODCALLTYPE get__MemberEnum(_EnumNamedValue** pVal) override {
    *pVal = nullptr;
    if (FAILED(enumResult)) return enumResult;
    enumerator.next = 0;
    enumerator.AddRef();
    *pVal = &enumerator;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Item(VARIANT*, NamedValue**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Count(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Add(BSTR, VARIANT*, NamedValue**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Copy(NamedValue*, VARIANT_BOOL, NamedValue**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Merge(_NamedValues*, VARIANT_BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetSize(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LoadFromString(BSTR) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DumpToString(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_ReadOnly(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Freeze() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LoadFromRegistry(qxnvRegistryKeyConstants, BSTR, qxnvRegistryOptions) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DumpToRegistry(qxnvRegistryKeyConstants, BSTR, qxnvRegistryOptions) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Style(qxnvStyleConstants*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Style(qxnvStyleConstants) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Sorted(VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE put_Sorted(VARIANT_BOOL) override { return E_NOTIMPL; }
};

// A value object that counts the requests passed on to it.
class Maintained : public IRefresh, public ISlimFast {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == __uuidof(IRefresh)) {
      *out = static_cast<IRefresh*>(this);
    } else if (iid == __uuidof(ISlimFast)) {
      *out = static_cast<ISlimFast*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE Refresh() override { return ++refreshes, S_OK; }
  HRESULT STDMETHODCALLTYPE SlimFast(LONG reserved) override {
    slimReserved.push_back(reserved);
    return S_OK;
  }
  LONG refs = 0;
  int refreshes = 0;
  std::vector<LONG> slimReserved;
};

using NamedValuesCopy = LeakCheckedTest;

// ---------------------------------------------------------------------------------------------
// Copy

TEST_F(NamedValuesCopy, CopyTrimsTheNameAndHandlesDuplicatesAsAsked) {
  auto source = Make({{L" a", 1}}, qxnvAllowLeadingSpace);
  auto target = Make({});
  auto original = Item(source.Get(), L" a");

  ComPtr<NamedValue> copy;
  ASSERT_EQ(S_OK, target->Copy(original.Get(), VARIANT_FALSE, copy.Put()));
  EXPECT_EQ(L"a", NameOf(copy.Get()));
  EXPECT_NE(static_cast<void*>(original.Get()), static_cast<void*>(copy.Get())) << "a new member is made";
  EXPECT_EQ(1, ValueOf(copy.Get()));

  // Refused duplicate: the specific message survives the closing report, no member is returned.
  ComPtr<NamedValue> refused;
  EXPECT_TRUE(Fails(kDuplicate, target->Copy(original.Get(), VARIANT_FALSE, refused.Put()), kDuplicateText + L"a"));
  EXPECT_FALSE(refused);

  // Replaced duplicate: the existing member, with the new value.
  ASSERT_EQ(S_OK, original->put_Value(*VarI4(7).AddressOf()));
  ComPtr<NamedValue> replaced;
  ASSERT_EQ(S_OK, target->Copy(original.Get(), VARIANT_TRUE, replaced.Put()));
  EXPECT_EQ(static_cast<void*>(copy.Get()), static_cast<void*>(replaced.Get()));
  EXPECT_EQ(7, ValueOf(copy.Get()));
  EXPECT_EQ(1, CountOf(target.Get()));
  EXPECT_EQ(S_OK, target->Copy(original.Get(), VARIANT_TRUE, nullptr)) << "the result is optional";
}

TEST_F(NamedValuesCopy, CopyFailuresAreDescribedByTheirRules) {
  auto target = Make({{L"x", 1}});
  // A stale description from an earlier call must not pass for this call's error.
  LeaveStaleError();
  ComPtr<NamedValue> result;
  EXPECT_TRUE(Fails(E_POINTER, target->Copy(nullptr, VARIANT_TRUE, result.Put()), kCopyReport));
  EXPECT_FALSE(result);

  // A frozen collection refuses plainly, without the class report.
  ForeignMember member(L"y", 2);
  ASSERT_EQ(S_OK, target->Freeze());
  LeaveStaleError();
  EXPECT_TRUE(Fails(E_ACCESSDENIED, target->Copy(&member, VARIANT_TRUE, nullptr), L""));
  EXPECT_EQ(1, CountOf(target.Get()));
  EXPECT_EQ(0, member.refs);
}

TEST_F(NamedValuesCopy, CopyReadsAForeignMemberThroughItsInterface) {
  auto target = Make({});
  ForeignMember member(L"foreign", 42);
  ComPtr<NamedValue> copy;
  ASSERT_EQ(S_OK, target->Copy(&member, VARIANT_TRUE, copy.Put()));
  EXPECT_EQ(L"foreign", NameOf(copy.Get()));
  EXPECT_EQ(42, ValueOf(target.Get(), L"foreign"));
  copy.Reset();
  EXPECT_EQ(0, member.refs) << "the source is not kept";
}

TEST_F(NamedValuesCopy, CopyThroughIDispatchReplacesDuplicatesByDefault) {
  auto source = Make({{L"k", 5}});
  auto target = Make({{L"k", 1}});
  auto member = Item(source.Get(), L"k");
  ComPtr<IDispatch> dispatch = target.TryQuery<IDispatch>();
  ASSERT_TRUE(dispatch);
  VARIANT arg;
  V_VT(&arg) = VT_DISPATCH;
  V_DISPATCH(&arg) = member.Get();
  UniqueVariant result;
  std::wstring exception;
  ASSERT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Copy", DISPATCH_METHOD, {arg}, result.Put(), &exception))
      << testing::PrintToString(exception);
  EXPECT_EQ(5, ValueOf(target.Get(), L"k"));
  EXPECT_EQ(1, CountOf(target.Get()));
  EXPECT_EQ(L"k", NameOf(V_VT(&result.Get()) == VT_DISPATCH ? V_DISPATCH(&result.Get()) : nullptr));
}

// ---------------------------------------------------------------------------------------------
// Merge

TEST_F(NamedValuesCopy, MergeCopiesInTheSourcesPublicOrderAndKeepsGoingPastDuplicates) {
  auto source = Make({{L"c", 3}, {L"a", 1}, {L"b", 2}});
  ASSERT_EQ(S_OK, source->put_Sorted(VARIANT_FALSE));
  auto target = Make({{L"a", 100}});
  ASSERT_EQ(S_OK, target->put_Sorted(VARIANT_FALSE));

  // The colliding member is in the middle: the last copy succeeds and clears its error, so the
  // merge closes with the class report.
  EXPECT_TRUE(Fails(kDuplicate, target->Merge(source.Get(), VARIANT_FALSE), kMergeReport));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"c", L"b"}), Names(target.Get()));
  EXPECT_EQ(100, ValueOf(target.Get(), L"a"));

  // With the collision last, its own description stands.
  auto later = Make({{L"z", 1}, {L"c", 9}});
  ASSERT_EQ(S_OK, later->put_Sorted(VARIANT_FALSE));
  EXPECT_TRUE(Fails(kDuplicate, target->Merge(later.Get(), VARIANT_FALSE), kDuplicateText + L"c"));
  EXPECT_EQ(3, ValueOf(target.Get(), L"c"));
  EXPECT_EQ(1, ValueOf(target.Get(), L"z"));

  // The default replaces.
  EXPECT_EQ(S_OK, target->Merge(source.Get(), VARIANT_TRUE));
  EXPECT_EQ(1, ValueOf(target.Get(), L"a"));
  EXPECT_EQ(4, CountOf(target.Get()));
}

TEST_F(NamedValuesCopy, MergeIntoItselfEnds) {
  auto nv = Make({{L"a", 1}, {L"b", 2}});
  EXPECT_EQ(S_OK, nv->Merge(nv.Get(), VARIANT_TRUE));
  EXPECT_EQ(2, CountOf(nv.Get()));
  EXPECT_TRUE(Fails(kDuplicate, nv->Merge(nv.Get(), VARIANT_FALSE), kDuplicateText + L"b"));
  EXPECT_EQ(2, CountOf(nv.Get()));
}

TEST_F(NamedValuesCopy, MergeTakesAForeignCollectionThroughItsEnumerator) {
  ForeignMember one(L"one", 1), two(L"two", 2);
  ForeignCollection source;
  source.enumerator.items = {&two, &one};
  auto target = Make({});
  ASSERT_EQ(S_OK, target->put_Sorted(VARIANT_FALSE));
  ASSERT_EQ(S_OK, target->Merge(&source, VARIANT_TRUE));
  EXPECT_EQ((std::vector<std::wstring>{L"two", L"one"}), Names(target.Get()));
  EXPECT_EQ(2, ValueOf(target.Get(), L"two"));
  EXPECT_EQ(0, source.refs);
  EXPECT_EQ(0, source.enumerator.refs) << "the enumerator is released";
  EXPECT_EQ(0, one.refs + two.refs) << "each member is released";

  // No enumerator: its failure, with the class report.
  source.enumResult = E_FAIL;
  EXPECT_TRUE(Fails(E_FAIL, target->Merge(&source, VARIANT_TRUE), kMergeReport));
}

TEST_F(NamedValuesCopy, MergeRefusals) {
  auto source = Make({{L"a", 1}});
  auto target = Make({});
  EXPECT_TRUE(Fails(E_POINTER, target->Merge(nullptr, VARIANT_TRUE), kMergeReport));
  ASSERT_EQ(S_OK, target->Freeze());
  LeaveStaleError();
  EXPECT_TRUE(Fails(E_ACCESSDENIED, target->Merge(source.Get(), VARIANT_TRUE), L""));
  EXPECT_EQ(0, CountOf(target.Get()));
}

// ---------------------------------------------------------------------------------------------
// Clone

TEST_F(NamedValuesCopy, CloneOfAFrozenUnsortedCaseSensitiveCollection) {
  auto source = Make({{L"b", 1}, {L"B", 2}, {L"a", 3}}, qxnvCaseSensitive);
  ASSERT_EQ(S_OK, source->put_Sorted(VARIANT_FALSE));
  ASSERT_EQ(S_OK, source->Freeze());

  ComPtr<INamedValues2> clone;
  ASSERT_EQ(S_OK, source->Clone(clone.Put()));
  ASSERT_TRUE(clone);
  VARIANT_BOOL flag = -1;
  EXPECT_EQ(S_OK, clone->get_ReadOnly(&flag));
  EXPECT_EQ(VARIANT_FALSE, flag);
  EXPECT_EQ(S_OK, clone->get_Sorted(&flag));
  EXPECT_EQ(VARIANT_FALSE, flag);
  qxnvStyleConstants style{};
  EXPECT_EQ(S_OK, clone->get_Style(&style));
  EXPECT_EQ(qxnvCaseSensitive, style);
  EXPECT_EQ((std::vector<std::wstring>{L"b", L"B", L"a"}), Names(clone.Get()));

  // Independent members: changing the clone leaves the source alone.
  auto member = Item(clone.Get(), L"B");
  ASSERT_EQ(S_OK, member->put_Value(*VarI4(20).AddressOf()));
  EXPECT_EQ(2, ValueOf(source.Get(), L"B"));
  Add(clone.Get(), L"c", 4);
  EXPECT_EQ(3, CountOf(source.Get()));
}

TEST_F(NamedValuesCopy, CloneOfASortedCollectionStoresInNameOrder) {
  auto source = Make({{L"c", 3}, {L"a", 1}, {L"b", 2}});
  ComPtr<INamedValues2> clone;
  ASSERT_EQ(S_OK, source->Clone(clone.Put()));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b", L"c"}), InsertionNames(clone.Get()));
  VARIANT_BOOL sorted = 0;
  EXPECT_EQ(S_OK, clone->get_Sorted(&sorted));
  EXPECT_EQ(VARIANT_TRUE, sorted);
  EXPECT_EQ(E_POINTER, source->Clone(nullptr));
  SetErrorInfo(0, nullptr);

  auto empty = Make({});
  ComPtr<INamedValues2> emptyClone;
  ASSERT_EQ(S_OK, empty->Clone(emptyClone.Put()));
  EXPECT_EQ(0, CountOf(emptyClone.Get()));
}

// ---------------------------------------------------------------------------------------------
// Traverse

struct Visits {
  INamedValues2* collection = nullptr;
  std::vector<std::wstring> names;
  std::vector<VARIANT_BOOL> sortedDuring;
  std::vector<HRESULT> answers;  // by call; S_OK past the end
};

HRESULT __stdcall Visit(IUnknown* member, void* passThru) {
  auto* visits = static_cast<Visits*>(passThru);
  const size_t call = visits->names.size();
  visits->names.push_back(NameOf(member));
  VARIANT_BOOL sorted = 0;
  visits->collection->get_Sorted(&sorted);
  visits->sortedDuring.push_back(sorted);
  return call < visits->answers.size() ? visits->answers[call] : S_OK;
}

ComPtr<ITraverse> TraverseOf(INamedValues2* nv) {
  ComPtr<ITraverse> traverse;
  EXPECT_EQ(S_OK, nv->QueryInterface(__uuidof(ITraverse), traverse.PutVoid()));
  return traverse;
}

TEST_F(NamedValuesCopy, TraverseVisitsInTheOrderTheStyleChooses) {
  auto nv = Make({{L"c", 3}, {L"a", 1}, {L"b", 2}});
  auto traverse = TraverseOf(nv.Get());
  const std::vector<std::wstring> byName{L"a", L"b", L"c"}, byInsertion{L"c", L"a", L"b"};
  struct Case {
    VARIANT_BOOL sorted;
    qxtrStyleFlags style;
    std::vector<std::wstring> expected;
  };
  for (const Case& c : {Case{VARIANT_TRUE, qxtrNoOptions, byName}, Case{VARIANT_FALSE, qxtrNoOptions, byInsertion},
                        Case{VARIANT_TRUE, qxtrUnsorted, byInsertion}, Case{VARIANT_FALSE, qxtrSorted, byName}}) {
    SCOPED_TRACE(testing::Message() << "sorted " << c.sorted << ", style " << c.style);
    ASSERT_EQ(S_OK, nv->put_Sorted(c.sorted));
    Visits visits{nv.Get()};
    EXPECT_EQ(S_OK, traverse->Traverse(reinterpret_cast<void*>(&Visit), &visits, c.style));
    EXPECT_EQ(c.expected, visits.names);
    // The collection's own flag is back before the first call and after the last.
    EXPECT_EQ(std::vector<VARIANT_BOOL>(3, c.sorted), visits.sortedDuring);
    VARIANT_BOOL after = 0;
    EXPECT_EQ(S_OK, nv->get_Sorted(&after));
    EXPECT_EQ(c.sorted, after);
  }
}

TEST_F(NamedValuesCopy, TraverseStopsAtANegativeResultOnly) {
  auto nv = Make({{L"a", 1}, {L"b", 2}, {L"c", 3}});
  auto traverse = TraverseOf(nv.Get());

  Visits goesOn{nv.Get(), {}, {}, {S_FALSE, 2, S_FALSE}};
  EXPECT_EQ(S_FALSE, traverse->Traverse(reinterpret_cast<void*>(&Visit), &goesOn, qxtrNoOptions));
  EXPECT_EQ(3u, goesOn.names.size());

  Visits foreignStop{nv.Get(), {}, {}, {S_OK, E_FAIL}};
  EXPECT_TRUE(Fails(E_FAIL, traverse->Traverse(reinterpret_cast<void*>(&Visit), &foreignStop, qxtrNoOptions), L""));
  EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), foreignStop.names);

  Visits libraryStop{nv.Get(), {}, {}, {kNotFound}};
  EXPECT_TRUE(Fails(kNotFound, traverse->Traverse(reinterpret_cast<void*>(&Visit), &libraryStop, qxtrSorted),
                    kNotFoundText));
  EXPECT_EQ(1u, libraryStop.names.size());
}

TEST_F(NamedValuesCopy, TraverseRefusalsAndEmptyCollections) {
  auto nv = Make({{L"a", 1}});
  auto traverse = TraverseOf(nv.Get());
  Visits visits{nv.Get()};
  EXPECT_TRUE(Fails(kInvalidOptions, traverse->Traverse(reinterpret_cast<void*>(&Visit), &visits,
                                                        static_cast<qxtrStyleFlags>(3)),
                    L"Invalid option, or combination of options, for this operation."));
  EXPECT_TRUE(visits.names.empty());

  // Works on a frozen collection.
  ASSERT_EQ(S_OK, nv->Freeze());
  EXPECT_EQ(S_OK, traverse->Traverse(reinterpret_cast<void*>(&Visit), &visits, qxtrUnsorted));
  EXPECT_EQ(1u, visits.names.size());

  auto empty = Make({});
  Visits none{empty.Get()};
  EXPECT_EQ(S_OK, TraverseOf(empty.Get())->Traverse(reinterpret_cast<void*>(&Visit), &none, qxtrNoOptions));
  EXPECT_TRUE(none.names.empty());
}

// ---------------------------------------------------------------------------------------------
// Resolve

TEST_F(NamedValuesCopy, ResolveFindsByNameThenByPosition) {
  auto nv = Make({{L"b", 2}, {L"a", 1}, {L"5", 50}});
  ASSERT_EQ(S_OK, nv->Freeze());
  ComPtr<INameResolver> resolver;
  ASSERT_EQ(S_OK, nv->QueryInterface(__uuidof(INameResolver), resolver.PutVoid()));

  struct Case {
    const wchar_t* name;
    LONG expected;
  };
  // Sorted: 5, a, b. "5" is a name; "2" is the second member in public order.
  for (const Case& c : {Case{L"a", 1}, Case{L"A", 1}, Case{L"5", 50}, Case{L"2", 1}, Case{L"3", 2}}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    auto name = Bstr(c.name);
    UniqueVariant value;
    ASSERT_EQ(S_OK, resolver->Resolve(name.Get(), value.Put()));
    ASSERT_EQ(VT_I4, value.Type());
    EXPECT_EQ(c.expected, V_I4(&value.Get()));
  }

  auto missing = Bstr(L"zz");
  UniqueVariant value;
  EXPECT_TRUE(Fails(kNotFound, resolver->Resolve(missing.Get(), value.Put()), kNotFoundText + L"zz"));
  EXPECT_TRUE(Fails(E_POINTER, resolver->Resolve(missing.Get(), nullptr)));
}

// ---------------------------------------------------------------------------------------------
// Refresh and SlimFast

TEST_F(NamedValuesCopy, RefreshAndSlimFastReachEveryMembersValue) {
  Maintained first, second;
  auto nv = Make({{L"n", 1}});
  for (auto [name, object] : {std::pair{L"x", &first}, std::pair{L"y", &second}}) {
    UniqueVariant value;
    V_VT(value.AddressOf()) = VT_UNKNOWN;
    V_UNKNOWN(value.AddressOf()) = static_cast<IRefresh*>(object);
    object->AddRef();
    auto bstr = Bstr(name);
    ASSERT_EQ(S_OK, nv->Add(bstr.Get(), value.AddressOf(), nullptr));
  }
  ComPtr<IRefresh> refresh;
  ComPtr<ISlimFast> slim;
  ASSERT_EQ(S_OK, nv->QueryInterface(__uuidof(IRefresh), refresh.PutVoid()));
  ASSERT_EQ(S_OK, nv->QueryInterface(__uuidof(ISlimFast), slim.PutVoid()));

  EXPECT_EQ(S_OK, refresh->Refresh());
  EXPECT_EQ(1, first.refreshes);
  EXPECT_EQ(1, second.refreshes);
  EXPECT_EQ(S_OK, slim->SlimFast(9));
  EXPECT_EQ(std::vector<LONG>{9}, first.slimReserved);
  EXPECT_EQ(std::vector<LONG>{9}, second.slimReserved);
  // Still usable after shrinking: members can be added again.
  Add(nv.Get(), L"z", 26);
  EXPECT_EQ(4, CountOf(nv.Get()));

  ASSERT_EQ(S_OK, nv->Freeze());
  EXPECT_TRUE(Fails(E_ACCESSDENIED, refresh->Refresh()));
  EXPECT_TRUE(Fails(E_ACCESSDENIED, slim->SlimFast(0)));
  EXPECT_EQ(1, first.refreshes);
  refresh.Reset();
  slim.Reset();
  nv.Reset();
  EXPECT_EQ(0, first.refs + second.refs) << "the values are released with the collection";
}

TEST_F(NamedValuesCopy, SlimFastOnAnEmptyCollectionLeavesItUsable) {
  auto nv = Make({});
  ComPtr<ISlimFast> slim;
  ASSERT_EQ(S_OK, nv->QueryInterface(__uuidof(ISlimFast), slim.PutVoid()));
  EXPECT_EQ(S_OK, slim->SlimFast(0));
  Add(nv.Get(), L"a", 1);
  Add(nv.Get(), L"b", 2);
  EXPECT_EQ(2, ValueOf(nv.Get(), L"b"));
}

}  // namespace
}  // namespace qx::test
