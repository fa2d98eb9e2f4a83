#include "server/registrar.h"

#include <new>
#include <utility>

#include "platform/result.h"
#include "platform/unique_resource.h"

namespace server {

LONG RegistryAccess::createKey(HKEY parent, const wchar_t* name, HKEY* key) noexcept {
  return RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr,
                         key, nullptr);
}

LONG RegistryAccess::openKey(HKEY parent, const wchar_t* name, HKEY* key) noexcept {
  return RegOpenKeyExW(parent, name, 0, KEY_READ | KEY_WRITE, key);
}

LONG RegistryAccess::deleteTree(HKEY parent, const wchar_t* name) noexcept {
  return RegDeleteTreeW(parent, name);
}

LONG RegistryAccess::deleteKey(HKEY parent, const wchar_t* name) noexcept {
  return RegDeleteKeyW(parent, name);
}

LONG RegistryAccess::setValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data,
                              DWORD size) noexcept {
  return RegSetValueExW(key, name, 0, type, data, size);
}

LONG RegistryAccess::deleteValue(HKEY key, const wchar_t* name) noexcept {
  return RegDeleteValueW(key, name);
}

LONG RegistryAccess::countSubkeys(HKEY key, DWORD* count) noexcept {
  return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, count, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr);
}

namespace {

class RealRegistryAccess final : public RegistryAccess {};

RealRegistryAccess realAccess;
RegistryAccess* currentAccess = &realAccess;

using platform::HeapArray;
using script::Operation;
using script::OpKind;
using script::ValueType;

HRESULT fromWin32(LONG error) noexcept { return HRESULT_FROM_WIN32(static_cast<DWORD>(error)); }

HKEY rootHandle(script::RootKey root) noexcept {
  switch (root) {
    case script::RootKey::classesRoot:
      return HKEY_CLASSES_ROOT;
    case script::RootKey::currentUser:
      return HKEY_CURRENT_USER;
    case script::RootKey::localMachine:
      return HKEY_LOCAL_MACHINE;
    case script::RootKey::users:
      return HKEY_USERS;
    case script::RootKey::performanceData:
      return HKEY_PERFORMANCE_DATA;
    case script::RootKey::currentConfig:
      return HKEY_CURRENT_CONFIG;
    case script::RootKey::dynData:
      return HKEY_DYN_DATA;
  }
  return nullptr;
}

// A name from the script as a terminated wide string.
class Name {
 public:
  HRESULT assign(const script::Text& text) noexcept {
    RETURN_IF_FAILED(chars_.allocate(text.length + 1));
    chars_[script::copyUnescaped(text, chars_.get())] = u'\0';
    return S_OK;
  }
  // The registry functions take wchar_t, which is the same 16-bit unit.
  const wchar_t* get() const noexcept { return reinterpret_cast<const wchar_t*>(chars_.get()); }

 private:
  HeapArray<char16_t> chars_;
};

// Writes the value of a key (default, with a null name) or a `val` entry.
HRESULT setValue(RegistryAccess& access, HKEY key, const wchar_t* name, const Operation& op) noexcept {
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units");
  LONG error = ERROR_SUCCESS;
  switch (op.type) {
    case ValueType::string:
    case ValueType::expandString: {
      HeapArray<char16_t> text;
      RETURN_IF_FAILED(text.allocate(op.data.length + 1));
      const std::size_t length = script::copyUnescaped(op.data, text.get());
      text[length] = u'\0';
      error = access.setValue(key, name, op.type == ValueType::string ? REG_SZ : REG_EXPAND_SZ,
                              reinterpret_cast<const BYTE*>(text.get()),
                              static_cast<DWORD>((length + 1) * sizeof(char16_t)));
      break;
    }
    case ValueType::multiString: {
      HeapArray<char16_t> text;
      RETURN_IF_FAILED(text.allocate(op.data.length + 2));
      const std::size_t length = script::copyMultiString(op.data, text.get());
      error = access.setValue(key, name, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text.get()),
                              static_cast<DWORD>(length * sizeof(char16_t)));
      break;
    }
    case ValueType::dword: {
      const DWORD number = static_cast<DWORD>(op.number);
      error = access.setValue(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
      break;
    }
    case ValueType::qword: {
      const ULONGLONG number = op.number;
      error = access.setValue(key, name, REG_QWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
      break;
    }
    case ValueType::binary: {
      HeapArray<BYTE> bytes;
      RETURN_IF_FAILED(bytes.allocate(op.data.length / 2));
      const std::size_t size = script::copyBinary(op.data, bytes.get());
      error = access.setValue(key, name, REG_BINARY, bytes.get(), static_cast<DWORD>(size));
      break;
    }
    case ValueType::none:
      break;
  }
  return fromWin32(error);
}

// One open root or key while a block is walked.
struct Frame {
  HKEY key = nullptr;  // null when the key is missing (unregistration skips it)
  platform::UniqueKey owner;
  const Operation* op = nullptr;
};

// Registers the root block ops[first] .. ops[first].end.
HRESULT registerBlock(RegistryAccess& access, const Operation* ops, std::size_t first,
                      Frame* frames) noexcept {
  std::size_t depth = 0;
  frames[0].key = rootHandle(ops[first].root);
  frames[0].op = &ops[first];
  for (std::size_t i = first + 1; i < ops[first].end; ++i) {
    const Operation& op = ops[i];
    HKEY parent = frames[depth].key;
    switch (op.kind) {
      case OpKind::key: {
        Name name;
        RETURN_IF_FAILED(name.assign(op.name));
        if (op.forceRemove) {
          const LONG error = access.deleteTree(parent, name.get());
          if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
            return fromWin32(error);
          }
        }
        Frame& frame = frames[++depth];
        frame.op = &op;
        const LONG error = access.createKey(parent, name.get(), frame.owner.put());
        if (error != ERROR_SUCCESS) {
          return fromWin32(error);
        }
        frame.key = frame.owner.get();
        if (op.type != ValueType::none) {
          RETURN_IF_FAILED(setValue(access, frame.key, nullptr, op));
        }
        break;
      }
      case OpKind::end:
        frames[depth].owner.reset();
        frames[depth].key = nullptr;
        --depth;
        break;
      case OpKind::value: {
        Name name;
        RETURN_IF_FAILED(name.assign(op.name));
        RETURN_IF_FAILED(setValue(access, parent, name.get(), op));
        break;
      }
      case OpKind::deleteKey: {
        Name name;
        RETURN_IF_FAILED(name.assign(op.name));
        const LONG error = access.deleteTree(parent, name.get());
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
          return fromWin32(error);
        }
        break;
      }
      case OpKind::root:
        return E_UNEXPECTED;  // roots do not nest
    }
  }
  return S_OK;
}

// Closes the frame's key and deletes it if it was present, is not marked
// NoRemove and has no subkeys.
HRESULT removeKeyIfEmpty(RegistryAccess& access, HKEY parent, Frame& frame) noexcept {
  if (frame.key == nullptr) {
    return S_OK;
  }
  DWORD subkeys = 0;
  const LONG error = access.countSubkeys(frame.key, &subkeys);
  frame.owner.reset();
  frame.key = nullptr;
  if (error != ERROR_SUCCESS) {
    return fromWin32(error);
  }
  if (frame.op->noRemove || subkeys != 0) {
    return S_OK;
  }
  Name name;
  RETURN_IF_FAILED(name.assign(frame.op->name));
  const LONG deleted = access.deleteKey(parent, name.get());
  return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND ? S_OK : fromWin32(deleted);
}

HRESULT openForRemoval(RegistryAccess& access, HKEY parent, const wchar_t* name, Frame& frame) noexcept {
  frame.key = nullptr;
  if (parent == nullptr) {
    return S_OK;  // inside a missing key
  }
  const LONG error = access.openKey(parent, name, frame.owner.put());
  if (error == ERROR_FILE_NOT_FOUND) {
    return S_OK;
  }
  if (error != ERROR_SUCCESS) {
    return fromWin32(error);
  }
  frame.key = frame.owner.get();
  return S_OK;
}

// Unregisters the root block ops[first] .. ops[first].end: missing keys are
// skipped, `val` values deleted, and each key left without subkeys deleted
// unless marked NoRemove. Stops at the first failure.
HRESULT unregisterBlock(RegistryAccess& access, const Operation* ops, std::size_t first,
                        Frame* frames) noexcept {
  std::size_t depth = 0;
  frames[0].key = rootHandle(ops[first].root);
  frames[0].op = &ops[first];
  for (std::size_t i = first + 1; i < ops[first].end; ++i) {
    const Operation& op = ops[i];
    HKEY parent = frames[depth].key;
    switch (op.kind) {
      case OpKind::key: {
        Name name;
        RETURN_IF_FAILED(name.assign(op.name));
        Frame& frame = frames[++depth];
        frame.op = &op;
        RETURN_IF_FAILED(openForRemoval(access, parent, name.get(), frame));
        break;
      }
      case OpKind::end: {
        Frame& frame = frames[depth--];
        RETURN_IF_FAILED(removeKeyIfEmpty(access, frames[depth].key, frame));
        break;
      }
      case OpKind::value: {
        if (parent == nullptr || op.noRemove) {
          break;
        }
        Name name;
        RETURN_IF_FAILED(name.assign(op.name));
        const LONG error = access.deleteValue(parent, name.get());
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
          return fromWin32(error);
        }
        break;
      }
      case OpKind::deleteKey: {
        // Removed on registration; here it is an ordinary key without a block.
        Name name;
        RETURN_IF_FAILED(name.assign(op.name));
        Frame& frame = frames[depth + 1];
        frame.op = &op;
        RETURN_IF_FAILED(openForRemoval(access, parent, name.get(), frame));
        RETURN_IF_FAILED(removeKeyIfEmpty(access, parent, frame));
        break;
      }
      case OpKind::root:
        return E_UNEXPECTED;
    }
  }
  return S_OK;
}

HRESULT applyOperations(const Operation* ops, std::size_t count, std::size_t depth,
                        bool doRegister) noexcept {
  RegistryAccess& access = *currentAccess;
  for (std::size_t first = 0; first < count; first = ops[first].end + 1) {
    if (ops[first].kind != OpKind::root) {
      return E_UNEXPECTED;
    }
    HeapArray<Frame> frames;
    RETURN_IF_FAILED(frames.allocate(depth + 1));
    if (!doRegister) {
      RETURN_IF_FAILED(unregisterBlock(access, ops, first, frames.get()));
      continue;
    }
    const HRESULT hr = registerBlock(access, ops, first, frames.get());
    if (FAILED(hr)) {
      // Undo what the failed block wrote; the registration's error stands.
      for (std::size_t i = 0; i <= depth; ++i) {
        frames[i].owner.reset();  // the keys the failed walk left open
        frames[i].key = nullptr;
      }
      unregisterBlock(access, ops, first, frames.get());
      return hr;
    }
  }
  return S_OK;
}

}  // namespace

RegistryAccess* setRegistryAccess(RegistryAccess* access) noexcept {
  return std::exchange(currentAccess, access != nullptr ? access : &realAccess);
}

HRESULT applyRegistryScript(const char16_t* text, std::size_t length, const script::Replacement* replacements,
                            std::size_t count, bool doRegister) noexcept {
  std::size_t needed = 0;
  std::size_t offset = 0;
  script::Status status =
      script::expandReplacements(text, length, replacements, count, nullptr, 0, &needed, &offset);
  if (status != script::Status::ok && status != script::Status::bufferTooSmall) {
    return DISP_E_EXCEPTION;
  }
  HeapArray<char16_t> expanded;
  RETURN_IF_FAILED(expanded.allocate(needed));
  status =
      script::expandReplacements(text, length, replacements, count, expanded.get(), needed, &needed, &offset);
  if (status != script::Status::ok) {
    return DISP_E_EXCEPTION;
  }

  script::ParseResult parsed = script::parseScript(expanded.get(), needed, nullptr, 0);
  if (parsed.status != script::Status::ok && parsed.status != script::Status::bufferTooSmall) {
    return DISP_E_EXCEPTION;
  }
  HeapArray<Operation> ops;
  RETURN_IF_FAILED(ops.allocate(parsed.count));
  parsed = script::parseScript(expanded.get(), needed, ops.get(), parsed.count);
  if (parsed.status != script::Status::ok) {
    return DISP_E_EXCEPTION;
  }
  return applyOperations(ops.get(), parsed.count, parsed.depth, doRegister);
}

HRESULT applyRegistryScriptResource(const wchar_t* path, UINT resourceId, const wchar_t* type,
                                    const script::Replacement* replacements, std::size_t count,
                                    bool doRegister) noexcept {
  // The file on disk, not the image in memory: the script is what the file holds.
  platform::UniqueModule file(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
  RETURN_LAST_ERROR_IF_FALSE(file);
  HRSRC resource = FindResourceW(file.get(), MAKEINTRESOURCEW(resourceId), type);
  RETURN_LAST_ERROR_IF_FALSE(resource != nullptr);
  HGLOBAL loaded = LoadResource(file.get(), resource);
  RETURN_LAST_ERROR_IF_FALSE(loaded != nullptr);
  const DWORD size = SizeofResource(file.get(), resource);
  const auto bytes = static_cast<const char*>(LockResource(loaded));
  RETURN_LAST_ERROR_IF_FALSE(bytes != nullptr || size == 0);

  HeapArray<char16_t> text;
  int length = 0;
  if (size != 0) {
    if (size > 0x7FFFFFFF) {
      return HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);
    }
    length = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(size), nullptr, 0);
    RETURN_LAST_ERROR_IF_FALSE(length > 0);
    RETURN_IF_FAILED(text.allocate(static_cast<std::size_t>(length) + 1));
    length = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(size),
                                 reinterpret_cast<wchar_t*>(text.get()), length);
    RETURN_LAST_ERROR_IF_FALSE(length > 0);
  } else {
    RETURN_IF_FAILED(text.allocate(1));
  }
  text[static_cast<std::size_t>(length)] = u'\0';
  return applyRegistryScript(text.get(), static_cast<std::size_t>(length), replacements, count, doRegister);
}

}  // namespace server
