#pragma once
// A mutual-exclusion lock that belongs to the module's process-wide state:
// made at load, deleted at unload. Making it can fail for lack of memory; a
// lock that was never made is simply absent, and deleting it is harmless.

#include <windows.h>

namespace server {

class ModuleLock {
 public:
  constexpr ModuleLock() noexcept = default;
  ModuleLock(const ModuleLock&) = delete;
  ModuleLock& operator=(const ModuleLock&) = delete;

  // False when the lock could not be made.
  bool create() noexcept;
  void destroy() noexcept;
  bool created() const noexcept { return section_ != nullptr; }

  void enter() noexcept { EnterCriticalSection(section_); }
  void leave() noexcept { LeaveCriticalSection(section_); }

 private:
  // On the heap, so that it lives exactly from create() to destroy() and a
  // module-wide instance needs no constructor or destructor at run time.
  CRITICAL_SECTION* section_ = nullptr;
};

// Holds a ModuleLock for its own lifetime.
class LockHolder {
 public:
  explicit LockHolder(ModuleLock& lock) noexcept : lock_(lock) { lock_.enter(); }
  ~LockHolder() { lock_.leave(); }
  LockHolder(const LockHolder&) = delete;
  LockHolder& operator=(const LockHolder&) = delete;

 private:
  ModuleLock& lock_;
};

}  // namespace server
