// The object model every COM class of the library is built on.
//
//   class CThing : public qx::com::ComObject<CThing, qx::com::ClassOptions{.aggregatable = true},
//                                            qx::com::Dual<IThing2>, ISupportErrorInfo, IRefresh> {
//     ... only the behaviour of the class ...
//   };
//
// ComObject supplies IUnknown for every interface of the list (QueryInterface is a fold over the
// list; an interface also answers for the bases that InterfaceBases<> names for it), the
// reference count (plain or interlocked), the module lock held by every live object, the inner
// unknown of the aggregated form, the free-threaded marshaler when asked for, and
// ISupportErrorInfo over the same list. IDispatch is answered by the class's
// `DispatchInterface` when it names one, else by the first Dual<> of the list.
//
// Objects are made only through MakeCom<D>() (inside the library) or CreateComInstance<D>()
// (class objects); Release holds the only delete.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

#include "framework/com_error.h"
#include "framework/dispatch.h"
#include "framework/module_lock.h"
#include "framework/owners.h"

namespace qx::com {

// What optional machinery a class takes.
struct ClassOptions {
  bool interlocked = false;            // counts may change on several threads at once
  bool freeThreadedMarshaler = false;  // aggregates the platform's free-threaded marshaler
  bool aggregatable = false;           // the class object may build it inside an outer object
};

// The base interfaces an interface answers for besides itself (IUnknown and IDispatch aside,
// which are answered by rule). Specialised next to the interface declarations.
template <class... I>
struct InterfaceList {};
template <class I>
struct InterfaceBases {
  using type = InterfaceList<>;
};

// The interface an entry of the list stands for: Dual<I> stands for I.
template <class E>
struct EntryInterface {
  using type = E;
};
template <class I, class F>
struct EntryInterface<Dual<I, F>> {
  using type = I;
};
template <class E>
inline constexpr bool kIsDual = false;
template <class I, class F>
inline constexpr bool kIsDual<Dual<I, F>> = true;

template <class I, class... Bases>
bool AnswersFor(REFIID iid, InterfaceList<Bases...>) {
  return iid == __uuidof(I) || ((iid == __uuidof(Bases)) || ...);
}

template <class D, class... Args>
ComPtr<D> MakeCom(Args&&... args);
template <class D>
HRESULT CreateComInstance(IUnknown* outer, REFIID iid, void** out) noexcept;

// A class that wants to recognise its own objects behind interface pointers (to reach their
// data) declares `static constexpr GUID kImplementationIid`; QueryInterface for it answers the
// implementation object itself. See ImplementationOf().
template <class D, ClassOptions Options, class... Entries>
class ComObject : public Entries... {
  static_assert(sizeof...(Entries) > 0, "a COM class implements at least one interface");
  using FirstInterface = typename EntryInterface<std::tuple_element_t<0, std::tuple<Entries...>>>::type;

 public:
  static constexpr ClassOptions kOptions = Options;

  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  // IUnknown of every interface: delegates to the outer object when aggregated.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    return outer_ ? outer_->QueryInterface(iid, out) : NonDelegatingQueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return outer_ ? outer_->AddRef() : NonDelegatingAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return outer_ ? outer_->Release() : NonDelegatingRelease(); }

  // ISupportErrorInfo over the interface list (used when the list names ISupportErrorInfo).
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) {
    if (iid == __uuidof(ISupportErrorInfo)) return S_FALSE;
    return FindEntry(iid) ? S_OK : S_FALSE;
  }

  // The object's identity: the controlling unknown.
  IUnknown* ControllingUnknown() noexcept { return outer_ ? outer_ : Identity(); }
  bool IsAggregated() const noexcept { return outer_ != nullptr; }

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** out) noexcept {
    if (!out) return E_POINTER;
    *out = nullptr;
    IUnknown* found = nullptr;
    if (iid == __uuidof(IUnknown)) {
      found = outer_ ? static_cast<IUnknown*>(&inner_) : Identity();
    } else if (iid == __uuidof(IDispatch)) {
      found = DispatchEntry();
    } else if (iid == __uuidof(IMarshal)) {
      if constexpr (Options.freeThreadedMarshaler) {
        IUnknown* marshaler = Marshaler();
        return marshaler ? marshaler->QueryInterface(iid, out) : E_NOINTERFACE;
      }
    } else {
      found = FindEntry(iid);
    }
    if constexpr (requires { D::kImplementationIid; }) {
      if (!found && iid == D::kImplementationIid) {
        NonDelegatingAddRef();
        *out = static_cast<D*>(this);
        return S_OK;
      }
    }
    if (!found) return E_NOINTERFACE;
    found->AddRef();
    *out = found;
    return S_OK;
  }

  ULONG NonDelegatingAddRef() noexcept {
    if constexpr (Options.interlocked) return static_cast<ULONG>(InterlockedIncrement(&refs_));
    return static_cast<ULONG>(++refs_);
  }
  ULONG NonDelegatingRelease() noexcept {
    LONG remaining;
    if constexpr (Options.interlocked) {
      remaining = InterlockedDecrement(&refs_);
    } else {
      remaining = --refs_;
    }
    if (remaining == 0) {
      // Steady during destruction, so that a destructor's own AddRef/Release is harmless, and
      // high enough that TryAddRef can tell a dying object.
      refs_ = kDestroying;
      delete static_cast<D*>(this);
    }
    return static_cast<ULONG>(remaining);
  }

  // A new reference, unless the object is already being destroyed: for holders of a plain
  // (uncounted) link to this object that another thread may be releasing. An aggregated object
  // lives as long as its outer object, whose count is not visible here: it takes a reference.
  bool TryAddRef() noexcept {
    if (outer_) {
      outer_->AddRef();
      return true;
    }
    static_assert(Options.interlocked, "only objects shared between threads need TryAddRef");
    for (LONG seen = refs_; seen > 0 && seen < kDestroying;) {
      const LONG before = InterlockedCompareExchange(&refs_, seen + 1, seen);
      if (before == seen) return true;
      seen = before;
    }
    return false;
  }

  // Hook for the class: runs once after construction with the count raised by one, so it may
  // hand the object out. A failure destroys the object.
  HRESULT FinalConstruct() noexcept { return S_OK; }

  template <class C>
  friend ComPtr<C> AdoptNew(C* object);
  template <class C>
  friend HRESULT CreateComInstance(IUnknown* outer, REFIID iid, void** out) noexcept;

 protected:
  ComObject() noexcept { ModuleLock::Lock(); }
  ~ComObject() { ModuleLock::Unlock(); }

 private:
  // The non-delegating unknown handed to the outer object when aggregated.
  struct InnerUnknown final : IUnknown {
    ComObject* owner = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
      return owner->NonDelegatingQueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner->NonDelegatingAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner->NonDelegatingRelease(); }
  };

  IUnknown* Identity() noexcept { return static_cast<FirstInterface*>(static_cast<D*>(this)); }

  template <class E>
  IUnknown* EntryPointer() noexcept {
    using I = typename EntryInterface<E>::type;
    return static_cast<I*>(static_cast<E*>(static_cast<D*>(this)));
  }

  IUnknown* FindEntry(REFIID iid) noexcept {
    IUnknown* found = nullptr;
    ((found = found ? found
                    : (AnswersFor<typename EntryInterface<Entries>::type>(
                           iid, typename InterfaceBases<typename EntryInterface<Entries>::type>::type{})
                           ? EntryPointer<Entries>()
                           : nullptr)),
     ...);
    return found;
  }

  IUnknown* DispatchEntry() noexcept {
    if constexpr (requires { typename D::DispatchInterface; }) {
      return static_cast<typename D::DispatchInterface*>(static_cast<D*>(this));
    } else {
      IUnknown* found = nullptr;
      ((found = found ? found : (kIsDual<Entries> ? EntryPointer<Entries>() : nullptr)), ...);
      return found;
    }
  }

  // The aggregated free-threaded marshaler, made when IMarshal is first asked for (most objects
  // never cross an apartment, and making one costs more than a small object itself). Without
  // it the object still works: IMarshal is refused and COM falls back to standard marshalling.
  IUnknown* Marshaler() noexcept {
    if (IUnknown* made = marshaler_.Get()) return made;
    IUnknown* created = nullptr;
    if (FAILED(CoCreateFreeThreadedMarshaler(ControllingUnknown(), &created))) return nullptr;
    void* const raced =
        InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(marshaler_.AddressOf()), created, nullptr);
    if (!raced) return created;
    created->Release();  // another thread made one first
    return static_cast<IUnknown*>(raced);
  }

  // Runs the framework's part of construction, then the class's.
  HRESULT Construct(IUnknown* outer) noexcept {
    outer_ = outer;
    inner_.owner = this;
    return static_cast<D*>(this)->FinalConstruct();
  }

  static constexpr LONG kDestroying = 0x40000000;

  LONG refs_ = 0;
  IUnknown* outer_ = nullptr;
  InnerUnknown inner_;
  ComPtr<IUnknown> marshaler_;
};

// Takes a freshly constructed object to its first reference and runs its FinalConstruct;
// throws a ComError when that fails (the object is then destroyed).
template <class D>
ComPtr<D> AdoptNew(D* object) {
  object->NonDelegatingAddRef();
  const HRESULT hr = object->Construct(nullptr);
  ComPtr<D> result = ComPtr<D>::Adopt(object);
  if (FAILED(hr)) throw ComError(hr);
  return result;
}

// Makes a plain (not aggregated) object inside the library. Throws std::bad_alloc, or a
// ComError when the class's FinalConstruct fails; constructors may throw too.
template <class D, class... Args>
ComPtr<D> MakeCom(Args&&... args) {
  return AdoptNew(new D(std::forward<Args>(args)...));
}

// Room for variable-length data in the same allocation, right after the object: MakeComWithRoom
// passes it to the class's `static void* operator new(size_t, TrailingRoom)`.
struct TrailingRoom {
  size_t bytes;
};

// MakeCom for a class that keeps `room` bytes after itself.
template <class D, class... Args>
ComPtr<D> MakeComWithRoom(TrailingRoom room, Args&&... args) {
  return AdoptNew(new (room) D(std::forward<Args>(args)...));
}

// The instance creator of a class object: builds the plain or the aggregated form and answers
// `iid`. Never throws.
template <class D>
HRESULT CreateComInstance(IUnknown* outer, REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer && !D::kOptions.aggregatable) return CLASS_E_NOAGGREGATION;
  D* object = nullptr;
  try {
    object = new D();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const ComError& e) {
    return e.Code();
  } catch (...) {
    return E_FAIL;
  }
  object->NonDelegatingAddRef();
  HRESULT hr = object->Construct(outer);
  if (SUCCEEDED(hr)) hr = object->NonDelegatingQueryInterface(iid, out);
  object->NonDelegatingRelease();  // destroys the object when construction or the query failed
  return hr;
}

// The implementation object of class D behind any interface pointer, with a reference, or
// empty when the object is not one of D's (another implementation of the same interface).
template <class D>
ComPtr<D> ImplementationOf(IUnknown* p) noexcept {
  void* raw = nullptr;
  if (!p || FAILED(p->QueryInterface(D::kImplementationIid, &raw)) || !raw) return {};
  return ComPtr<D>::Adopt(static_cast<D*>(raw));
}

}  // namespace qx::com
