// Automation strings with the Windows layout: a 32-bit byte count, the UTF-16 text, and a
// zero character; the BSTR points at the text.
#include "platform/automation.h"

#include <cstdlib>
#include <cstring>

namespace tavix::platform {

namespace {

constexpr uint32_t kPrefix = sizeof(uint32_t);
constexpr uint32_t kTerminator = sizeof(WChar);
// Largest byte count whose block (prefix, text, terminator) still fits a 32-bit size.
constexpr uint32_t kMaxBytes = 0xFFFFFFFFu - kPrefix - kTerminator - 1;

char* Block(BSTR text) { return reinterpret_cast<char*>(text) - kPrefix; }

uint32_t StoredBytes(BSTR text) {
    uint32_t bytes;
    std::memcpy(&bytes, Block(text), sizeof bytes);
    return bytes;
}

// Allocates a BSTR of byteCount bytes copied from bytes (zeroed when bytes is null), followed
// by two zero bytes so that the text ends in a zero character whatever its byte count.
BSTR AllocBytes(const void* bytes, uint64_t byteCount) noexcept {
    if (byteCount > kMaxBytes) return nullptr;
    const auto count = static_cast<uint32_t>(byteCount);
    // Room for an odd byte count plus a whole terminating character.
    auto* block = static_cast<char*>(std::malloc(size_t{kPrefix} + count + kTerminator + 1));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &count, sizeof count);
    char* text = block + kPrefix;
    if (bytes != nullptr) {
        std::memcpy(text, bytes, count);
    } else {
        std::memset(text, 0, count);
    }
    std::memset(text + count, 0, kTerminator + 1);
    return reinterpret_cast<BSTR>(text);
}

}  // namespace

BSTR AllocString(const WChar* text, uint32_t length) noexcept {
    return AllocBytes(text, uint64_t{length} * sizeof(WChar));
}

void FreeString(BSTR text) noexcept {
    if (text != nullptr) std::free(Block(text));
}

uint32_t StringLength(BSTR text) noexcept {
    return text == nullptr ? 0 : StoredBytes(text) / sizeof(WChar);
}

}  // namespace tavix::platform

using namespace tavix;

extern "C" {

TAVIXCONNECT_EXPORT BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    const size_t length = WideLength(text);
    if (length > 0xFFFFFFFFu) return nullptr;
    return platform::AllocString(text, static_cast<uint32_t>(length));
}

TAVIXCONNECT_EXPORT BSTR SysAllocStringLen(const OLECHAR* text, unsigned int length) {
    return platform::AllocString(text, length);
}

TAVIXCONNECT_EXPORT BSTR SysAllocStringByteLen(const char* bytes, unsigned int length) {
    return platform::AllocBytes(bytes, length);
}

TAVIXCONNECT_EXPORT void SysFreeString(BSTR text) { platform::FreeString(text); }

TAVIXCONNECT_EXPORT unsigned int SysStringLen(BSTR text) { return platform::StringLength(text); }

TAVIXCONNECT_EXPORT unsigned int SysStringByteLen(BSTR text) {
    return text == nullptr ? 0 : platform::StoredBytes(text);
}

}  // extern "C"
