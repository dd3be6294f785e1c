// Automation strings are the system's (OleAut32).
#include "platform/automation.h"

#include <windows.h>
#include <oleauto.h>

namespace tavix::platform {

BSTR AllocString(const WChar* text, uint32_t length) noexcept {
    return SysAllocStringLen(text, length);
}

void FreeString(BSTR text) noexcept { SysFreeString(text); }

uint32_t StringLength(BSTR text) noexcept { return SysStringLen(text); }

}  // namespace tavix::platform
