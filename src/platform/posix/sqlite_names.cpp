#include "platform/posix/sqlite_names.h"

#include "platform/codepage.h"
#include "platform/name_fold.h"

namespace tavix::platform::hive {

void AppendFold(std::string_view text, std::string& fold) {
    platform::AppendFold(text, SystemCodePage(), fold);
}

bool HasFold(std::string_view stored, std::string_view fold, std::string& scratch) {
    if (IsAscii(stored)) {
        if (stored.size() != fold.size()) return false;
        for (size_t i = 0; i < stored.size(); ++i) {
            const char c = stored[i];
            if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c) != fold[i]) {
                return false;
            }
        }
        return true;
    }
    scratch.clear();
    AppendFold(stored, scratch);
    return scratch == fold;
}

}  // namespace tavix::platform::hive
