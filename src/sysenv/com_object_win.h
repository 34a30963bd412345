// Win32 code. The one way to write a COM object here, in place of ATL's COM map or WRL's
// RuntimeClass (mingw's WRL has only the smart pointer): a class names its interfaces once and
// inherits IUnknown from ComObject:
//
//   class Holder final : public sysenv::ComObject<sysenv::InterlockedCount,
//                                                 sysenv::ComInterface<IBindStatusCallback>,
//                                                 sysenv::ComInterface<IHttpNegotiate>> { ... };
//
// QueryInterface walks that list; AddRef and Release act on the one count of the object, whichever
// interface pointer they arrive through. An object starts with one reference, its creator's.
#pragma once

#include <windows.h>

#include <unknwn.h>

namespace sysenv {

// One entry of an object's interface list. `Interface` is a base class of the object, handed out
// for its own IID and for each IID in `AlsoAnswers` (interfaces it derives from, such as IOleWindow
// for IOleInPlaceSiteEx). IUnknown is answered by the first entry of the list.
template <typename Interface, typename... AlsoAnswers>
struct ComInterface {
  using Type = Interface;
  static bool answers(REFIID iid) {
    return IsEqualIID(iid, __uuidof(Interface)) || (IsEqualIID(iid, __uuidof(AlsoAnswers)) || ...);
  }
};

// For an object whose references are taken or dropped on more than one thread.
struct InterlockedCount {
  volatile LONG value = 1;
  LONG increment() { return InterlockedIncrement(&value); }
  LONG decrement() { return InterlockedDecrement(&value); }
  static constexpr bool kOwnsObject = true;
};

// For an object that never leaves its single-threaded apartment: plain increments and decrements.
struct ApartmentCount {
  LONG value = 1;
  LONG increment() { return ++value; }
  LONG decrement() { return --value; }
  static constexpr bool kOwnsObject = true;
};

// For an object that something else keeps alive (a member, a test's stack object): the count is
// kept and reported, and reaching zero frees nothing.
struct ObservedCount : InterlockedCount {
  static constexpr bool kOwnsObject = false;
};

// For an object that lives inside another one and counts on its owner's count.
struct OwnerCount {
  IUnknown* owner = nullptr;
  LONG increment() { return static_cast<LONG>(owner->AddRef()); }
  LONG decrement() { return static_cast<LONG>(owner->Release()); }
  static constexpr bool kOwnsObject = false;
};

template <typename Count, typename... Interfaces>
class ComObject : public Interfaces::Type... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  // E_POINTER for a null out pointer; otherwise the interface with a reference added, or null and
  // E_NOINTERFACE.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!refuses(iid)) {
      *out = IsEqualIID(iid, IID_IUnknown) ? firstInterface<Interfaces...>() : find<Interfaces...>(iid);
    }
    if (*out == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(count_.increment()); }
  // At zero an owning count is parked high while the destructor runs, so that references the
  // object's parts drop on it while they go cannot bring it to zero a second time.
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG remaining = count_.decrement();
    if constexpr (Count::kOwnsObject) {
      if (remaining == 0) {
        count_.value = kCountWhileFreeing;
        delete this;
      }
    }
    return static_cast<ULONG>(remaining);
  }

 protected:
  static constexpr LONG kCountWhileFreeing = 0x40000000;

  ComObject() = default;
  explicit ComObject(Count count) : count_(count) {}
  // Only Release destroys an owning object.
  virtual ~ComObject() = default;

  // An interface of the list that this object does not offer at the moment (a test double that
  // plays a peer without it). None by default.
  virtual bool refuses(REFIID) { return false; }

  Count& referenceCount() { return count_; }
  const Count& referenceCount() const { return count_; }

 private:
  template <typename First, typename...>
  void* firstInterface() {
    return static_cast<typename First::Type*>(this);
  }
  template <typename First, typename... Rest>
  void* find(REFIID iid) {
    if (First::answers(iid)) return static_cast<typename First::Type*>(this);
    if constexpr (sizeof...(Rest) > 0) {
      return find<Rest...>(iid);
    } else {
      return nullptr;
    }
  }

  Count count_;
};

}  // namespace sysenv
