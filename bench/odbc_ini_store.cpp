#include "odbc_ini_store.h"

#include <odbcinst.h>

namespace tavix::bench {

bool OdbcIniWrite(const std::string& section, const char* key, const std::string& value) {
    return SQLWritePrivateProfileString(section.c_str(), key, value.c_str(), "odbc.ini") != 0;
}

std::string OdbcIniRead(const std::string& section, const char* key) {
    char value[256];
    const int size = SQLGetPrivateProfileString(section.c_str(), key, "", value, sizeof value,
                                                "odbc.ini");
    return size > 0 ? std::string(value, static_cast<size_t>(size)) : std::string();
}

}  // namespace tavix::bench
