#include "registry_snapshot.h"

#include <cstdio>

#include "support/test_support.h"

namespace registry_test {

const std::vector<std::wstring>& handlerKeys() {
  static const std::vector<std::wstring> keys = {
      L"Folder\\shellex\\ContextMenuHandlers\\CmdPrompt",
      L"Directory\\shellex\\ContextMenuHandlers\\CmdPrompt",
      L"Directory\\Background\\shellex\\ContextMenuHandlers\\CmdPrompt",
      L"Drive\\shellex\\ContextMenuHandlers\\CmdPrompt"};
  return keys;
}

const std::vector<std::wstring>& sharedKeys() {
  static const std::vector<std::wstring> keys = {L"CLSID",
                                                 L"Folder",
                                                 L"Folder\\shellex",
                                                 L"Folder\\shellex\\ContextMenuHandlers",
                                                 L"Directory",
                                                 L"Directory\\shellex",
                                                 L"Directory\\shellex\\ContextMenuHandlers",
                                                 L"Directory\\Background",
                                                 L"Directory\\Background\\shellex",
                                                 L"Directory\\Background\\shellex\\ContextMenuHandlers",
                                                 L"Drive",
                                                 L"Drive\\shellex",
                                                 L"Drive\\shellex\\ContextMenuHandlers"};
  return keys;
}

namespace {

std::wstring typeName(DWORD type) {
  switch (type) {
    case REG_SZ:
      return L"REG_SZ";
    case REG_EXPAND_SZ:
      return L"REG_EXPAND_SZ";
    case REG_MULTI_SZ:
      return L"REG_MULTI_SZ";
    case REG_DWORD:
      return L"REG_DWORD";
    case REG_QWORD:
      return L"REG_QWORD";
    case REG_BINARY:
      return L"REG_BINARY";
  }
  return L"type" + std::to_wstring(type);
}

std::wstring valueText(DWORD type, const std::vector<BYTE>& data) {
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    case REG_MULTI_SZ: {
      std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
      for (wchar_t& c : text) {
        if (c == L'\0') {
          c = L'|';  // shows every terminator, so a missing or extra one is seen
        }
      }
      return text;
    }
    case REG_DWORD:
      return data.size() == 4 ? std::to_wstring(*reinterpret_cast<const DWORD*>(data.data())) : L"bad size";
    case REG_QWORD:
      return data.size() == 8 ? std::to_wstring(*reinterpret_cast<const ULONGLONG*>(data.data()))
                              : L"bad size";
    default: {
      std::wstring hex;
      for (BYTE b : data) {
        wchar_t pair[3];
        swprintf(pair, 3, L"%02x", b);
        hex += pair;
      }
      return hex;
    }
  }
}

void walk(HKEY key, const std::wstring& relative, Snapshot& out) {
  out[relative] = L"";
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD nameLength = 16384;
    DWORD type = 0;
    DWORD size = 0;
    if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      break;
    }
    std::vector<BYTE> data(size);
    nameLength = 16384;
    RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
    data.resize(size);
    out[relative + L":" + name] = typeName(type) + L" " + valueText(type, data);
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    HKEY child = nullptr;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
      walk(child, relative + L"\\" + name, out);
      RegCloseKey(child);
    }
  }
}

}  // namespace

Snapshot snapshot(HKEY root, const std::wstring& path) {
  Snapshot out;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    walk(key, path, out);
    RegCloseKey(key);
  }
  return out;
}

Snapshot registrationSnapshot() {
  Snapshot all = snapshot(HKEY_CLASSES_ROOT, classKey);
  for (const std::wstring& key : handlerKeys()) {
    Snapshot part = snapshot(HKEY_CLASSES_ROOT, key);
    all.insert(part.begin(), part.end());
  }
  return all;
}

Snapshot expectedRegistration(const std::wstring& modulePath) {
  const std::wstring server = std::wstring(classKey) + L"\\InprocServer32";
  Snapshot expected = {
      {classKey, L""},
      {std::wstring(classKey) + L":", L"REG_SZ CmdPrompt Class|"},
      {server, L""},
      {server + L":", L"REG_SZ " + modulePath + L"|"},
      {server + L":ThreadingModel", L"REG_SZ Apartment|"},
  };
  for (const std::wstring& key : handlerKeys()) {
    expected[key] = L"";
    expected[key + L":"] = L"REG_SZ " + std::wstring(classId) + L"|";
  }
  return expected;
}

bool keyExists(HKEY root, const std::wstring& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

void removeRegistration() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey);
  for (const std::wstring& key : handlerKeys()) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  }
}

std::string describe(const Snapshot& snapshot) {
  std::string text;
  for (const auto& [path, value] : snapshot) {
    text += "  " + testing_support::narrow(path) +
            (value.empty() ? "" : " = " + testing_support::narrow(value)) + "\n";
  }
  return text.empty() ? "  (nothing)\n" : text;
}

}  // namespace registry_test
