// The exported connection-string functions.
#include "TavixConnect.h"
#include "connstring/wide_split.h"
#include "frame/context/boundary.h"
#include "frame/app/call_frame.h"
#include "frame/context/library_context.h"
#include "platform/automation.h"
#include "resources/strings.h"

#include <algorithm>
#include <cstdint>

using namespace tavix;

extern "C" {

TAVIXCONNECT_EXPORT int TAVIXAPI SplitConnectionString(const OLECHAR* connString,
                                                       BSTR* serverPart, BSTR* namespacePart) {
    if (serverPart != nullptr) *serverPart = nullptr;
    if (namespacePart != nullptr) *namespacePart = nullptr;
    return RunExport(0, [&] {
        WideSplit parts;
        if (!SplitWide(connString, parts)) return 0;
        UniqueBstr server, space;
        if (serverPart != nullptr && !(server = UniqueBstr(NewBstr(parts.serverPart)))) return 0;
        if (namespacePart != nullptr && !(space = UniqueBstr(NewBstr(parts.namespacePart)))) return 0;
        if (serverPart != nullptr) *serverPart = server.release();
        if (namespacePart != nullptr) *namespacePart = space.release();
        return 1;
    });
}

TAVIXCONNECT_EXPORT BSTR TAVIXAPI MakeConnectionString(const OLECHAR* serverPart,
                                                       const OLECHAR* namespacePart) {
    return RunExport<BSTR>(nullptr, [&]() -> BSTR {
        const WStringView server = WideView(serverPart);
        const WStringView space = WideView(namespacePart);
        if (server.empty()) return nullptr;
        const uint64_t length = server.size() + (space.empty() ? 0 : 1 + uint64_t{space.size()});
        if (length > UINT32_MAX) return nullptr;
        BSTR joined = platform::AllocString(nullptr, static_cast<uint32_t>(length));
        if (joined == nullptr) return nullptr;
        WChar* at = std::copy(server.begin(), server.end(), joined);
        if (!space.empty()) {
            *at++ = WChar(':');
            std::copy(space.begin(), space.end(), at);
        }
        return joined;
    });
}

TAVIXCONNECT_EXPORT int TAVIXAPI ConnectionStringsEquivalent(const OLECHAR* first,
                                                             const OLECHAR* second) {
    return RunExport(0, [&] {
        const WStringView defaultNamespace = LoadWideString(resources::kStrDefaultNamespace);
        return WideStringsEquivalent(first, second, defaultNamespace) ? 1 : 0;
    });
}

}  // extern "C"
