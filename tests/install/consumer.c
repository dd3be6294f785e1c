/* A program built against an installed TavixConnect, as a user's program is: through
 * find_package(TavixConnect) or pkg-config. It splits a connection string through the library,
 * and asks for the user's language's resources the way a client program does, naming the
 * library's own module: with LC_ALL=de_DE.UTF-8 the installed German resource library must be
 * found beside the installed library. Prints "split ok" and "resources: german" or
 * "resources: own"; exits 1 on a wrong answer. */
#define _GNU_SOURCE
#include <TavixConnect.h>

#include <dlfcn.h>
#include <stdio.h>

TAVIXCONNECT_PRODUCT_VERSION("1.0.0.0");

static int Same(const OLECHAR* a, const OLECHAR* b) {
    while (*a != 0 && *a == *b) ++a, ++b;
    return *a == *b;
}

int main(void) {
    BSTR server = NULL, space = NULL;
    if (!SplitConnectionString(u"cn_iptcp:db1[1972]:SALES", &server, &space) ||
        !Same(server, u"cn_iptcp:db1[1972]") || !Same(space, u"SALES")) {
        fprintf(stderr, "consumer: the connection string did not split as expected\n");
        return 1;
    }
    SysFreeString(server);
    SysFreeString(space);
    puts("split ok");

    Dl_info info;
    if (dladdr((void*)&SplitConnectionString, &info) == 0) return 1;
    HMODULE own = (HMODULE)info.dli_fbase;
    HMODULE chosen = GetLocalizedResources("TavixConnect%s.DLL", own);
    if (chosen == NULL) return 1;
    puts(chosen != own ? "resources: german" : "resources: own");
    if (chosen != own) FreeLocalizedResources(chosen, own);
    return 0;
}
