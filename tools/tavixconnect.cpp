// tavixconnect: the command-line client of TavixConnect.
//
// Exit status: 0 done (or "yes"), 1 the answer is "no" or the input was not understood,
// 2 bad usage, 3 a dialog cannot be shown here, 4 the store failed (nothing changed).
#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "cli.h"

#ifndef TAVIX_PRODUCT_VERSION
#  define TAVIX_PRODUCT_VERSION "unknown"
#endif

// The tool's product version, readable from its file (readelf -n) on ELF platforms.
TAVIXCONNECT_PRODUCT_VERSION(TAVIX_PRODUCT_VERSION);

namespace cli {
namespace {

constexpr const char* kUsage =
    "usage: tavixconnect COMMAND [ARGUMENTS]\n"
    "\n"
    "Connection strings (\"cn_iptcp:SERVER[PORT]\" with an optional \":NAMESPACE\"):\n"
    "  split CONNSTRING             print the server part and the namespace part\n"
    "  make SERVERPART [NAMESPACE]  join a server part and a namespace\n"
    "  equivalent A B               tell whether A and B address the same server,\n"
    "                               port and namespace (exit 0 yes, 1 no)\n"
    "\n"
    "The user's connections:\n"
    "  list [--json]                every connection (* marks the default); entries the\n"
    "                               library cannot use are named on standard error\n"
    "  show NAME [--json]           one connection\n"
    "  name CONNSTRING              the name of the connection a connection string means\n"
    "  set NAME CONNSTRING [--icon FILE [--index N]] [--no-save]\n"
    "                               create or replace a connection (NAME may be \"\" when\n"
    "                               the connection string carries the name)\n"
    "  delete NAME                  delete a connection\n"
    "  rename OLD NEW               rename a connection (the default follows it)\n"
    "  copy NAME NEW                copy a connection under a new name\n"
    "  default [NAME]               show or set the default connection (\"\" clears it)\n"
    "  export [-o FILE]             the connections as a .reg file (regedit's format)\n"
    "  import FILE                  merge a .reg file into the user's connections\n"
    "  where                        where the connections are kept, and the store's state\n"
    "                               (it only looks: no store is made)\n"
    "  dialog [--name N] [--connstring CS] [--title T] [--no-icon]\n"
    "                               run the Connections dialog with N or CS preselected and\n"
    "                               print the connection chosen (exit 1 when cancelled)\n"
    "\n"
    "  --help                       show this text\n"
    "  --version                    show the product version\n"
    "\n"
    "show, list, default and export read the store directly; names and strings are shown\n"
    "with control characters escaped (\\n, \\x1b, ...) and a backslash as \\\\.\n"
    "With --json, list prints an array and show an object, one connection a line, with\n"
    "the keys name, connectionString, server, port, namespace (strings), iconFile (a\n"
    "string or null), iconIndex (a number or null) and default (true or false).\n"
    "\n"
    "Exit status: 0 done, 1 the answer is no or the input was not understood, 2 bad usage,\n"
    "3 no window system to show a dialog in, 4 the store failed (locked by another process,\n"
    "no space left, an I/O error, unusable or not accessible): nothing was changed.\n";

struct Command {
    std::string_view name;
    size_t minArgs;
    size_t maxArgs;
    std::string_view argsText;
    std::set<std::string> valueOptions;  // options that take a value
    std::set<std::string> flags;         // options that take none
    int (*run)(const Args&);
};

const Command kCommands[] = {
    {"split", 1, 1, "CONNSTRING", {}, {}, Split},
    {"make", 1, 2, "SERVERPART [NAMESPACE]", {}, {}, Make},
    {"equivalent", 2, 2, "A B", {}, {}, Equivalent},
    {"list", 0, 0, "[--json]", {}, {"--json"}, List},
    {"show", 1, 1, "NAME [--json]", {}, {"--json"}, Show},
    {"name", 1, 1, "CONNSTRING", {}, {}, Name},
    {"set", 2, 2, "NAME CONNSTRING [--icon FILE [--index N]] [--no-save]", {"--icon", "--index"}, {"--no-save"}, Set},
    {"delete", 1, 1, "NAME", {}, {}, Delete},
    {"rename", 2, 2, "OLD NEW", {}, {}, Rename},
    {"copy", 2, 2, "NAME NEW", {}, {}, Copy},
    {"default", 0, 1, "[NAME]", {}, {}, Default},
    {"export", 0, 0, "[-o FILE]", {"-o"}, {}, Export},
    {"import", 1, 1, "FILE", {}, {}, Import},
    {"where", 0, 0, "no arguments", {}, {}, Where},
    {"dialog", 0, 0, "[--name N] [--connstring CS] [--title T] [--no-icon]",
     {"--name", "--connstring", "--title"}, {"--no-icon"}, Dialog},
};

#if defined(_WIN32)
using ArgChar = wchar_t;
WideString ArgText(const wchar_t* arg) { return WideString(arg); }
#else
using ArgChar = char;
WideString ArgText(const char* arg) { return WideFromUtf8(arg); }
#endif

int Run(int argc, ArgChar** argv) {
    if (argc < 2) return UsageError("no command given");
    const std::string first = Utf8(ArgText(argv[1]));
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (first == "--version") {
        std::printf("tavixconnect %s\n", TAVIX_PRODUCT_VERSION);
        return kExitOk;
    }
    for (const Command& command : kCommands) {
        if (command.name != first) continue;
        const std::string usage = std::string(command.name) + " takes " + std::string(command.argsText);
        Args args;
        bool optionsEnd = false;
        for (int i = 2; i < argc; ++i) {
            WideString arg = ArgText(argv[i]);
            const std::string text = Utf8(arg);
            if (!optionsEnd && text == "--") {
                optionsEnd = true;
            } else if (!optionsEnd && text.size() > 1 && text[0] == '-') {
                if (command.flags.count(text)) {
                    args.options[text];
                } else if (command.valueOptions.count(text)) {
                    if (i + 1 >= argc) return UsageError(text + " needs a value");
                    args.options[text] = ArgText(argv[++i]);
                } else {
                    return UsageError("unknown option '" + text + "' for " + std::string(command.name));
                }
            } else {
                args.positional.push_back(std::move(arg));
            }
        }
        if (args.positional.size() < command.minArgs || args.positional.size() > command.maxArgs) {
            return UsageError(usage);
        }
        return command.run(args);
    }
    if (!first.empty() && first[0] == '-') return UsageError("unknown option '" + first + "'");
    return UsageError("unknown command '" + first + "'");
}

}  // namespace
}  // namespace cli

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) { return cli::Run(argc, argv); }
#else
int main(int argc, char** argv) { return cli::Run(argc, argv); }
#endif
