// The dialog command: runs the Connections manager through the ConnectionDialog export and
// prints what it handed back.
#include <cstdlib>

#include "cli.h"

namespace cli {

int Dialog(const Args& args) {
#if !defined(_WIN32)
    // On Linux the library shows its dialogs on a desktop's display (GTK 3); without one named
    // there is no window system to show them in.
    const auto named = [](const char* variable) {
        const char* value = std::getenv(variable);
        return value != nullptr && *value != '\0';
    };
    if (!named("DISPLAY") && !named("WAYLAND_DISPLAY")) {
        return Fail(kExitNoWindowSystem, "no window system is available to show the dialog");
    }
#endif
    const auto option = [&args](const char* name) -> const OLECHAR* {
        const auto found = args.options.find(name);
        return found == args.options.end() ? nullptr : found->second.c_str();
    };
    Bstr name(option("--name") ? SysAllocString(option("--name")) : nullptr);
    Bstr connectionString(option("--connstring") ? SysAllocString(option("--connstring")) : nullptr);
    HICON icon = nullptr;
    const int result = ConnectionDialog(&name.text, &connectionString.text, option("--title"),
                                        args.Has("--no-icon") ? nullptr : &icon);
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
