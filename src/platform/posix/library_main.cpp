// The library's load hook on POSIX, built into the shared library only: start-up runs while the
// library is loaded (see frame/connect_app.cpp), so that the first export finds it done.
// Shut-down needs no hook: the application object's destructor runs it at dlclose or exit.
#include "frame/app/connect_app.h"

namespace {

__attribute__((constructor)) void StartLibrary() { tavix::StartAtLoad(); }

}  // namespace
