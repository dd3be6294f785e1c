#include "connstring/wide_split.h"

#include "connstring/connection_record.h"
#include "frame/library_context.h"
#include "resources/strings.h"

namespace tavix {

namespace {

constexpr size_t npos = WStringView::npos;

// Space, horizontal tab, line feed, vertical tab, form feed and carriage return.
bool IsBlank(WChar c) noexcept { return c == ' ' || (c >= 9 && c <= 13); }

size_t SkipBlanks(WStringView text, size_t i) noexcept {
    while (i < text.size() && IsBlank(text[i])) ++i;
    return i;
}

}  // namespace

bool SplitWide(WStringView text, WideSplit& parts) noexcept {
    if (text.empty()) return false;

    // Any number of quoted sections, each passed over unread.
    size_t p = SkipBlanks(text, 0);
    while (p < text.size() && text[p] == '"') {
        const size_t closing = text.find(WChar('"'), p + 1);
        if (closing == npos) return false;
        p = SkipBlanks(text, closing + 1);
    }
    if (p < text.size() && text[p] == ':') p = SkipBlanks(text, p + 1);

    const size_t colon = text.find(WChar(':'), p);
    if (colon == npos || !IsProtocolPrefix(text.substr(p, colon - p))) return false;
    const size_t open = text.find(WChar('['), colon + 1);
    if (open == npos) return false;
    const size_t close = text.find(WChar(']'), open + 1);
    if (close == npos) return false;

    size_t rest = SkipBlanks(text, close + 1);
    if (rest < text.size() && text[rest] == ':') rest = SkipBlanks(text, rest + 1);

    parts.serverPart = text.substr(p, close + 1 - p);
    parts.namespacePart = text.substr(rest);
    return true;
}

bool WideStringsEquivalent(WStringView first, WStringView second) noexcept {
    if (first.empty() && second.empty()) return true;
    if (!first.empty() && first == second) return true;

    WideSplit a, b;
    if (!SplitWide(first, a) || !SplitWide(second, b)) return false;
    if (a.serverPart != b.serverPart) return false;
    if (a.namespacePart == b.namespacePart) return true;

    const WStringView defaultNamespace = LoadWideString(resources::kStrDefaultNamespace);
    const auto isDefault = [&](WStringView ns) {
        return ns.empty() || (!defaultNamespace.empty() && ns == defaultNamespace);
    };
    return isDefault(a.namespacePart) && isDefault(b.namespacePart);
}

}  // namespace tavix
