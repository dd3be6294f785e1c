#include "store/record_defaults.h"

#include "frame/context/library_context.h"
#include "resources/strings.h"

namespace tavix {

ParseDefaults CurrentParseDefaults() {
    ParseDefaults defaults;
    defaults.defaultNamespace = LoadString(resources::kStrDefaultNamespace);
    defaults.nameless = LoadString(resources::kStrNameless);
    defaults.leadBytes = ActiveCodePage().LeadBytes();
    return defaults;
}

}  // namespace tavix
