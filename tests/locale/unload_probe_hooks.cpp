// The library's objects linked as a second shared library with one more export, which binds a
// help viewer as a viewer loader would (the library itself never binds one). The unload test
// loads it, binds a viewer of its own and closes it, to see what the unload does with the
// viewer.
#include "locale/help.h"

extern "C" __attribute__((visibility("default"))) void TavixProbeBindViewer(tavix::help::HelpEntry entry,
                                                                             void* library, int useCount) {
    tavix::help::BindViewer(entry, library);
    tavix::help::SetUseCount(useCount);
}
