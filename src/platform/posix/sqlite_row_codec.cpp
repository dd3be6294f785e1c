#include "platform/posix/sqlite_row_codec.h"

#include "platform/registry.h"

namespace tavix::platform::hive {

void PutValue(std::string& out, std::string_view name, uint32_t type, std::string_view data) {
    PutVarint(out, name.size());
    out.append(name);
    PutVarint(out, type);
    PutVarint(out, data.size());
    out.append(data);
}

long FindValue(std::string_view list, const Name& name, ValueEntry& entry, std::string& scratch) {
    ValueList values(list);
    const bool isDefault = name.Text().empty();
    while (values.Next(entry)) {
        if (entry.name.empty() || isDefault) {
            if (entry.name.empty() && isDefault) return kRegOk;
            continue;
        }
        if (HasFold(entry.name, name.Fold(), scratch)) return kRegOk;
    }
    return values.Malformed() ? kRegIoFailed : kRegNotFound;
}

long SetValueIn(std::string& list, const Name& name, uint32_t type, std::string_view data,
                std::string& scratch) {
    ValueEntry entry;
    const long found = FindValue(list, name, entry, scratch);
    if (found == kRegNotFound) {
        PutValue(list, name.Text(), type, data);
        return kRegOk;
    }
    if (found != kRegOk) return found;
    std::string replacement;
    PutValue(replacement, entry.name, type, data);
    list.replace(entry.begin, entry.end - entry.begin, replacement);
    return kRegOk;
}

long DeleteValueIn(std::string& list, const Name& name, std::string& scratch) {
    ValueEntry entry;
    const long found = FindValue(list, name, entry, scratch);
    if (found == kRegOk) list.erase(entry.begin, entry.end - entry.begin);
    return found;
}

void PutKeyData(std::string& out, int64_t id, bool mayHaveSubkeys, std::string_view name,
                std::string_view values) {
    PutVarint(out, static_cast<uint64_t>(id));
    out.push_back(mayHaveSubkeys ? kMarkSubkeys : 0);
    PutVarint(out, name.size());
    out.append(name);
    out.append(values);
}

namespace {

std::string_view ArgumentBytes(sqlite3_value* value) {
    const void* data = sqlite3_value_blob(value);
    const int size = sqlite3_value_bytes(value);
    return data == nullptr ? std::string_view{}
                           : std::string_view(static_cast<const char*>(data), size);
}

bool ArgumentKey(sqlite3_context* context, sqlite3_value* value, KeyData& key) {
    if (ParseKeyData(ArgumentBytes(value), key)) return true;
    sqlite3_result_error(context, "malformed registry key row", -1);
    return false;
}

void ResultKeyData(sqlite3_context* context, const std::string& data) {
    sqlite3_result_blob64(context, data.data(), data.size(), SQLITE_TRANSIENT);
}

void IdFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    KeyData key;
    if (ArgumentKey(context, arguments[0], key)) sqlite3_result_int64(context, key.id);
}

void MarkFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    KeyData key;
    if (!ArgumentKey(context, arguments[0], key)) return;
    std::string data(ArgumentBytes(arguments[0]));
    data[key.marksAt] = static_cast<char>(data[key.marksAt] | kMarkSubkeys);
    ResultKeyData(context, data);
}

// Changes the value list of a data column with change(list, name, scratch).
template <typename Change>
void ChangeValues(sqlite3_context* context, sqlite3_value** arguments, Change change) {
    KeyData key;
    if (!ArgumentKey(context, arguments[0], key)) return;
    const std::string_view data = ArgumentBytes(arguments[0]);
    std::string values(key.values);
    Name name;
    name.Assign(ArgumentBytes(arguments[1]));
    std::string scratch;
    if (change(values, name, scratch) == kRegIoFailed) {
        sqlite3_result_error(context, "malformed value list", -1);
        return;
    }
    std::string out(data.substr(0, key.valuesAt));
    out += values;
    ResultKeyData(context, out);
}

void SetValueFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    const auto type = static_cast<uint32_t>(sqlite3_value_int64(arguments[2]));
    const std::string_view bytes = ArgumentBytes(arguments[3]);
    ChangeValues(context, arguments,
                 [&](std::string& list, const Name& name, std::string& scratch) {
                     return SetValueIn(list, name, type, bytes, scratch);
                 });
}

void DeleteValueFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    ChangeValues(context, arguments, [](std::string& list, const Name& name, std::string& scratch) {
        return DeleteValueIn(list, name, scratch);
    });
}

void HasValueFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    KeyData key;
    if (!ArgumentKey(context, arguments[0], key)) return;
    Name name;
    name.Assign(ArgumentBytes(arguments[1]));
    ValueEntry entry;
    std::string scratch;
    const long found = FindValue(key.values, name, entry, scratch);
    if (found == kRegIoFailed) {
        sqlite3_result_error(context, "malformed value list", -1);
        return;
    }
    sqlite3_result_int(context, found == kRegOk ? 1 : 0);
}

}  // namespace

bool RegisterRowFunctions(sqlite3* db) {
    constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY;
    const struct {
        const char* name;
        int arguments;
        void (*function)(sqlite3_context*, int, sqlite3_value**);
    } functions[] = {
        {"tavix_id", 1, IdFunction},
        {"tavix_mark", 1, MarkFunction},
        {"tavix_set_value", 4, SetValueFunction},
        {"tavix_delete_value", 2, DeleteValueFunction},
        {"tavix_has_value", 2, HasValueFunction},
    };
    for (const auto& f : functions) {
        if (sqlite3_create_function_v2(db, f.name, f.arguments, kFlags, nullptr, f.function,
                                       nullptr, nullptr, nullptr) != SQLITE_OK) {
            return false;
        }
    }
    return true;
}

}  // namespace tavix::platform::hive
