#include "server/class_object.h"

#include <new>

#include "server/module.h"

namespace server {
namespace {

// The interfaces the class object answers to; all are the one pointer.
constexpr const IID* classObjectInterfaces[] = {&IID_IUnknown, &IID_IClassFactory};

// The class table keeps one reference for itself, which does not hold the
// DLL loaded. While clients hold references as well (a count of 2 or more),
// the object holds exactly one unit of the module's lock count.
class ClassObject final : public IClassFactory {
 public:
  static HRESULT create(InstanceCreator creator, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    auto object = new (std::nothrow) ClassObject(creator);
    if (object == nullptr) {
      return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    if (FAILED(hr)) {
      delete object;  // never handed out: its count is still 0
    }
    return hr;
  }

  ClassObject(const ClassObject&) = delete;
  ClassObject& operator=(const ClassObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) noexcept override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    for (const IID* iid : classObjectInterfaces) {
      if (IsEqualIID(*iid, riid)) {
        AddRef();
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
      }
    }
    return E_NOINTERFACE;
  }

  STDMETHODIMP_(ULONG) AddRef() noexcept override {
    const LONG count = InterlockedIncrement(&referenceCount_);
    if (count == 2) {
      lockModule();
    }
    return static_cast<ULONG>(count);
  }

  STDMETHODIMP_(ULONG) Release() noexcept override {
    const LONG count = InterlockedDecrement(&referenceCount_);
    if (count == 0) {
      delete this;
    } else if (count == 1) {
      unlockModule();
    }
    return static_cast<ULONG>(count);
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept override {
    if (ppv == nullptr) {
      return E_POINTER;
    }
    *ppv = nullptr;
    // An aggregate may only ask for the inner object's own IUnknown.
    if (outer != nullptr && !IsEqualIID(riid, IID_IUnknown)) {
      return CLASS_E_NOAGGREGATION;
    }
    return creator_(outer, riid, ppv);
  }

  STDMETHODIMP LockServer(BOOL lock) noexcept override {
    if (lock) {
      lockModule();
    } else {
      unlockModule();
    }
    return S_OK;
  }

 private:
  explicit ClassObject(InstanceCreator creator) noexcept : creator_(creator) {}
  ~ClassObject() = default;

  volatile LONG referenceCount_ = 0;
  const InstanceCreator creator_;
};

}  // namespace

HRESULT createClassObject(InstanceCreator creator, REFIID riid, void** ppv) noexcept {
  return ClassObject::create(creator, riid, ppv);
}

}  // namespace server
