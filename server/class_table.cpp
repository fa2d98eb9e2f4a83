#include "server/class_table.h"

#include "handler/cmd_prompt.h"
#include "server/registration.h"

namespace server {

const CLSID CLSID_CmdPrompt = {0x6D0C4A27, 0x3B91, 0x4E58, {0x9F, 0x2A, 0x71, 0xC5, 0xE0, 0x8D, 0x3B, 0x46}};

namespace {

// Placeholder until the class object lands.
HRESULT createClassObject(InstanceCreator, REFIID, void** ppv) noexcept {
  if (ppv == nullptr) {
    return E_POINTER;
  }
  *ppv = nullptr;
  return E_NOTIMPL;
}

ClassEntry entries[] = {
    {&CLSID_CmdPrompt, registerCmdPromptClass, createClassObject, handler::CmdPrompt::create, nullptr,
     nullptr},
};

}  // namespace

ClassEntry* classTable() noexcept { return entries; }

std::size_t classTableSize() noexcept { return sizeof entries / sizeof entries[0]; }

}  // namespace server
