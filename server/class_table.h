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
  IUnknown* cachedClassObject;
  // The component categories the class registers; null for none.
  const CATID* (*categories)() noexcept;
};

// The table, in order; classTableSize() entries.
ClassEntry* classTable() noexcept;
std::size_t classTableSize() noexcept;

}  // namespace server
