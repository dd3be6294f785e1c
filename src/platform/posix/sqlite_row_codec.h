// The data column of a key's row in the SQLite hive, and its value list.
//
// data: a varint id, a byte of marks, a varint name size, the key's name as given, and the
// key's values in the order they were first written (the default value, the empty name, among
// them), each a varint name size, the name, a varint type, a varint data size and the data.
// Varints are little-endian groups of 7 bits, the high bit set on every byte but the last.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/sqlite_names.h"

namespace tavix::platform::hive {

inline void PutVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

// Reads a varint from the front of in; false when in ends first or it runs past 64 bits.
inline bool GetVarint(std::string_view& in, uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (in.empty()) return false;
        const auto byte = static_cast<unsigned char>(in.front());
        in.remove_prefix(1);
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (byte < 0x80) return true;
    }
    return false;
}

// ---- value lists -----------------------------------------------------------------------------

void PutValue(std::string& out, std::string_view name, uint32_t type, std::string_view data);

struct ValueEntry {
    std::string_view name;
    uint32_t type = 0;
    std::string_view data;
    size_t begin = 0;  // the entry's bytes in the list
    size_t end = 0;
};

// The entries of a key's value list, in order.
class ValueList {
public:
    explicit ValueList(std::string_view list) : list_(list), rest_(list) {}

    // The next entry; false at the end, or when the rest is malformed (then Malformed()).
    bool Next(ValueEntry& entry) {
        if (rest_.empty()) return false;
        entry.begin = list_.size() - rest_.size();
        uint64_t nameSize = 0, type = 0, dataSize = 0;
        if (!GetVarint(rest_, nameSize) || nameSize > rest_.size()) return Bad();
        entry.name = rest_.substr(0, nameSize);
        rest_.remove_prefix(nameSize);
        if (!GetVarint(rest_, type) || type > UINT32_MAX || !GetVarint(rest_, dataSize) ||
            dataSize > rest_.size()) {
            return Bad();
        }
        entry.type = static_cast<uint32_t>(type);
        entry.data = rest_.substr(0, dataSize);
        rest_.remove_prefix(dataSize);
        entry.end = list_.size() - rest_.size();
        return true;
    }
    bool Malformed() const { return malformed_; }

private:
    bool Bad() {
        malformed_ = true;
        rest_ = {};
        return false;
    }
    std::string_view list_;
    std::string_view rest_;
    bool malformed_ = false;
};

// The entry of the value with this name: kRegOk, kRegNotFound, or kRegIoFailed for a list
// that is not well formed.
long FindValue(std::string_view list, const Name& name, ValueEntry& entry, std::string& scratch);

// Sets a value: a value of the same fold keeps its place and the name it was first written
// with; a new one goes last.
long SetValueIn(std::string& list, const Name& name, uint32_t type, std::string_view data,
                std::string& scratch);

long DeleteValueIn(std::string& list, const Name& name, std::string& scratch);

// ---- key rows --------------------------------------------------------------------------------

inline constexpr char kMarkSubkeys = 1;  // in the marks byte: the key may have subkeys

// A key's data column.
struct KeyData {
    int64_t id = 0;
    bool mayHaveSubkeys = false;
    std::string_view name;
    std::string_view values;
    size_t marksAt = 0;   // offset of the marks byte
    size_t valuesAt = 0;  // offset of the value list
};

inline bool ParseKeyData(std::string_view data, KeyData& key) {
    std::string_view rest = data;
    uint64_t id = 0, nameSize = 0;
    if (!GetVarint(rest, id) || id > INT64_MAX || rest.empty()) return false;
    key.id = static_cast<int64_t>(id);
    key.marksAt = data.size() - rest.size();
    key.mayHaveSubkeys = (rest.front() & kMarkSubkeys) != 0;
    rest.remove_prefix(1);
    if (!GetVarint(rest, nameSize) || nameSize > rest.size()) return false;
    key.name = rest.substr(0, nameSize);
    key.valuesAt = data.size() - rest.size() + nameSize;
    key.values = data.substr(key.valuesAt);
    return true;
}

void PutKeyData(std::string& out, int64_t id, bool mayHaveSubkeys, std::string_view name,
                std::string_view values);

// Registers the SQL functions over the data column, so that checking a row's id, marking it
// and setting or deleting a value are each one statement: tavix_id(data), tavix_mark(data),
// tavix_set_value(data, name, type, bytes), tavix_delete_value(data, name) and
// tavix_has_value(data, name). A data column that is not well formed fails the statement.
bool RegisterRowFunctions(sqlite3* db);

}  // namespace tavix::platform::hive
