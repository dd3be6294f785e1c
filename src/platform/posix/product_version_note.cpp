// The shared library's product version as an ELF note, for tools that read it from the file
// (readelf -n, or another process's GetLocalizedResources naming this file); inside the
// process the library's own version comes from its compiled-in version record, the same text.
#include "TavixConnect.h"
#include "tavix_version.h"

TAVIXCONNECT_PRODUCT_VERSION(TAVIX_VERSION_TEXT);
