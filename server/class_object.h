#pragma once
// The class object (IClassFactory) that COM obtains for a class of the table.

#include <windows.h>

#include "server/class_table.h"

namespace server {

// Makes a class object bound to `creator` and answers `riid` from it. A
// failed answer destroys the object again.
HRESULT createClassObject(InstanceCreator creator, REFIID riid, void** ppv) noexcept;

}  // namespace server
