#pragma once
// A minimal data object that offers a list of paths as CF_HDROP in global
// memory, the form in which Explorer hands a selection to a shell extension.

#include <objidl.h>
#include <windows.h>

#include <string>
#include <vector>

namespace host {

// Returns a new data object with a reference count of 1, or null when memory
// runs out.
IDataObject* createDropDataObject(const std::vector<std::wstring>& paths);

}  // namespace host
