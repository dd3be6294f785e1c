/* The public header as a C program sees it: it must compile as C11 on both platforms.
 * The calls stand in unevaluated operands, so nothing needs the library at link time. */
#include "TavixConnect.h"

int tavix_header_c_check(void) {
    BSTR server = 0;
    return (int)(sizeof(SplitConnectionString(0, &server, 0)) + sizeof(MakeConnectionString(0, 0)) +
                 sizeof(ConnectionStringsEquivalent(0, 0)));
}
