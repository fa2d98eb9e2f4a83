#pragma once
// The server's table of classes: one entry per COM class it serves.

#include <comcat.h>
#include <objbase.h>
#include <windows.h>

#include <cstddef>

namespace server {

// {6D0C4A27-3B91-4E58-9F2A-71C5E08D3B46}
extern const CLSID CLSID_CmdPrompt;

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv) noexcept;

struct ClassEntry {
  const CLSID* classId;
  // Runs the class's registry script to register (TRUE) or unregister.
  HRESULT (*registerClass)(BOOL doRegister) noexcept;
  // Makes the class object bound to an instance creator.
  HRESULT (*createClassObject)(InstanceCreator creator, REFIID riid, void** ppv) noexcept;
  InstanceCreator instanceCreator;
  // Made by the first class-object request, kept until unload. Read and
  // published atomically: requests may come from any thread.
  IUnknown* cachedClassObject;
  // The component categories the class registers; null for none.
  const CATID* (*categories)() noexcept;
};

// The table, in order; classTableSize() entries.
ClassEntry* classTable() noexcept;
std::size_t classTableSize() noexcept;

// Load time: empties the cached class objects and makes the table's lock.
// Returns false when the lock could not be made; the table is then not
// ready and class-object requests fail with E_UNEXPECTED.
bool createClassTable() noexcept;
// Unload time: releases the cached class objects and deletes the lock; does
// nothing when the table never became ready.
void releaseClassTable() noexcept;

}  // namespace server
