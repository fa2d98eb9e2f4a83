#pragma once
// Early-return helpers for HRESULT code. Each evaluates its argument once.

#include <windows.h>

#define RETURN_IF_FAILED(expr)         \
  do {                                 \
    const HRESULT hrChecked_ = (expr); \
    if (FAILED(hrChecked_)) {          \
      return hrChecked_;               \
    }                                  \
  } while (0)

// Returns E_OUTOFMEMORY when the pointer is null.
#define RETURN_IF_NULL_ALLOC(ptr) \
  do {                            \
    if ((ptr) == nullptr) {       \
      return E_OUTOFMEMORY;       \
    }                             \
  } while (0)

// Returns HRESULT_FROM_WIN32(GetLastError()) when the condition is false,
// and E_FAIL should the last error not say why.
#define RETURN_LAST_ERROR_IF_FALSE(condition)                                 \
  do {                                                                        \
    if (!(condition)) {                                                       \
      const DWORD errorChecked_ = GetLastError();                             \
      return errorChecked_ != 0 ? HRESULT_FROM_WIN32(errorChecked_) : E_FAIL; \
    }                                                                         \
  } while (0)
