#include "handler/process_strings.h"

namespace handler {

// Placeholder until the handler's construction step lands.
const wchar_t* comspecPath() noexcept { return L""; }

const wchar_t* verbName() noexcept { return L"Dorvanel"; }

HRESULT createProcessStrings() noexcept { return S_OK; }

void releaseProcessStrings() noexcept {}

}  // namespace handler
