// The connection-string parser's defaults as the current context has them: the default
// namespace (string 2009) and the name of a nameless connection (string 2012) from the current
// resource source, and the lead bytes of the current code page. The views stay valid while the
// context's string tables do.
#pragma once

#include "connstring/connection_record.h"

namespace tavix {

ParseDefaults CurrentParseDefaults();

}  // namespace tavix
