// The QXErrors collection and its QXError views: records and growth, the Cause rule, the pool
// and heap views, the live enumerator, the frozen state, AddErrorInfo, several threads on one
// pointer, and a view used from another apartment.
#include <atomic>
#include <climits>
#include <string>
#include <thread>
#include <vector>

#include "errors/error_records.h"
#include "test_support.h"

namespace qx::test {
namespace {

constexpr HRESULT kObjectNotAllowed = static_cast<HRESULT>(0x8004079A);
const std::wstring kObjectNotAllowedText = L"An object reference may not be used here. Cause";

ComPtr<_QXErrors> NewErrors() {
  ComPtr<_QXErrors> errors;
  EXPECT_EQ(S_OK,
            CoCreateInstance(CLSID_QXErrors, nullptr, CLSCTX_INPROC_SERVER, __uuidof(_QXErrors), errors.PutVoid()))
      << "is the DLL registered?";
  return errors;
}

// What automation passes for an omitted optional argument.
VARIANT Missing() {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = DISP_E_PARAMNOTFOUND;
  return v;
}

HRESULT AddEntry(_QXErrors* errors, LONG number, const std::wstring& description, _QXError** view = nullptr,
                 VARIANT cause = Missing()) {
  auto text = Bstr(description);
  return errors->Add(number, text.Get(), nullptr, nullptr, 0, cause, view);
}

LONG CountOf(_QXErrors* errors) {
  LONG count = -1;
  EXPECT_EQ(S_OK, errors->get_Count(&count));
  return count;
}

struct Entry {
  LONG number = 0;
  LONG helpContext = 0;
  std::wstring description, source, helpFile;
  bool operator==(const Entry&) const = default;
};
void PrintTo(const Entry& e, std::ostream* os) {
  *os << e.number << " " << testing::PrintToString(e.description) << " " << testing::PrintToString(e.source) << " "
      << testing::PrintToString(e.helpFile) << " " << e.helpContext;
}

Entry Read(_QXError* view) {
  Entry e;
  UniqueBstr text;
  EXPECT_EQ(S_OK, view->get_Number(&e.number));
  EXPECT_EQ(S_OK, view->get_HelpContext(&e.helpContext));
  EXPECT_EQ(S_OK, view->get_Description(text.Put()));
  EXPECT_FALSE(text.IsNull()) << "texts are returned as strings, never null";
  e.description = Text(text.Get());
  EXPECT_EQ(S_OK, view->get_Source(text.Put()));
  e.source = Text(text.Get());
  EXPECT_EQ(S_OK, view->get_HelpFile(text.Put()));
  e.helpFile = Text(text.Get());
  return e;
}
Entry ReadItem(_QXErrors* errors, LONG index) {
  ComPtr<_QXError> view;
  EXPECT_EQ(S_OK, errors->get_Item(index, view.Put())) << "item " << index;
  return view ? Read(view.Get()) : Entry{};
}

// Leaves an error object with `description` on the thread, as a failed call of another object would.
void PutThreadError(const wchar_t* description, DWORD helpContext = 0) {
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.Put()));
  create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetSource(const_cast<LPOLESTR>(L"Elsewhere"));
  create->SetHelpContext(helpContext);
  auto info = create.TryQuery<IErrorInfo>();
  SetErrorInfo(0, info.Get());
}

// ---------------------------------------------------------------------------------------------
// The record array on its own: growth series, SetSize rules, moves that keep every record.

TEST(QXErrorsRecords, GrowthSeriesAndSetCapacityRules) {
  std::vector<LONG> series{0};
  for (int i = 0; i < 7; ++i) series.push_back(ErrorRecords::GrownCapacity(series.back()));
  EXPECT_EQ((std::vector<LONG>{0, 4, 7, 11, 17, 26, 40, 61}), series);
  EXPECT_EQ(0, ErrorRecords::GrownCapacity(LONG_MAX / 3 * 2 + 2)) << "growth beyond a LONG is refused";

  // Appending as the collection does: grow when full. Capacity after the 1st, 5th, 8th, 12th add.
  ErrorRecords records;
  VARIANT empty;
  VariantInit(&empty);
  std::vector<LONG> capacities;
  for (LONG n = 1; n <= 12; ++n) {
    if (records.Full()) {
      ASSERT_EQ(S_OK, records.SetCapacity(ErrorRecords::GrownCapacity(records.Capacity())));
    }
    auto text = Bstr(L"error " + std::to_wstring(n));
    ASSERT_EQ(S_OK, records.Append(n, text.Get(), nullptr, text.Get(), n * 10, empty));
    if (n == 1 || n == 5 || n == 8 || n == 12) capacities.push_back(records.Capacity());
  }
  EXPECT_EQ((std::vector<LONG>{4, 7, 11, 17}), capacities);
  // Every record survived three moves with its own strings.
  for (LONG i = 0; i < 12; ++i) {
    EXPECT_EQ(i + 1, records.At(i).number);
    EXPECT_EQ(L"error " + std::to_wstring(i + 1), Text(records.At(i).description));
    EXPECT_EQ(nullptr, records.At(i).source);
  }
  // Never below the count; the same capacity does not move the array.
  EXPECT_EQ(S_OK, records.SetCapacity(2));
  EXPECT_EQ(12, records.Capacity());
  const ErrorRecord* before = &records.At(0);
  EXPECT_EQ(S_OK, records.SetCapacity(12));
  EXPECT_EQ(before, &records.At(0));
  EXPECT_EQ(S_OK, records.SetCapacity(100));
  EXPECT_EQ(100, records.Capacity());
  EXPECT_EQ(L"error 12", Text(records.At(11).description));

  ErrorRecords none;
  EXPECT_EQ(S_OK, none.SetCapacity(-1));
  EXPECT_EQ(0, none.Capacity());
  EXPECT_TRUE(none.Full()) << "an empty array grows on the first add";
}

TEST(QXErrorsRecords, AppendCopiesTextsCutAtNulAndValuesByReference) {
  ErrorRecords records;
  ASSERT_EQ(S_OK, records.SetCapacity(2));
  auto cut = Bstr(std::wstring(L"ab\0cd", 5));
  auto empty = Bstr(L"");
  LONG target = 77;
  VARIANT byRef;
  VariantInit(&byRef);
  V_VT(&byRef) = VT_I4 | VT_BYREF;
  V_I4REF(&byRef) = &target;
  ASSERT_EQ(S_OK, records.Append(5, cut.Get(), empty.Get(), nullptr, 0, byRef));
  const ErrorRecord& r = records.At(0);
  EXPECT_EQ(L"ab", Text(r.description));
  ASSERT_NE(nullptr, r.source) << "an empty text is stored, not dropped";
  EXPECT_EQ(0u, SysStringLen(r.source));
  EXPECT_EQ(nullptr, r.helpFile);
  EXPECT_EQ(VT_I4, V_VT(&r.cause)) << "the value referred to is stored";
  EXPECT_EQ(77, V_I4(&r.cause));
}

// ---------------------------------------------------------------------------------------------
// The collection through its vtable.

TEST(QXErrors, NewCollectionIsEmptyAndRefusesBadArguments) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  EXPECT_EQ(0, CountOf(errors.Get()));
  VARIANT_BOOL readOnly = 1;
  EXPECT_EQ(S_OK, errors->get_ReadOnly(&readOnly));
  EXPECT_EQ(VARIANT_FALSE, readOnly);

  ComPtr<_QXError> view;
  EXPECT_TRUE(Fails(E_INVALIDARG, errors->get_Item(1, view.Put())));
  EXPECT_FALSE(view);
  ASSERT_EQ(S_OK, AddEntry(errors.Get(), 1, L"one"));
  EXPECT_TRUE(Fails(E_INVALIDARG, errors->get_Item(0, view.Put())));
  EXPECT_TRUE(Fails(E_INVALIDARG, errors->get_Item(2, view.Put())));
  EXPECT_TRUE(Fails(E_POINTER, errors->get_Item(1, nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, errors->get_Count(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, errors->get_ReadOnly(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, errors->get__NewEnum(nullptr)));

  ASSERT_EQ(S_OK, errors->get_Item(1, view.Put()));
  EXPECT_TRUE(Fails(E_POINTER, view->get_Description(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, view->get_Cause(nullptr)));
  EXPECT_TRUE(Fails(E_POINTER, view->get_Number(nullptr)));

  // A read clears an error object left over from an earlier call.
  PutThreadError(L"left over");
  LONG number = 0;
  EXPECT_EQ(S_OK, view->get_Number(&number));
  EXPECT_FALSE(PeekError().present);
}

TEST(QXErrors, AddStoresEveryFieldAndKeepsAllEntriesThroughGrowth) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  auto description = Bstr(std::wstring(L"disk\0full", 9));
  auto source = Bstr(L"Disk.Module");
  auto helpFile = Bstr(L"disk.chm");
  auto cause = VarText(L"C:\\data");
  ComPtr<_QXError> view;
  ASSERT_EQ(S_OK,
            errors->Add(-2147024784, description.Get(), source.Get(), helpFile.Get(), 1234, cause.Get(), view.Put()));
  ASSERT_TRUE(view);
  EXPECT_EQ((Entry{-2147024784, 1234, L"disk", L"Disk.Module", L"disk.chm"}), Read(view.Get()));
  UniqueVariant back;
  EXPECT_EQ(S_OK, view->get_Cause(back.Put()));
  ASSERT_EQ(VT_BSTR, back.Type());
  EXPECT_EQ(L"C:\\data", Text(V_BSTR(&back.Get())));

  // Absent texts read as empty strings; a null out argument still adds.
  EXPECT_EQ(S_OK, errors->Add(2, nullptr, nullptr, nullptr, 0, Missing(), nullptr));
  EXPECT_EQ((Entry{2, 0, L"", L"", L""}), ReadItem(errors.Get(), 2));

  // Enough entries for several moves of the array; SetSize below the count changes nothing.
  for (LONG n = 3; n <= 30; ++n) ASSERT_EQ(S_OK, AddEntry(errors.Get(), n, L"entry " + std::to_wstring(n)));
  EXPECT_EQ(S_OK, errors->SetSize(2));
  EXPECT_EQ(S_OK, errors->SetSize(-1));
  EXPECT_EQ(S_OK, errors->SetSize(100));
  ASSERT_EQ(30, CountOf(errors.Get()));
  EXPECT_EQ(L"disk", ReadItem(errors.Get(), 1).description);
  for (LONG n = 3; n <= 30; ++n) EXPECT_EQ((Entry{n, 0, L"entry " + std::to_wstring(n)}), ReadItem(errors.Get(), n));
}

TEST(QXErrors, ObjectCauseIsRefusedAndValuesAreAccepted) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  for (VARTYPE type : {VT_DISPATCH, VT_UNKNOWN}) {
    VARIANT object;
    VariantInit(&object);
    V_VT(&object) = type;
    V_UNKNOWN(&object) = errors.Get();  // not AddRef'd: the callee only reads the variant
    EXPECT_TRUE(Fails(kObjectNotAllowed, AddEntry(errors.Get(), 1, L"x", nullptr, object), kObjectNotAllowedText));
    EXPECT_TRUE(Fails(kObjectNotAllowed, errors->AddErrorInfo(1, nullptr, object, nullptr), kObjectNotAllowedText));
    // An error object already on the thread is kept, not replaced.
    PutThreadError(L"earlier");
    EXPECT_EQ(kObjectNotAllowed, AddEntry(errors.Get(), 1, L"x", nullptr, object));
    EXPECT_EQ(L"earlier", PeekError().description);
    SetErrorInfo(0, nullptr);
  }
  EXPECT_EQ(0, CountOf(errors.Get()));

  VARIANT empty;
  VariantInit(&empty);
  EXPECT_EQ(S_OK, AddEntry(errors.Get(), 1, L"empty", nullptr, empty));
  EXPECT_EQ(S_OK, AddEntry(errors.Get(), 2, L"number", nullptr, VarR8(2.5).Get()));
  EXPECT_EQ(S_OK, AddEntry(errors.Get(), 3, L"text", nullptr, VarText(L"why").Get()));
  EXPECT_EQ(3, CountOf(errors.Get()));
  ComPtr<_QXError> view;
  ASSERT_EQ(S_OK, errors->get_Item(2, view.Put()));
  UniqueVariant cause;
  EXPECT_EQ(S_OK, view->get_Cause(cause.Put()));
  EXPECT_EQ(VT_R8, cause.Type());
  EXPECT_EQ(2.5, V_R8(&cause.Get()));
}

// A late-bound caller that leaves Cause out: what it stores is what it reads back.
TEST(QXErrors, OmittedArgumentsThroughDispatch) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  auto dispatch = errors.TryQuery<IDispatch>();
  ASSERT_TRUE(dispatch);
  UniqueVariant result;
  ASSERT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Add", DISPATCH_METHOD, {VarI4(9).Get(), VarText(L"nine").Get()},
                               result.Put()));
  ASSERT_EQ(VT_DISPATCH, result.Type());
  ComPtr<_QXError> view;
  ASSERT_EQ(S_OK, V_DISPATCH(&result.Get())->QueryInterface(__uuidof(_QXError), view.PutVoid()));
  EXPECT_EQ((Entry{9, 0, L"nine", L"", L""}), Read(view.Get()));
  UniqueVariant cause;
  ASSERT_EQ(S_OK, view->get_Cause(cause.Put()));
  EXPECT_EQ(VT_ERROR, cause.Type());
  EXPECT_EQ(DISP_E_PARAMNOTFOUND, V_ERROR(&cause.Get()));

  // AddErrorInfo with its number only, on a thread without an error object.
  ASSERT_EQ(S_OK, InvokeByName(dispatch.Get(), L"AddErrorInfo", DISPATCH_METHOD, {VarI4(10).Get()}, result.Put()));
  EXPECT_EQ((Entry{10, 0, L"", L"", L""}), ReadItem(errors.Get(), 2));

  // Count is DISPID 2, the item the default member.
  ASSERT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Count", DISPATCH_PROPERTYGET, {}, result.Put()));
  EXPECT_EQ(2, V_I4(&result.Get()));
  ASSERT_EQ(S_OK, InvokeByName(dispatch.Get(), L"Item", DISPATCH_PROPERTYGET, {VarI4(2).Get()}, result.Put()));
  UniqueVariant number;
  ASSERT_EQ(S_OK, InvokeByName(V_DISPATCH(&result.Get()), L"Number", DISPATCH_PROPERTYGET, {}, number.Put()));
  EXPECT_EQ(10, V_I4(&number.Get()));
}

// Two views come from the collection's pool; a third held at the same time is a heap view. A
// pool view's AddRef answers the collection's count, a heap view's its own.
TEST(QXErrors, PoolViewsAreReusedAndAThirdHeldViewIsAllocated) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  for (LONG n = 1; n <= 3; ++n) ASSERT_EQ(S_OK, AddEntry(errors.Get(), n, L"e" + std::to_wstring(n)));

  ComPtr<_QXError> first, second, third;
  ASSERT_EQ(S_OK, errors->get_Item(1, first.Put()));
  ASSERT_EQ(S_OK, errors->get_Item(2, second.Put()));
  ASSERT_EQ(S_OK, errors->get_Item(3, third.Put()));
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_NE(third.Get(), first.Get());
  EXPECT_NE(third.Get(), second.Get());
  // Collection: ours + one per view reference = 4.
  EXPECT_EQ(5u, first->AddRef());
  EXPECT_EQ(4u, first->Release());
  EXPECT_EQ(2u, third->AddRef()) << "a heap view answers its own count";
  EXPECT_EQ(1u, third->Release());
  EXPECT_EQ(5u, errors->AddRef()) << "the heap view holds a collection reference too";
  errors->Release();

  // Each view shows its own record.
  EXPECT_EQ(L"e1", Read(first.Get()).description);
  EXPECT_EQ(L"e2", Read(second.Get()).description);
  EXPECT_EQ(L"e3", Read(third.Get()).description);

  // A released pool view is the next one handed out, re-pointed; the others are unaffected.
  _QXError* const firstAddress = first.Get();
  first.Reset();
  ComPtr<_QXError> again;
  ASSERT_EQ(S_OK, errors->get_Item(3, again.Put()));
  EXPECT_EQ(firstAddress, again.Get());
  EXPECT_EQ(3, Read(again.Get()).number);
  EXPECT_EQ(2, Read(second.Get()).number);
  EXPECT_EQ(3, Read(third.Get()).number);

  // A view reached through QueryInterface is counted the same way.
  ComPtr<IDispatch> asDispatch = again.TryQuery<IDispatch>();
  ASSERT_TRUE(asDispatch);
  again.Reset();
  ComPtr<_QXError> busy;
  ASSERT_EQ(S_OK, errors->get_Item(1, busy.Put()));
  EXPECT_NE(firstAddress, busy.Get()) << "the pool view is still held through IDispatch";
  busy.Reset();
  asDispatch.Reset();

  // Views are not free-threaded; the collection is.
  ComPtr<IUnknown> marshal;
  EXPECT_EQ(E_NOINTERFACE, second->QueryInterface(IID_IMarshal, marshal.PutVoid()));
  EXPECT_EQ(E_NOINTERFACE, third->QueryInterface(IID_IMarshal, marshal.PutVoid()));
  EXPECT_EQ(S_OK, errors->QueryInterface(IID_IMarshal, marshal.PutVoid()));
  marshal.Reset();
  auto support = second.TryQuery<ISupportErrorInfo>();
  ASSERT_TRUE(support);
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(__uuidof(_QXError)));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(__uuidof(_QXErrors)));
  support = errors.TryQuery<ISupportErrorInfo>();
  EXPECT_EQ(S_OK, support->InterfaceSupportsErrorInfo(__uuidof(_QXErrors)));
  EXPECT_EQ(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IDispatch));

  // The collection outlives our own reference while a view is held.
  support.Reset();
  errors.Reset();
  EXPECT_EQ(L"e2", Read(second.Get()).description);
  EXPECT_EQ(L"e3", Read(third.Get()).description);
}

std::vector<LONG> Numbers(const VARIANT* items, ULONG count) {
  std::vector<LONG> numbers;
  for (ULONG i = 0; i < count; ++i) {
    ComPtr<_QXError> view;
    if (V_VT(&items[i]) != VT_DISPATCH ||
        FAILED(V_DISPATCH(&items[i])->QueryInterface(__uuidof(_QXError), view.PutVoid()))) {
      numbers.push_back(-1);
      continue;
    }
    numbers.push_back(Read(view.Get()).number);
  }
  return numbers;
}

TEST(QXErrors, EnumeratorWalksTheLiveCollection) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, errors->get__NewEnum(unknown.Put()));
  auto items = unknown.TryQuery<IEnumVARIANT>();
  ASSERT_TRUE(items);

  VARIANT out[5];
  for (auto& v : out) VariantInit(&v);
  ULONG fetched = 99;
  EXPECT_EQ(S_FALSE, items->Next(1, out, &fetched));
  EXPECT_EQ(0u, fetched);

  // Entries added after the enumerator was made are enumerated.
  for (LONG n = 1; n <= 3; ++n) ASSERT_EQ(S_OK, AddEntry(errors.Get(), n, L"e"));
  EXPECT_EQ(S_FALSE, items->Next(5, out, &fetched));
  ASSERT_EQ(3u, fetched);
  EXPECT_EQ((std::vector<LONG>{1, 2, 3}), Numbers(out, 3)) << "three views held at once: pool, pool, heap";
  for (auto& v : out) VariantClear(&v);

  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_OK, items->Next(1, out, nullptr));
  EXPECT_EQ((std::vector<LONG>{1}), Numbers(out, 1));
  VariantClear(&out[0]);
  EXPECT_EQ(S_OK, items->Next(2, out, &fetched));
  EXPECT_EQ((std::vector<LONG>{2, 3}), Numbers(out, 2));
  for (auto& v : out) VariantClear(&v);

  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_OK, items->Skip(3));
  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_FALSE, items->Skip(4));
  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_OK, items->Skip(2));
  EXPECT_EQ(S_OK, items->Next(1, out, &fetched));
  EXPECT_EQ((std::vector<LONG>{3}), Numbers(out, 1));
  VariantClear(&out[0]);

  EXPECT_EQ(E_POINTER, items->Next(2, out, nullptr));
  EXPECT_EQ(E_POINTER, items->Next(1, nullptr, &fetched));
  ComPtr<IEnumVARIANT> clone;
  EXPECT_EQ(E_NOTIMPL, items->Clone(clone.Put()));
  EXPECT_FALSE(PeekError().present) << "the enumerator sets no error objects";

  // The enumerator keeps the collection alive.
  errors.Reset();
  EXPECT_EQ(S_OK, items->Reset());
  EXPECT_EQ(S_FALSE, items->Next(5, out, &fetched));
  EXPECT_EQ(3u, fetched);
  for (auto& v : out) VariantClear(&v);
}

// Frozen: Add (direct or through AddErrorInfo) and SetSize are refused; reading still works,
// pool views included.
TEST(QXErrors, FrozenCollectionOnlyReads) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  for (LONG n = 1; n <= 5; ++n) ASSERT_EQ(S_OK, AddEntry(errors.Get(), n, L"e" + std::to_wstring(n)));
  EXPECT_EQ(S_OK, errors->Freeze());
  EXPECT_EQ(S_OK, errors->Freeze());
  VARIANT_BOOL readOnly = 0;
  EXPECT_EQ(S_OK, errors->get_ReadOnly(&readOnly));
  EXPECT_EQ(VARIANT_TRUE, readOnly);

  ComPtr<_QXError> view;
  EXPECT_TRUE(Fails(E_ACCESSDENIED, AddEntry(errors.Get(), 6, L"late", view.Put())));
  EXPECT_FALSE(view);
  PutThreadError(L"to copy");
  EXPECT_TRUE(Fails(E_ACCESSDENIED, errors->AddErrorInfo(6, nullptr, Missing(), nullptr)));
  EXPECT_TRUE(Fails(E_ACCESSDENIED, errors->SetSize(100)));
  EXPECT_TRUE(Fails(E_ACCESSDENIED, errors->SetSize(5)));
  EXPECT_EQ(5, CountOf(errors.Get()));

  std::vector<ComPtr<_QXError>> views(5);
  for (LONG n = 1; n <= 5; ++n) ASSERT_EQ(S_OK, errors->get_Item(n, views[n - 1].Put()));
  for (LONG n = 1; n <= 5; ++n) EXPECT_EQ((Entry{n, 0, L"e" + std::to_wstring(n)}), Read(views[n - 1].Get()));
  views.clear();
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(S_OK, errors->get__NewEnum(unknown.Put()));
  auto items = unknown.TryQuery<IEnumVARIANT>();
  VARIANT out[6];
  for (auto& v : out) VariantInit(&v);
  ULONG fetched = 0;
  EXPECT_EQ(S_FALSE, items->Next(6, out, &fetched));
  EXPECT_EQ((std::vector<LONG>{1, 2, 3, 4, 5}), Numbers(out, fetched));
  for (auto& v : out) VariantClear(&v);
}

// The texts of a failed call of another object land in the entry; the thread's error object is
// handed back, and only a call that grows the array or returns a view clears it.
TEST(QXErrors, AddErrorInfoCopiesTheThreadsOrAGivenErrorObject) {
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  ASSERT_EQ(S_OK, AddEntry(errors.Get(), 1, L"first"));  // capacity 4 from here on
  auto bag = NewNamedValues();
  ASSERT_TRUE(bag);
  auto name = Bstr(L"Timeout");
  auto value = VarI4(30);
  ASSERT_EQ(S_OK, bag->Add(name.Get(), value.AddressOf(), nullptr));
  ASSERT_NE(S_OK, bag->Add(name.Get(), value.AddressOf(), nullptr));
  const std::wstring duplicate = L"Cannot add duplicate name to the collection: Timeout";

  EXPECT_EQ(S_OK, errors->AddErrorInfo(static_cast<LONG>(0x80040421), nullptr, Missing(), nullptr));
  EXPECT_EQ((Entry{static_cast<LONG>(0x80040421), 0, duplicate, L"QXSDK", L"qxsdk.chm"}), ReadItem(errors.Get(), 2));
  // ReadItem cleared the thread: put the failure back and add once more, now without a view.
  ASSERT_NE(S_OK, bag->Add(name.Get(), value.AddressOf(), nullptr));
  EXPECT_EQ(S_OK, errors->AddErrorInfo(3, nullptr, Missing(), nullptr));
  const ErrorState kept = PeekError();
  EXPECT_TRUE(kept.present) << "no growth, no view: the thread keeps its error object";
  EXPECT_EQ(duplicate, kept.description);

  ComPtr<_QXError> view;
  EXPECT_EQ(S_OK, errors->AddErrorInfo(4, nullptr, Missing(), view.Put()));
  EXPECT_EQ(duplicate, Read(view.Get()).description);
  EXPECT_FALSE(PeekError().present) << "returning a view clears the thread";

  // A given error object: copied, help context included; the thread's own is not touched (room
  // is made first, since growing clears the thread).
  ASSERT_EQ(S_OK, errors->SetSize(10));
  ComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(S_OK, CreateErrorInfo(create.Put()));
  create->SetDescription(const_cast<LPOLESTR>(L"given"));
  create->SetHelpFile(const_cast<LPOLESTR>(L"given.chm"));
  create->SetHelpContext(42);
  PutThreadError(L"on the thread");
  EXPECT_EQ(S_OK, errors->AddErrorInfo(5, create.Get(), VarI4(8).Get(), nullptr));
  EXPECT_EQ(L"on the thread", PeekError().description);
  EXPECT_EQ((Entry{5, 42, L"given", L"", L"given.chm"}), ReadItem(errors.Get(), 5));

  // Something that is not an error object.
  EXPECT_TRUE(Fails(E_INVALIDARG, errors->AddErrorInfo(6, bag.Get(), Missing(), nullptr)));
  EXPECT_EQ(5, CountOf(errors.Get()));
}

// ---------------------------------------------------------------------------------------------
// Threads and apartments.

std::wstring TextFor(LONG number) {
  return L"thread " + std::to_wstring(number / 1000) + L" entry " + std::to_wstring(number % 1000);
}

// Several threads add and read through the one pointer the free-threaded marshaler hands them;
// afterwards every entry is there once and whole. Then, frozen, they read without the lock and
// race for the pool views.
TEST(QXErrors, ManyThreadsAddAndReadThroughOnePointer) {
  constexpr int kThreads = 4;
  constexpr LONG kPerThread = 150;
  auto errors = NewErrors();
  ASSERT_TRUE(errors);

  std::atomic<int> faults{0};
  auto check = [&](bool ok) {
    if (!ok) ++faults;
  };
  // A view must show a whole record: its description matches its number.
  auto readRandom = [&](_QXErrors* shared, unsigned& seed) {
    LONG count = 0;
    check(shared->get_Count(&count) == S_OK);
    if (count == 0) return;
    seed = seed * 1103515245u + 12345u;
    ComPtr<_QXError> view;
    check(shared->get_Item(static_cast<LONG>(seed % count) + 1, view.Put()) == S_OK);
    if (!view) return;
    LONG number = 0;
    UniqueBstr text;
    check(view->get_Number(&number) == S_OK);
    check(view->get_Description(text.Put()) == S_OK);
    check(Text(text.Get()) == TextFor(number));
  };

  std::vector<std::thread> threads;
  std::vector<com::UniqueHandle> done;
  for (int t = 0; t < kThreads; ++t) {
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(__uuidof(_QXErrors), errors.Get(), &stream));
    done.emplace_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    threads.emplace_back([&, t, stream, event = done.back().Get()] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      {
        ComPtr<_QXErrors> shared;
        check(CoGetInterfaceAndReleaseStream(stream, __uuidof(_QXErrors), shared.PutVoid()) == S_OK);
        check(shared.Get() == errors.Get());  // free-threaded: no proxy
        unsigned seed = static_cast<unsigned>(t) + 1;
        for (LONG i = 0; i < kPerThread && shared; ++i) {
          const LONG number = (t + 1) * 1000 + i;
          auto text = Bstr(TextFor(number));
          ComPtr<_QXError> view;
          check(shared->Add(number, text.Get(), nullptr, nullptr, 0, VarI4(number).Get(), view.Put()) == S_OK);
          LONG back = 0;
          check(view && view->get_Number(&back) == S_OK && back == number);
          readRandom(shared.Get(), seed);
        }
      }
      CoUninitialize();
      SetEvent(event);
    });
  }
  for (int t = 0; t < kThreads; ++t) JoinPumping(threads[t], done[t].Get());
  threads.clear();
  EXPECT_EQ(0, faults.load());

  ASSERT_EQ(kThreads * kPerThread, CountOf(errors.Get()));
  std::vector<int> seen(kThreads * kPerThread, 0);
  for (LONG n = 1; n <= kThreads * kPerThread; ++n) {
    const Entry e = ReadItem(errors.Get(), n);
    const LONG t = e.number / 1000 - 1, i = e.number % 1000;
    ASSERT_TRUE(t >= 0 && t < kThreads && i < kPerThread) << e.number;
    ++seen[t * kPerThread + i];
    EXPECT_EQ(TextFor(e.number), e.description);
  }
  EXPECT_EQ(std::vector<int>(kThreads * kPerThread, 1), seen) << "every entry exactly once";

  // Frozen: unlocked readers racing for the two pool views.
  ASSERT_EQ(S_OK, errors->Freeze());
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      unsigned seed = static_cast<unsigned>(t) * 7 + 3;
      for (int i = 0; i < 400; ++i) readRandom(errors.Get(), seed);
      CoUninitialize();
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, faults.load());

  errors.Reset();
  EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "every collection and view is gone";
}

// A view handed to another apartment is reached through a proxy of the standard marshaler and
// reads its record; the collection itself crosses without one.
TEST(QXErrors, ViewCrossesApartmentsThroughTheStandardMarshaler) {
  const NeutralLocaleTypeLib registration;
  auto errors = NewErrors();
  ASSERT_TRUE(errors);
  ComPtr<_QXError> view;
  auto source = Bstr(L"Remote.Source");
  auto text = Bstr(L"far away");
  ASSERT_EQ(S_OK, errors->Add(77, text.Get(), source.Get(), nullptr, 5, VarText(L"cause").Get(), view.Put()));

  for (DWORD model : {COINIT_MULTITHREADED, COINIT_APARTMENTTHREADED}) {
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(__uuidof(_QXError), view.Get(), &stream));
    Entry seen;
    std::wstring cause;
    HRESULT unmarshalled = E_FAIL;
    bool proxy = false;
    com::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread other([&] {
      CoInitializeEx(nullptr, model);
      {
        ComPtr<_QXError> remote;
        unmarshalled = CoGetInterfaceAndReleaseStream(stream, __uuidof(_QXError), remote.PutVoid());
        if (SUCCEEDED(unmarshalled)) {
          proxy = remote.Get() != view.Get();
          seen = Read(remote.Get());
          UniqueVariant value;
          if (SUCCEEDED(remote->get_Cause(value.Put())) && value.Type() == VT_BSTR) cause = Text(V_BSTR(&value.Get()));
        }
      }
      CoUninitialize();
      SetEvent(done.Get());
    });
    JoinPumping(other, done.Get());
    ASSERT_EQ(S_OK, unmarshalled) << "is the type library registered?";
    EXPECT_TRUE(proxy);
    EXPECT_EQ((Entry{77, 5, L"far away", L"Remote.Source", L""}), seen);
    EXPECT_EQ(L"cause", cause);
  }
}

}  // namespace
}  // namespace qx::test
