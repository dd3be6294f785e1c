#include "TavixConnect.h"
