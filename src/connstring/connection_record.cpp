#include "connstring/connection_record.h"

#include <bitset>

namespace tavix {

namespace {

constexpr size_t npos = std::string_view::npos;

// Blanks of the 8-bit parser: space and horizontal tab only.
bool IsBlank(char c) noexcept { return c == ' ' || c == '\t'; }

std::string_view SkipBlanks(std::string_view text) noexcept {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    return text.substr(i);
}

// Byte length of the character at text[i]: 2 for a lead byte with its trail byte present.
size_t CharLength(std::string_view text, size_t i, const std::bitset<256>* leadBytes) noexcept {
    return leadBytes != nullptr && i + 1 < text.size() &&
                   leadBytes->test(static_cast<unsigned char>(text[i]))
               ? 2
               : 1;
}

// The first character c at or after from, by character of the code page.
size_t FindChar(std::string_view text, size_t from, char c,
                const std::bitset<256>* leadBytes) noexcept {
    if (leadBytes == nullptr) return from >= text.size() ? npos : text.find(c, from);
    for (size_t i = from; i < text.size(); i += CharLength(text, i, leadBytes)) {
        if (text[i] == c && CharLength(text, i, leadBytes) == 1) return i;
    }
    return npos;
}

// Reads a quoted name starting at the opening quote text[0]: a doubled quote stands for one
// quote. Returns the position just after the closing quote, or npos when there is none.
size_t ReadQuotedName(std::string_view text, std::string& name,
                      const std::bitset<256>* leadBytes) {
    size_t i = 1;
    while (i < text.size()) {
        const size_t length = CharLength(text, i, leadBytes);
        if (length == 1 && text[i] == '"') {
            if (i + 1 < text.size() && text[i + 1] == '"') {
                name.push_back('"');
                i += 2;
                continue;
            }
            return i + 1;
        }
        name.append(text.substr(i, length));
        i += length;
    }
    return npos;
}

std::string_view View(const char* text) noexcept { return text ? std::string_view{text} : std::string_view{}; }

}  // namespace

bool ConnectionRecord::Parse(const char* nameArg, const char* connString, const ParseDefaults& defaults) {
    const std::bitset<256>* leadBytes = defaults.leadBytes;
    std::string_view c = View(connString);
    std::string_view n = View(nameArg);
    const bool quotedNameAllowed = n.empty() || c.empty();
    c = SkipBlanks(c);
    n = SkipBlanks(n);

    std::string workName;
    if (quotedNameAllowed && !c.empty() && c.front() == '"') {
        const size_t after = ReadQuotedName(c, workName, leadBytes);
        if (after == npos) return false;
        c = SkipBlanks(c.substr(after));
    }
    if (c.empty()) return false;
    if (workName.empty()) workName = n;

    if (c.front() == ':') c = SkipBlanks(c.substr(1));

    const size_t firstColon = FindChar(c, 0, ':', leadBytes);
    if (firstColon == npos) return false;
    size_t protocolColon = firstColon;
    if (!IsProtocolPrefix(c.substr(0, firstColon))) {
        // The first segment is a name written in front of the protocol.
        const size_t secondColon = FindChar(c, firstColon + 1, ':', leadBytes);
        if (secondColon == npos) return false;
        if (!IsProtocolPrefix(c.substr(firstColon + 1, secondColon - firstColon - 1))) return false;
        protocolColon = secondColon;
        if (workName.empty()) workName = c.substr(0, firstColon);
    }
    if (workName.empty()) workName = defaults.nameless;

    const size_t open = FindChar(c, protocolColon + 1, '[', leadBytes);
    if (open == npos) return false;
    const size_t close = FindChar(c, open + 1, ']', leadBytes);
    if (close == npos) return false;

    std::string_view rest = SkipBlanks(c.substr(close + 1));
    if (!rest.empty() && rest.front() == ':') rest = SkipBlanks(rest.substr(1));

    // The parts are copied out before any field changes: the input may be one of them.
    std::string newServer(c.substr(protocolColon + 1, open - protocolColon - 1));
    std::string newPort(c.substr(open + 1, close - open - 1));
    std::string newNamespace(rest.empty() ? defaults.defaultNamespace : rest);
    name = std::move(workName);
    server = std::move(newServer);
    port = std::move(newPort);
    namespaceName = std::move(newNamespace);
    return true;
}

void ConnectionRecord::Format(std::string& out) const {
    out.clear();
    out.reserve(kProtocolTag.size() + server.size() + port.size() + namespaceName.size() + 4);
    out.append(kProtocolTag).append(":").append(server).append("[").append(port).append("]");
    if (!namespaceName.empty()) out.append(":").append(namespaceName);
}

std::string ConnectionRecord::Format() const {
    std::string out;
    Format(out);
    return out;
}

bool ConnectionRecord::Equals(const ConnectionRecord& other) const noexcept {
    return name == other.name && server == other.server && port == other.port &&
           namespaceName == other.namespaceName;
}

bool ConnectionRecord::SameTarget(const ConnectionRecord& other,
                                  std::string_view defaultNamespace) const noexcept {
    if (server != other.server || port != other.port) return false;
    if (namespaceName == other.namespaceName) return true;
    const auto isDefault = [&](const std::string& ns) { return ns.empty() || ns == defaultNamespace; };
    return isDefault(namespaceName) && isDefault(other.namespaceName);
}

}  // namespace tavix
