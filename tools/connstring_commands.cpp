// Commands on connection strings: split, make, equivalent.
#include "cli.h"

namespace cli {

int Split(const Args& args) {
    Bstr server, space;
    if (!SplitConnectionString(args.Positional(0), &server.text, &space.text)) {
        return Fail(kExitNo, "not a connection string: \"" + Utf8(args.positional[0]) + "\"");
    }
    Print("server part:    " + Utf8(server.text) + "\nnamespace part: " + Utf8(space.text) + "\n");
    return kExitOk;
}

int Make(const Args& args) {
    Bstr joined(MakeConnectionString(args.Positional(0), args.Positional(1)));
    if (joined.text == nullptr) return Fail(kExitNo, "no connection string: the server part is empty");
    Print(Utf8(joined.text) + "\n");
    return kExitOk;
}

int Equivalent(const Args& args) {
    const bool same = ConnectionStringsEquivalent(args.Positional(0), args.Positional(1)) != 0;
    Print(same ? "equivalent\n" : "not equivalent\n");
    return same ? kExitOk : kExitNo;
}

}  // namespace cli
