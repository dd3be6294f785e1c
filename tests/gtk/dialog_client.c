/* A client program as a Linux desktop program writes it: loads libTavixConnect.so by its file
 * name, calls ConnectionDialog, and prints what came back, one "key: value" line each.
 *
 *   dialog_client LIBRARY [--name N] [--connstring CS] [--title T] [--no-icon] [--twice]
 *
 * --twice calls the dialog a second time in the same process after the first returns;
 * --thread makes the first call on a thread of its own (the second is the main thread's).
 * Strings are UTF-8 on the command line and in the output; "(null)" stands for no string.
 * Before each call it prints "called: NS", the CLOCK_MONOTONIC time in nanoseconds, so that
 * the driver can tell how long the dialog took to show (the clock is the system's, shared by
 * every process). */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "TavixConnect.h"

typedef int (*ConnectionDialogFn)(BSTR*, BSTR*, const OLECHAR*, HICON*);
typedef BSTR (*SysAllocStringFn)(const OLECHAR*);
typedef void (*SysFreeStringFn)(BSTR);
typedef int (*DestroyIconFn)(HICON);

/* UTF-8 to a new zero-terminated UTF-16 string (no surrogates needed by the tests). */
static OLECHAR* Wide(const char* text) {
    size_t length = strlen(text), n = 0;
    OLECHAR* out = calloc(length + 1, sizeof(OLECHAR));
    const unsigned char* s = (const unsigned char*)text;
    while (*s) {
        unsigned c = *s++;
        if (c >= 0xE0 && s[0] && s[1]) {
            c = ((c & 0x0F) << 12) | ((s[0] & 0x3F) << 6) | (s[1] & 0x3F);
            s += 2;
        } else if (c >= 0xC0 && s[0]) {
            c = ((c & 0x1F) << 6) | (s[0] & 0x3F);
            s += 1;
        }
        out[n++] = (OLECHAR)c;
    }
    return out;
}

static void Print(const char* key, const OLECHAR* text) {
    printf("%s: ", key);
    if (text == NULL) {
        printf("(null)\n");
        return;
    }
    for (; *text; ++text) {
        unsigned c = *text;
        if (c < 0x80) {
            putchar((int)c);
        } else if (c < 0x800) {
            putchar((int)(0xC0 | (c >> 6)));
            putchar((int)(0x80 | (c & 0x3F)));
        } else {
            putchar((int)(0xE0 | (c >> 12)));
            putchar((int)(0x80 | ((c >> 6) & 0x3F)));
            putchar((int)(0x80 | (c & 0x3F)));
        }
    }
    putchar('\n');
}

static ConnectionDialogFn dialog;
static SysAllocStringFn alloc;
static SysFreeStringFn release;
static DestroyIconFn destroyIcon;
static const char *name, *connstring, *title;
static int wantIcon = 1;

/* One call of the dialog and what it handed back. */
static void* Call(void* unused) {
    (void)unused;
    OLECHAR* wideName = name ? Wide(name) : NULL;
    OLECHAR* wideConn = connstring ? Wide(connstring) : NULL;
    OLECHAR* wideTitle = title ? Wide(title) : NULL;
    BSTR nameVar = wideName ? alloc(wideName) : NULL;
    BSTR connVar = wideConn ? alloc(wideConn) : NULL;
    HICON icon = (HICON)(uintptr_t)0x5EED; /* a value the library must leave after Cancel */
    const BSTR givenName = nameVar, givenConn = connVar;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    printf("called: %lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    fflush(stdout);
    const int result = dialog(&nameVar, &connVar, wideTitle, wantIcon ? &icon : NULL);
    printf("result: %d\n", result);
    Print("name", nameVar);
    Print("connection", connVar);
    printf("same variables: %s\n", nameVar == givenName && connVar == givenConn ? "yes" : "no");
    if (wantIcon) {
        printf("icon: %s\n", icon == (HICON)(uintptr_t)0x5EED ? "untouched" : icon ? "yes" : "none");
        if (icon && icon != (HICON)(uintptr_t)0x5EED) destroyIcon(icon);
    }
    printf("end\n");
    fflush(stdout);
    release(nameVar);
    release(connVar);
    free(wideName);
    free(wideConn);
    free(wideTitle);
    return NULL;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: dialog_client LIBRARY [--name N] [--connstring CS] [--title T] [--no-icon] [--twice]\n");
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == NULL) {
        fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    dialog = (ConnectionDialogFn)dlsym(library, "ConnectionDialog");
    alloc = (SysAllocStringFn)dlsym(library, "SysAllocString");
    release = (SysFreeStringFn)dlsym(library, "SysFreeString");
    destroyIcon = (DestroyIconFn)dlsym(library, "DestroyIcon");
    if (!dialog || !alloc || !release || !destroyIcon) return 2;

    int times = 1, onThread = 0;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--name") == 0 && i + 1 < argc) name = argv[++i];
        else if (strcmp(argv[i], "--connstring") == 0 && i + 1 < argc) connstring = argv[++i];
        else if (strcmp(argv[i], "--title") == 0 && i + 1 < argc) title = argv[++i];
        else if (strcmp(argv[i], "--no-icon") == 0) wantIcon = 0;
        else if (strcmp(argv[i], "--twice") == 0) times = 2;
        else if (strcmp(argv[i], "--thread") == 0) onThread = 1;
        else return 2;
    }
    printf("pid: %ld\n", (long)getpid());
    fflush(stdout);
    for (int run = 0; run < times; ++run) {
        if (run == 0 && onThread) {
            pthread_t thread;
            if (pthread_create(&thread, NULL, Call, NULL) != 0) return 2;
            pthread_join(thread, NULL);
        } else {
            Call(NULL);
        }
    }
    return 0;
}
