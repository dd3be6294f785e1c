// unixODBC's odbc.ini store, kept in a file of its own: unixODBC's headers declare Windows
// types (HWND, ...) of their own that clash with the library's public header.
#pragma once

#include <string>

namespace tavix::bench {

// SQLWritePrivateProfileString(section, key, value, "odbc.ini"): true when written.
bool OdbcIniWrite(const std::string& section, const char* key, const std::string& value);

// SQLGetPrivateProfileString(section, key, "", ..., "odbc.ini"): the value, "" when missing.
std::string OdbcIniRead(const std::string& section, const char* key);

}  // namespace tavix::bench
