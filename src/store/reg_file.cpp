#include "store/reg_file.h"

#include "store/change_set.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "store/reg_file_parser.h"
#include "store/reg_file_text.h"
#include "store/stored_name.h"

namespace tavix::store {

namespace {

using platform::Registry;
using platform::RegKey;
using regfile::Change;
using regfile::Escaped;
using regfile::KeyName;
using regfile::ToNarrow;
using regfile::ToUtf16;

// Hex data breaks its line after a comma that leaves the line longer than this.
constexpr size_t kHexWrapColumn = 76;

// Whether 8-bit text comes back byte for byte from the UTF-16 of a version 5 file.
bool Faithful(std::string_view text) { return regfile::IsAscii(text) || ToNarrow(ToUtf16(text)) == text; }

// What the store's error codes mean, for messages.
std::string StoreFailure(Registry& registry, long code) {
    std::string text = "error " + std::to_string(code);
    switch (code) {
        case platform::kRegNotFound: return text + ", not found";
        case platform::kRegAccessDenied: return text + ", access denied";
        case platform::kRegInvalidParameter: return text + ", invalid name or data";
        case platform::kRegBusy: return text + ", the store is locked by another process";
        case platform::kRegDiskFull: return text + ", no space left on device";
        case platform::kRegIoFailed: return text + ", I/O error";
        case platform::kRegBadStore: {
            const std::string problem = registry.Problem();
            return text + ", store unusable" + (problem.empty() ? "" : ": " + problem);
        }
        default: return text;
    }
}

// An open key of one registry, closed when it goes; the hive's root is never closed.
class Key {
public:
    explicit Key(Registry& registry) : registry_(registry) {}
    ~Key() { reset(); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    RegKey get() const { return key_; }
    RegKey* receive() {
        reset();
        return &key_;
    }
    void reset() {
        if (key_ != 0 && key_ != platform::kCurrentUser) registry_.CloseKey(key_);
        key_ = 0;
    }

private:
    Registry& registry_;
    RegKey key_ = 0;
};

// ---- export ----------------------------------------------------------------------------------

struct Value {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

// The file's bytes as they are written: UTF-16LE after its byte-order mark.
std::u16string Quoted(std::u16string_view text) {
    std::u16string out = u"\"";
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') {
            out.push_back(u'\\');
            out.push_back(c);
        } else if (c == u'\n') {
            out.append(u"\\n");
        } else {
            out.push_back(c);
        }
    }
    out.push_back(u'"');
    return out;
}

// The file's bytes (UTF-16LE after a byte-order mark), handed to the sink a block at a time
// once a line ends: the whole file is never held.
class Writer {
public:
    explicit Writer(const RegFileSink& sink) : sink_(sink) { bytes_.reserve(kBlock + 512); }
    void Put(std::u16string_view text) {
        const size_t lineEnd = text.rfind(u'\n');
        column_ = lineEnd == std::u16string_view::npos ? column_ + text.size() : text.size() - lineEnd - 1;
        const size_t at = bytes_.size();
        bytes_.resize(at + 2 * text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            bytes_[at + 2 * i] = static_cast<char>(text[i] & 0xFF);
            bytes_[at + 2 * i + 1] = static_cast<char>(text[i] >> 8);
        }
    }
    void Line(std::u16string_view text) {
        Put(text);
        EndLine();
    }
    void EndLine() {
        Put(u"\r\n");
        if (bytes_.size() >= kBlock) Flush();
    }
    // 8-bit text of the registry: ASCII, which nearly all of it is, written without a
    // conversion; the rest through UTF-16.
    void PutText(std::string_view text) {
        if (!regfile::IsAscii(text)) return Put(ToUtf16(text));
        const size_t lineEnd = text.rfind('\n');
        column_ = lineEnd == std::string_view::npos ? column_ + text.size() : text.size() - lineEnd - 1;
        const size_t at = bytes_.size();
        bytes_.resize(at + 2 * text.size());
        for (size_t i = 0; i < text.size(); ++i) {
            bytes_[at + 2 * i] = text[i];
            bytes_[at + 2 * i + 1] = 0;
        }
    }
    // 8-bit text as a quoted string: a backslash and a quote escaped, a line break as \n.
    void PutQuoted(std::string_view text) {
        if (!regfile::IsAscii(text)) return Put(Quoted(ToUtf16(text)));
        PutText("\"");
        for (size_t from = 0; from <= text.size();) {
            const size_t special = text.find_first_of("\\\"\n", from);
            const size_t end = special == std::string_view::npos ? text.size() : special;
            PutText(text.substr(from, end - from));
            if (end == text.size()) break;
            PutText(text[end] == '\n' ? std::string_view("\\n") : std::string_view(text[end] == '"' ? "\\\"" : "\\\\"));
            from = end + 1;
        }
        PutText("\"");
    }
    size_t Column() const { return column_; }

    // Hands over what is left; false when the sink refused a block.
    bool Finish() {
        Flush();
        return !failed_;
    }

private:
    static constexpr size_t kBlock = 64 * 1024;
    void Flush() {
        if (!failed_ && !bytes_.empty()) failed_ = !sink_(bytes_);
        bytes_.clear();
    }

    const RegFileSink& sink_;
    std::string bytes_ = "\xFF\xFE";
    size_t column_ = 0;
    bool failed_ = false;
};

std::u16string Hex(uint32_t number, int minDigits) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), kDigits[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    if (out.size() < static_cast<size_t>(minDigits)) out.insert(0, minDigits - out.size(), u'0');
    return out;
}

// 8-bit string data as the UTF-16LE bytes that the registry itself keeps.
std::vector<uint8_t> Utf16Bytes(const std::vector<uint8_t>& data) {
    const std::u16string text = ToUtf16(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

// REG_SZ data that reads back unchanged from a quoted string: one zero-terminated string
// (or no data at all) without line breaks.
bool IsPlainString(const std::vector<uint8_t>& data) {
    if (data.empty()) return true;
    if (data.back() != 0) return false;
    return std::none_of(data.begin(), data.end() - 1,
                        [](uint8_t b) { return b == 0 || b == '\r' || b == '\n'; });
}

void PutHexData(Writer& out, uint32_t type, const std::vector<uint8_t>& bytes) {
    out.Put(type == platform::kRegBinary ? std::u16string(u"hex:") : u"hex(" + Hex(type, 1) + u"):");
    for (size_t i = 0; i < bytes.size(); ++i) {
        out.Put(Hex(bytes[i], 2));
        if (i + 1 == bytes.size()) break;
        out.Put(u",");
        if (out.Column() > kHexWrapColumn) out.Put(u"\\\r\n  ");
    }
}

void PutValue(Writer& out, const Value& value) {
    if (value.name.empty()) {
        out.PutText("@");
    } else {
        out.PutQuoted(value.name);
    }
    out.PutText("=");
    switch (value.type) {
        case platform::kRegSz:
            if (IsPlainString(value.data)) {
                const size_t length = value.data.empty() ? 0 : value.data.size() - 1;
                out.PutQuoted(std::string_view(reinterpret_cast<const char*>(value.data.data()), length));
            } else {
                PutHexData(out, value.type, Utf16Bytes(value.data));
            }
            break;
        case platform::kRegDword:
            if (value.data.size() == 4) {
                const uint32_t number = value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                        static_cast<uint32_t>(value.data[3]) << 24;
                out.Put(u"dword:" + Hex(number, 8));
            } else {
                PutHexData(out, value.type, value.data);
            }
            break;
        case platform::kRegExpandSz:
        case platform::kRegMultiSz:
            PutHexData(out, value.type, Utf16Bytes(value.data));
            break;
        default:
            PutHexData(out, value.type, value.data);
            break;
    }
    out.EndLine();
}

// An entry that the export refuses to write (ExportState::refusal says why); no store code.
constexpr long kRefused = -1;

struct ExportState {
    bool connectionNames;    // the exported key's subkeys are connections
    std::string failedPath;  // the key being written when the export stopped
    std::string refusal;     // why it was refused, when it was
    std::vector<Value> values = {};  // room for a key's values
};

// Why a key's values cannot be written so that they read back unchanged, or "".
std::string ValuesProblem(std::span<const Value> values, int depth, const ExportState& state) {
    for (const Value& value : values) {
        // Made only for a refusal; built in place: gcc 12 misreads "\"" + text at -O3.
        const auto shown = [&value] {
            if (value.name.empty()) return std::string("@");
            std::string quoted = Escaped(value.name);
            quoted.insert(quoted.begin(), '"');
            quoted.push_back('"');
            return quoted;
        };
        if (!Faithful(value.name)) return "the name of value " + shown() + " cannot be written unchanged";
        const bool text = regfile::HoldsText(value.type);
        const std::string_view data(reinterpret_cast<const char*>(value.data.data()), value.data.size());
        if (text && !Faithful(data)) return "value " + shown() + " holds text that cannot be written unchanged";
        if (state.connectionNames && depth == 0 && value.name.empty() &&
            (value.type == platform::kRegSz || value.type == platform::kRegExpandSz)) {
            const std::string name(data.substr(0, data.find('\0')));
            if (const char* problem = name.empty() ? nullptr : StoredNameProblem(name)) {
                return "the default connection's name \"" + Escaped(name) + "\" " + problem;
            }
        }
    }
    return {};
}

// Why a subkey's name cannot be written in a key line that reads back as that name, or "".
std::string KeyNameProblem(std::string_view name, int depth, const ExportState& state) {
    if (name.find('\n') != std::string_view::npos) {
        return "its name holds a line break, which a .reg file cannot carry in a key name";
    }
    if (!Faithful(name)) return "its name cannot be written unchanged";
    if (state.connectionNames && depth == 0) {
        if (const char* problem = StoredNameProblem(name)) return std::string("the connection name ") + problem;
    }
    return {};
}

// Writes the key line of path and the key's values, read with enumValue(index, value) (the
// registry's EnumValue on the key).
template <typename EnumValue>
long PutKey(const std::string& path, int depth, Writer& out, ExportState& state, EnumValue enumValue) {
    state.failedPath = path;
    out.PutText("[");
    out.PutText(path);
    out.PutText("]");
    out.EndLine();

    // The values are read into the state's own list, whose entries keep their room from key
    // to key.
    std::vector<Value>& values = state.values;
    size_t count = 0;
    for (uint32_t index = 0;; ++index) {
        if (count == values.size()) values.emplace_back();
        const long rc = enumValue(index, values[count]);
        if (rc == platform::kRegNoMoreItems) break;
        if (rc != platform::kRegOk) return rc;
        ++count;
    }
    const std::span<Value> read(values.data(), count);
    if (std::string problem = ValuesProblem(read, depth, state); !problem.empty()) {
        state.refusal = std::move(problem);
        return kRefused;
    }
    std::stable_partition(read.begin(), read.end(), [](const Value& v) { return v.name.empty(); });
    for (const Value& value : read) PutValue(out, value);
    out.EndLine();
    return platform::kRegOk;
}

// Large enough for any name EnumKey can report.
constexpr uint32_t kExportNameSize = 1u << 16;

// Writes the subkeys of the key at path (depth: the key's) and theirs, in one walk of each
// key: the walk shows every subkey's values, and only a subkey that may have subkeys is opened.
long ExportSubkeys(Registry& registry, RegKey key, const std::string& path, int depth, Writer& out,
                   ExportState& state) {
    long failed = platform::kRegOk;
    std::string childPath = path;
    const long walked = registry.ForEachSubkey(key, kExportNameSize, [&](platform::SubkeyView& view) {
        const std::string_view name = view.Name();
        childPath.resize(path.size());
        childPath.append("\\").append(name);
        if (std::string problem = KeyNameProblem(name, depth, state); !problem.empty()) {
            state.failedPath = childPath;
            state.refusal = std::move(problem);
            failed = kRefused;
            return false;
        }
        failed = PutKey(childPath, depth + 1, out, state, [&view](uint32_t index, Value& value) {
            return view.EnumValue(index, value.name, &value.type, &value.data);
        });
        if (failed != platform::kRegOk || !view.MayHaveSubkeys()) return failed == platform::kRegOk;
        Key child(registry);
        if ((failed = view.OpenKey("", child.receive())) != platform::kRegOk) return false;
        failed = ExportSubkeys(registry, child.get(), childPath, depth + 1, out, state);
        return failed == platform::kRegOk;
    });
    if (failed != platform::kRegOk) return failed;
    if (walked != platform::kRegOk) state.failedPath = path;
    return walked;
}

// Writes the key at path (the exported key, depth 0) and its subkeys.
long ExportKey(Registry& registry, RegKey key, const std::string& path, Writer& out, ExportState& state) {
    const long rc = PutKey(path, 0, out, state, [&](uint32_t index, Value& value) {
        return registry.EnumValue(key, index, value.name, &value.type, &value.data);
    });
    return rc != platform::kRegOk ? rc : ExportSubkeys(registry, key, path, 0, out, state);
}

// ---- import: applying ------------------------------------------------------------------------

// Applies one change; on failure says what the store refused and returns its code.
long Apply(Registry& registry, const Change& change, Key& current, std::string& what) {
    long rc = platform::kRegOk;
    switch (change.kind) {
        case Change::kCreateKey:
            current.reset();
            if (change.path.empty()) {
                *current.receive() = platform::kCurrentUser;
                return platform::kRegOk;
            }
            rc = registry.CreateKey(platform::kCurrentUser, change.path.c_str(), current.receive());
            what = "cannot create key " + KeyName(change.path);
            break;
        case Change::kDeleteKey:
            current.reset();
            // A key that is not there is fine.
            rc = registry.DeleteTree(platform::kCurrentUser, change.path.c_str());
            if (rc == platform::kRegNotFound) rc = platform::kRegOk;
            what = "cannot delete key " + KeyName(change.path);
            break;
        case Change::kSetValue:
            rc = registry.SetValue(current.get(), change.name.c_str(), change.type, change.data.data(),
                                   static_cast<uint32_t>(change.data.size()));
            what = "cannot set value " + (change.name.empty() ? std::string("@") : "\"" + change.name + "\"") +
                   " of " + KeyName(change.path);
            break;
        case Change::kDeleteValue:
            rc = registry.DeleteValue(current.get(), change.name.c_str());
            if (rc == platform::kRegNotFound) rc = platform::kRegOk;
            what = "cannot delete value " + (change.name.empty() ? std::string("@") : "\"" + change.name + "\"") +
                   " of " + KeyName(change.path);
            break;
    }
    if (rc != platform::kRegOk) what += " (" + StoreFailure(registry, rc) + ")";
    return rc;
}

}  // namespace

RegFileRules ConnectionRules() { return {"Software\\Vantorin\\Connections", true}; }

bool ExportRegFile(Registry& registry, const std::string& keyPath, const RegFileSink& sink,
                   std::string* error, const RegFileRules& rules, long* storeError) {
    if (storeError != nullptr) *storeError = platform::kRegOk;
    Key key(registry);
    long rc = platform::kRegOk;
    if (keyPath.empty()) {
        *key.receive() = platform::kCurrentUser;
    } else {
        rc = registry.OpenKey(platform::kCurrentUser, keyPath.c_str(), key.receive());
    }
    ExportState state{rules.connectionNames, KeyName(keyPath), {}};
    Writer out(sink);
    // A save that a killed process left unfinished is finished first: its journal is no
    // connection, and what it says belongs in the export.
    if (rc == platform::kRegOk && rules.connectionNames) rc = FinishPendingSave(registry, key.get());
    if (rc == platform::kRegOk) {
        out.Line(regfile::kHeader5);
        out.Line(u"");
        rc = ExportKey(registry, key.get(), KeyName(keyPath), out, state);
    }
    if (rc == platform::kRegOk) {
        if (out.Finish()) return true;
        if (error != nullptr) *error = "cannot write the file";
        return false;
    }
    if (rc != kRefused && rc != platform::kRegNotFound && storeError != nullptr) *storeError = rc;
    if (error != nullptr) {
        const std::string where = Escaped(state.failedPath);
        *error = rc == kRefused               ? "cannot export " + where + ": " + state.refusal
                 : rc == platform::kRegNotFound ? where + ": no such key"
                                                : where + ": cannot read (" + StoreFailure(registry, rc) + ")";
    }
    return false;
}

std::string ExportRegFile(Registry& registry, const std::string& keyPath, std::string* error,
                          const RegFileRules& rules, long* storeError) {
    std::string bytes;
    const RegFileSink append = [&bytes](std::string_view block) {
        bytes.append(block);
        return true;
    };
    if (!ExportRegFile(registry, keyPath, append, error, rules, storeError)) bytes.clear();
    return bytes;
}

bool ImportRegFile(Registry& registry, std::string_view fileBytes, const std::string& fileName,
                   std::string& error, const RegFileRules& rules, long* storeError) {
    if (storeError != nullptr) *storeError = platform::kRegOk;
    std::vector<Change> changes;
    if (const std::optional<regfile::ParseError> failure = regfile::ParseRegFile(fileBytes, rules, changes)) {
        error = fileName + ":" + std::to_string(failure->line) + ": " + failure->what;
        return false;
    }

    // One batch: the file lands whole or, where the store has batches, not at all.
    const auto storeFailed = [&](long rc, std::string message) {
        if (storeError != nullptr) *storeError = rc;
        error = std::move(message);
        return false;
    };
    if (const long rc = registry.BeginBatch(); rc != platform::kRegOk) {
        return storeFailed(rc, fileName + ": nothing imported (" + StoreFailure(registry, rc) + ")");
    }
    // Finished first, or its journal would later be replayed over what is imported.
    if (const long rc = rules.connectionNames ? FinishPendingSave(registry) : platform::kRegOk; rc != platform::kRegOk) {
        registry.AbortBatch();
        return storeFailed(rc, fileName + ": nothing imported (" + StoreFailure(registry, rc) + ")");
    }
    {
        Key current(registry);
        for (const Change& change : changes) {
            std::string what;
            if (const long rc = Apply(registry, change, current, what); rc != platform::kRegOk) {
                current.reset();
                registry.AbortBatch();
                return storeFailed(rc, fileName + ":" + std::to_string(change.line) + ": " + Escaped(what));
            }
        }
    }
    if (const long rc = registry.CommitBatch(); rc != platform::kRegOk) {
        return storeFailed(rc, fileName + ": nothing imported (" + StoreFailure(registry, rc) + ")");
    }
    return true;
}

}  // namespace tavix::store
