// The tool's own view of the user's store: the outcome of a store operation, from the
// library's last error or the registry's result, and the reads that `list`, `show` and
// `default` make directly on the registry (the tool's own copy of it), each in one batch and
// without loading the library's table.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <type_traits>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace cli {

using tavix::platform::Registry;

inline constexpr char kConnectionsKey[] = "Software\\Vantorin\\Connections";

// What a store operation came to.
enum class Outcome {
    kDone,
    kNotFound,  // no such connection
    kRefused,   // not a connection string, or a name the store cannot hold
    kBusy,      // locked by another process past the busy timeout
    kFull,      // no space left on the store's device
    kIoError,   // reading or writing the store failed
    kUnusable,  // not a database, corrupt, a symbolic link, ...
    kDenied,    // the store may not be read or written
    kNoMemory,
    kFailed,    // any other code
};

// From a registry result code, and from the thread's last error after an export (errno, or
// GetLastError() on Windows, where the two are the same codes).
Outcome FromRegistry(long code);
Outcome FromLastError(unsigned long code);
unsigned long LastError();
// Whether the last error after ConnectionDialog says there is no window system to show it in.
bool IsNoWindowSystem(unsigned long code);
void ClearLastError();

// Whether the outcome is a failure of the store itself (exit status kExitStore).
bool IsStoreFailure(Outcome outcome);

// The store for messages: its file, or on Windows the registry key.
std::string StoreName(Registry& registry);

// One line for a failure of the store ("the store is locked by another process", "no space
// left on device: FILE", ...). code is shown for kFailed only. Problem() is asked for the
// reason only when the store is unusable.
std::string StoreFailureText(Outcome outcome, unsigned long code, Registry& registry);

// A connection as the store keeps it. Text is 8-bit text of the store (the ANSI code page on
// Windows, UTF-8 elsewhere), except the connection string.
struct StoredConnection {
    std::string name;              // as stored
    std::string connectionString;  // UTF-8, joined again from the parts SplitConnectionString finds
    bool isDefault = false;
    bool hasIcon = false;
    std::string iconFile;
    int32_t iconIndex = 0;
};

// An entry of the connections key that the library cannot use, and why.
struct SkippedEntry {
    std::string key;  // the subkey's name
    std::string why;
};

// A growing array of trivially copyable items that grows with realloc: a large block moves
// by remapping its pages, so growing never copies the items or touches the pages again.
template <typename T>
class GrowingArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    size_t size() const { return size_; }
    T* data() { return items_.get(); }
    const T* data() const { return items_.get(); }
    T& operator[](size_t i) { return items_.get()[i]; }
    const T& operator[](size_t i) const { return items_.get()[i]; }
    // Room for count more items at the end; nullptr when memory is out.
    T* Extend(size_t count) {
        if (size_ + count > capacity_) {
            const size_t capacity = std::max({size_ + count, capacity_ * 2, size_t{4096} / sizeof(T)});
            void* grown = std::realloc(items_.get(), capacity * sizeof(T));
            if (grown == nullptr) return nullptr;
            items_.release();
            items_.reset(static_cast<T*>(grown));
            capacity_ = capacity;
        }
        size_ += count;
        return items_.get() + size_ - count;
    }
    void Shrink(size_t size) { size_ = std::min(size, size_); }

private:
    struct Free {
        void operator()(T* items) const { std::free(items); }
    };
    std::unique_ptr<T, Free> items_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Names and connection strings of many connections, kept in one buffer: a list of 100,000
// takes a few megabytes and no allocation per connection.
class ConnectionList {
public:
    size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.size() == 0; }
    std::string_view Name(size_t i) const { return {text_.data() + rows_[i].at, rows_[i].nameSize}; }
    std::string_view ConnectionString(size_t i) const {
        return {text_.data() + rows_[i].at + rows_[i].nameSize, rows_[i].stringSize};
    }
    bool IsDefault(size_t i) const { return rows_[i].isDefault; }
    // The icon's file (8-bit text of the store) and index, when the list was read with its
    // icons and the connection has one.
    bool HasIcon(size_t i) const { return rows_[i].hasIcon; }
    std::string_view IconFile(size_t i) const {
        return {text_.data() + rows_[i].at + rows_[i].nameSize + rows_[i].stringSize, rows_[i].iconSize};
    }
    int32_t IconIndex(size_t i) const { return rows_[i].iconIndex; }

private:
    friend long ReadConnectionList(Registry&, ConnectionList&, std::vector<SkippedEntry>&, bool);
    struct Row {
        size_t at;         // the name, the connection string, then the icon file, in text_
        uint32_t place;    // the entry's place in the store's order
        uint32_t iconSize;
        int32_t iconIndex;
        uint8_t nameSize;  // both are at most 255 bytes: longer ones are passed over
        uint8_t stringSize;
        bool isDefault;
        bool hasIcon;
    };
    GrowingArray<char> text_;
    GrowingArray<Row> rows_;
};

// Every connection the library can use, in the order of the library's table (the store's
// order reversed within each of its 17 buckets of the name's hash), and the entries passed
// over, in the store's order. One walk over the connections key in one batch: kRegOk, or the
// registry's code (kRegOk with nothing when there is no connections key). withIcons reads
// each connection's icon too.
long ReadConnectionList(Registry& registry, ConnectionList& connections, std::vector<SkippedEntry>& skipped,
                        bool withIcons = false);

// The connection named `name` (8-bit; compared as the registry compares names): kRegOk,
// kRegNotFound, or the registry's code. When an entry of that name exists but cannot be used,
// kRegOk with `unusable` saying why.
long ReadConnection(Registry& registry, std::string_view name, StoredConnection& connection,
                    std::string& unusable);

// The default connection's name as the connection's key writes it ("" when there is none);
// `dangling` receives the stored default name when it names no usable connection.
long ReadDefaultConnection(Registry& registry, std::string& name, std::string& dangling);

}  // namespace cli
