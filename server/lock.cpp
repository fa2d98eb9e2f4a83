#include "server/lock.h"

#include <new>

namespace server {

bool ModuleLock::create() noexcept {
  destroy();
  auto section = new (std::nothrow) CRITICAL_SECTION;
  if (section == nullptr) {
    return false;
  }
  if (!InitializeCriticalSectionEx(section, 0, 0)) {
    delete section;
    return false;
  }
  section_ = section;
  return true;
}

void ModuleLock::destroy() noexcept {
  if (section_ != nullptr) {
    DeleteCriticalSection(section_);
    delete section_;
    section_ = nullptr;
  }
}

}  // namespace server
