/* A Linux client of the library, built twice: with its product version declared through
 * TAVIXCONNECT_PRODUCT_VERSION (TAVIX_CLIENT_VERSION defined) and without. It loads the library
 * named by argv[1] by its path and, by argv[2]:
 *   resources  calls GetLocalizedResources("TavixConnect%s.DLL", NULL) for itself and prints
 *              "library" when it got a resource library, "program" when it got its own module;
 *   name       writes "loaded" to standard error once the library is loaded and removes the
 *              TavixConnectDEU.DLL beside argv[1] (start-up has read it by then), prints its
 *              own help directory (getHelpDir), sets an unnamed connection (not saved), and
 *              prints the name the library gave it: "Nameless" from the library's own strings,
 *              "Namenlos" from the German resource library.
 * Message boxes are lines on standard error. Exit status 0, or 2 and up for a failed step. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "TavixConnect.h"

#if defined(TAVIX_CLIENT_VERSION)
TAVIXCONNECT_PRODUCT_VERSION(TAVIX_CLIENT_VERSION);
#endif

typedef HMODULE (*GetLocalizedResourcesFunction)(const char *, HMODULE);
typedef int (*SetConnectionFunction)(const OLECHAR *, const OLECHAR *, const OLECHAR *, int, int);
typedef BSTR (*FindConnectionNameFunction)(const OLECHAR *);
typedef char *(*GetHelpDirFunction)(char *);
typedef void (*SysFreeStringFunction)(BSTR);

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) return 3;
    if (strcmp(argv[2], "resources") == 0) {
        GetLocalizedResourcesFunction localized =
            (GetLocalizedResourcesFunction)dlsym(library, "GetLocalizedResources");
        if (localized == NULL) return 4;
        printf("%s\n", localized("TavixConnect%s.DLL", NULL) != NULL ? "library" : "program");
        return 0;
    }
    if (strcmp(argv[2], "name") == 0) {
        SetConnectionFunction set = (SetConnectionFunction)dlsym(library, "SetConnection");
        FindConnectionNameFunction find = (FindConnectionNameFunction)dlsym(library, "FindConnectionName");
        SysFreeStringFunction release = (SysFreeStringFunction)dlsym(library, "SysFreeString");
        GetHelpDirFunction helpDirectory = (GetHelpDirFunction)dlsym(library, "getHelpDir");
        if (set == NULL || find == NULL || release == NULL || helpDirectory == NULL) return 4;
        fputs("loaded\n", stderr);
        fflush(stderr);
        char german[4096];
        const char *slash = strrchr(argv[1], '/');
        snprintf(german, sizeof german, "%.*sTavixConnectDEU.DLL", slash ? (int)(slash - argv[1] + 1) : 0, argv[1]);
        unlink(german);
        printf("%s\n", helpDirectory(NULL));
        static const OLECHAR connString[] = u"cn_iptcp:h[1]";
        if (set(NULL, connString, NULL, 0, 0) != 0) return 5;
        BSTR name = find(connString);
        if (name == NULL) return 6;
        for (const OLECHAR *c = name; *c != 0; ++c) putchar(*c < 0x80 ? (char)*c : '?');
        putchar('\n');
        release(name);
        return 0;
    }
    return 2;
}
