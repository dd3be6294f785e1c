// The dialog command: runs the Connections manager through the ConnectionDialog export and
// prints what it handed back.
#include "cli.h"
#include "cli_store.h"

namespace cli {

int Dialog(const Args& args) {
    const auto option = [&args](const char* name) -> const OLECHAR* {
        const auto found = args.options.find(name);
        return found == args.options.end() ? nullptr : found->second.c_str();
    };
    Bstr name(option("--name") ? SysAllocString(option("--name")) : nullptr);
    Bstr connectionString(option("--connstring") ? SysAllocString(option("--connstring")) : nullptr);
    HICON icon = nullptr;
    ClearLastError();
    const int result = ConnectionDialog(&name.text, &connectionString.text, option("--title"),
                                        args.Has("--no-icon") ? nullptr : &icon);
    // No window system (on Linux: no display, or no GTK to show the dialog with).
    if (!result && IsNoWindowSystem(LastError())) {
        return Fail(kExitNoWindowSystem, "no window system is available to show the dialog");
    }
    // After Cancel the name and connection string are the ones given.
    std::string text = "result:     " + std::string(result ? "connect" : "cancel") +
                       "\nname:       " + Utf8(name.text) +
                       "\nconnection: " + Utf8(connectionString.text) + "\n";
    if (icon != nullptr) {
        text += "icon:       yes\n";
        DestroyIcon(icon);
    }
    Print(text);
    return result ? kExitOk : kExitNo;
}

}  // namespace cli
