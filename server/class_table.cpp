#include "server/class_table.h"

#include <atomic>
#include <utility>

#include "handler/cmd_prompt.h"
#include "server/class_object.h"
#include "server/lock.h"
#include "server/registration.h"
#include "server/server.h"

namespace server {

const CLSID CLSID_CmdPrompt = {0x6D0C4A27, 0x3B91, 0x4E58, {0x9F, 0x2A, 0x71, 0xC5, 0xE0, 0x8D, 0x3B, 0x46}};

namespace {

ClassEntry entries[] = {
    {&CLSID_CmdPrompt, registerCmdPromptClass, createClassObject, handler::CmdPrompt::create, nullptr,
     nullptr},
};

// Serialises the making of cached class objects; held for nothing else.
ModuleLock classTableLock;
// Set at load once the lock exists; written only under the loader's lock.
bool classTableReady = false;

ClassEntry* findEntry(REFCLSID rclsid) noexcept {
  for (ClassEntry& entry : entries) {
    if (IsEqualCLSID(*entry.classId, rclsid)) {
      return &entry;
    }
  }
  return nullptr;
}

// The entry's class object, made on first use. Concurrent first requests
// meet at the lock; the one that comes second finds the object made.
HRESULT cachedClassObject(ClassEntry& entry, IUnknown** object) noexcept {
  std::atomic_ref<IUnknown*> cached(entry.cachedClassObject);
  *object = cached.load(std::memory_order_acquire);
  if (*object != nullptr) {
    return S_OK;
  }
  LockHolder hold(classTableLock);
  *object = cached.load(std::memory_order_acquire);
  if (*object != nullptr) {
    return S_OK;
  }
  IUnknown* made = nullptr;
  const HRESULT hr =
      entry.createClassObject(entry.instanceCreator, IID_IUnknown, reinterpret_cast<void**>(&made));
  if (SUCCEEDED(hr) && made != nullptr) {
    cached.store(made, std::memory_order_release);
    *object = made;
  }
  return hr;
}

}  // namespace

ClassEntry* classTable() noexcept { return entries; }

std::size_t classTableSize() noexcept { return sizeof entries / sizeof entries[0]; }

bool createClassTable() noexcept {
  for (ClassEntry& entry : entries) {
    entry.cachedClassObject = nullptr;
  }
  classTableReady = classTableLock.create();
  return classTableReady;
}

void releaseClassTable() noexcept {
  if (!classTableReady) {
    return;
  }
  for (ClassEntry& entry : entries) {
    // Drops the table's own reference: the object goes unless a client
    // still holds it.
    if (IUnknown* object = std::exchange(entry.cachedClassObject, nullptr)) {
      object->Release();
    }
  }
  classTableLock.destroy();
  classTableReady = false;
}

HRESULT getClassObject(REFCLSID rclsid, REFIID riid, void** ppv) noexcept {
  if (!classTableReady) {
    return E_UNEXPECTED;
  }
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  ClassEntry* entry = findEntry(rclsid);
  if (entry == nullptr) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  IUnknown* object = nullptr;
  HRESULT hr = cachedClassObject(*entry, &object);
  if (object != nullptr) {
    hr = object->QueryInterface(riid, ppv);
  }
  if (*ppv == nullptr && hr == S_OK) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return hr;
}

}  // namespace server
