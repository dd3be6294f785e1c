#include "cli_json.h"

namespace cli {

namespace {

void AppendUnicodeEscape(std::string& out, uint32_t point) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(point >> shift) & 0xF]);
}

// The length of the well-formed UTF-8 sequence at text[i] and its code point; 0 when the
// bytes there are not one (a stray continuation byte, an overlong form, a surrogate, a value
// over U+10FFFF, or a sequence cut short).
size_t Sequence(std::string_view text, size_t i, uint32_t& point) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = byte < 0x80 ? 1 : byte >= 0xC2 && byte <= 0xDF ? 2 : byte >= 0xE0 && byte <= 0xEF ? 3
                          : byte >= 0xF0 && byte <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return 0;
    point = length == 1 ? byte : length == 2 ? byte & 0x1Fu : length == 3 ? byte & 0x0Fu : byte & 0x07u;
    for (size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        point = point << 6 | (next & 0x3Fu);
    }
    if ((length == 3 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) ||
        (length == 4 && (point < 0x10000 || point > 0x10FFFF))) {
        return 0;
    }
    return length;
}

}  // namespace

void AppendJsonString(std::string& out, std::string_view text) {
    out.push_back('"');
    for (size_t i = 0; i < text.size();) {
        uint32_t point = 0;
        const size_t length = Sequence(text, i, point);
        if (length == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
            ++i;
            continue;
        }
        switch (point) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (point < 0x20 || (point >= 0x7F && point <= 0x9F) || point == 0x2028 || point == 0x2029) {
                    AppendUnicodeEscape(out, point);
                } else {
                    out.append(text.substr(i, length));
                }
        }
        i += length;
    }
    out.push_back('"');
}

bool SplitJoined(std::string_view joined, std::string_view& server, std::string_view& port,
                 std::string_view& space) {
    constexpr std::string_view kLead = "cn_iptcp:";
    if (!joined.starts_with(kLead)) return false;
    const size_t open = joined.find('[', kLead.size());
    if (open == std::string_view::npos) return false;
    const size_t close = joined.find(']', open + 1);
    if (close == std::string_view::npos) return false;
    server = joined.substr(kLead.size(), open - kLead.size());
    port = joined.substr(open + 1, close - open - 1);
    const std::string_view rest = joined.substr(close + 1);
    if (!rest.empty() && rest[0] != ':') return false;
    space = rest.empty() ? rest : rest.substr(1);
    return true;
}

void AppendJsonConnection(std::string& out, const JsonConnection& connection) {
    std::string_view server, port, space;
    SplitJoined(connection.connectionString, server, port, space);
    out += "{\"name\":";
    AppendJsonString(out, connection.name);
    out += ",\"connectionString\":";
    AppendJsonString(out, connection.connectionString);
    out += ",\"server\":";
    AppendJsonString(out, server);
    out += ",\"port\":";
    AppendJsonString(out, port);
    out += ",\"namespace\":";
    AppendJsonString(out, space);
    out += ",\"iconFile\":";
    if (connection.iconFile) {
        AppendJsonString(out, *connection.iconFile);
        out += ",\"iconIndex\":" + std::to_string(connection.iconIndex);
    } else {
        out += "null,\"iconIndex\":null";
    }
    out += connection.isDefault ? ",\"default\":true}" : ",\"default\":false}";
}

}  // namespace cli
