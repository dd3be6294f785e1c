// What the user is asked outside the dialogs: popup menus, message boxes, the file-open dialog.
#include <algorithm>
#include <string>

#include "platform/gtk/gtk_window_system.h"

namespace tavix::platform::gtk {

namespace {

struct MenuRun {
    GMainLoop* loop = nullptr;
    int chosen = 0;
};

void OnMenuItem(GtkMenuItem* item, gpointer data) {
    static_cast<MenuRun*>(data)->chosen = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "tavix-id"));
}

// The menu closes before its item is activated: the loop ends once both are done.
void OnMenuDone(GtkMenuShell*, gpointer data) {
    g_idle_add(
        [](gpointer loop) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
        },
        static_cast<MenuRun*>(data)->loop);
}

// Places a prompt of that size over the middle of its owner (of the screen without one), as the
// window manager would; without one nothing else places it.
void CenterOver(GtkWidget* window, GtkWidget* owner, int width, int height) {
    int x = 0, y = 0, areaWidth = 0, areaHeight = 0;
    if (owner) {
        gtk_window_get_position(GTK_WINDOW(owner), &x, &y);
        gtk_window_get_size(GTK_WINDOW(owner), &areaWidth, &areaHeight);
    } else {
        GdkRectangle area{};
        GdkDisplay* display = gdk_display_get_default();
        GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
        if (monitor == nullptr && display) monitor = gdk_display_get_monitor(display, 0);
        if (monitor) gdk_monitor_get_workarea(monitor, &area);
        x = area.x;
        y = area.y;
        areaWidth = area.width;
        areaHeight = area.height;
    }
    gtk_window_move(GTK_WINDOW(window), std::max(0, x + (areaWidth - width) / 2),
                    std::max(0, y + (areaHeight - height) / 2));
}

GtkMessageType MessageType(unsigned style) {
    switch (style & 0xF0) {
        case kMbIconQuestion: return GTK_MESSAGE_QUESTION;
        case kMbIconExclamation: return GTK_MESSAGE_WARNING;
        case 0x10: return GTK_MESSAGE_ERROR;
        case 0x40: return GTK_MESSAGE_INFO;
        default: return GTK_MESSAGE_OTHER;
    }
}

}  // namespace

// A prompt has closed: its window is gone, and the keyboard goes back to the running dialog.
void GtkWindowSystem::ReturnToDialog() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    --prompts_;
    if (Run* run = Active()) Activate(run->window);
}

int GtkWindowSystem::TrackPopupMenu(const std::vector<MenuItem>& items, Point screen, Window owner) {
    if (!OnGtkThread()) return 0;
    MenuRun run;
    run.loop = g_main_loop_new(nullptr, FALSE);
    ++prompts_;
    GtkWidget* menu = gtk_menu_new();
    for (const MenuItem& item : items) {
        GtkWidget* entry = item.IsSeparator() ? gtk_separator_menu_item_new()
                                              : gtk_menu_item_new_with_mnemonic(GtkMnemonic(item.text).c_str());
        if (!item.IsSeparator()) {
            g_object_set_data(G_OBJECT(entry), "tavix-id", GINT_TO_POINTER(item.id));
            gtk_widget_set_sensitive(entry, !item.grayed);
            g_signal_connect(entry, "activate", G_CALLBACK(OnMenuItem), &run);
        }
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), entry);
    }
    gtk_widget_show_all(menu);
    g_signal_connect(menu, "deactivate", G_CALLBACK(OnMenuDone), &run);
    GtkWidget* window = OwnerWindow(owner);
    if (window) gtk_menu_attach_to_widget(GTK_MENU(menu), window, nullptr);
    GdkWindow* target = window ? gtk_widget_get_window(window) : nullptr;
    // (-1, -1): the keyboard asked, and the menu opens on the focused control.
    GtkWidget* focus = window && screen.x == -1 && screen.y == -1 ? gtk_window_get_focus(GTK_WINDOW(window)) : nullptr;
    if (target) {
        GdkEvent* trigger = gtk_get_current_event();
        if (focus) {
            gtk_menu_popup_at_widget(GTK_MENU(menu), focus, GDK_GRAVITY_CENTER, GDK_GRAVITY_NORTH_WEST, trigger);
        } else {
            int x = 0, y = 0;
            gdk_window_get_origin(target, &x, &y);
            const GdkRectangle at{screen.x - x, screen.y - y, 1, 1};
            gtk_menu_popup_at_rect(GTK_MENU(menu), target, &at, GDK_GRAVITY_NORTH_WEST, GDK_GRAVITY_NORTH_WEST,
                                   trigger);
        }
        if (trigger) gdk_event_free(trigger);
        gtk_menu_shell_select_first(GTK_MENU_SHELL(menu), TRUE);
        g_main_loop_run(run.loop);
    }
    gtk_widget_destroy(menu);
    g_main_loop_unref(run.loop);
    ReturnToDialog();
    return run.chosen;
}

// A modal message box with the buttons in the language asked for. A box without a Cancel
// button cannot be closed but by one of its buttons, as on Windows.
int GtkWindowSystem::ShowMessage(Window owner, std::string_view text, std::string_view caption, unsigned style,
                                 uint16_t language) {
    const MessageButtons buttons = ButtonsFor(style, language);
    if (!OnGtkThread()) return buttons.defaultAnswer;
    GtkWidget* parent = OwnerWindow(owner);
    ++prompts_;
    GtkWidget* box = gtk_message_dialog_new(parent ? GTK_WINDOW(parent) : nullptr, GTK_DIALOG_MODAL,
                                            MessageType(style), GTK_BUTTONS_NONE, "%s", std::string(text).c_str());
    gtk_window_set_title(GTK_WINDOW(box), std::string(caption).c_str());
    gtk_window_set_position(GTK_WINDOW(box), parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    atk_object_set_name(gtk_widget_get_accessible(box), std::string(caption).c_str());
    for (const MessageButton& button : buttons.buttons) {
        gtk_dialog_add_button(GTK_DIALOG(box), GtkMnemonic(button.text).c_str(), button.answer);
    }
    gtk_dialog_set_default_response(GTK_DIALOG(box), buttons.defaultAnswer);
    gtk_window_set_deletable(GTK_WINDOW(box), buttons.escapeAnswer != 0);
    gtk_widget_show(box);
    int width = 0, height = 0;
    gtk_window_get_size(GTK_WINDOW(box), &width, &height);
    CenterOver(box, parent, width, height);
    Activate(box);
    int answer = 0;
    while (answer <= 0) {
        const int response = gtk_dialog_run(GTK_DIALOG(box));
        if (response > 0) {
            answer = response;
        } else if (buttons.escapeAnswer != 0) {
            answer = buttons.escapeAnswer;
        }
    }
    gtk_widget_destroy(box);
    ReturnToDialog();
    return answer;
}

// The open-file dialog with the request's filters in order (the first one chosen), starting at
// the initial file's folder.
std::optional<std::string> GtkWindowSystem::OpenFileDialog(const FileDialogRequest& request) {
    if (!OnGtkThread()) return std::nullopt;
    GtkWidget* parent = OwnerWindow(request.owner);
    ++prompts_;
    GtkWidget* chooser = gtk_file_chooser_dialog_new(nullptr, parent ? GTK_WINDOW(parent) : nullptr,
                                                     GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel", GTK_RESPONSE_CANCEL,
                                                     "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
    gtk_window_set_position(GTK_WINDOW(chooser), parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    gtk_window_set_default_size(GTK_WINDOW(chooser), 640, 420);
    for (const auto& [description, pattern] : request.filters) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, description.c_str());
        for (const std::string& one : FilterPatterns(pattern)) {
            gtk_file_filter_add_pattern(filter, one.c_str());
            std::string upper = one;
            for (char& c : upper) c = static_cast<char>(g_ascii_toupper(c));
            if (upper != one) gtk_file_filter_add_pattern(filter, upper.c_str());
        }
        gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
    }
    if (!request.initialFile.empty()) {
        if (g_path_is_absolute(request.initialFile.c_str())) {
            gchar* folder = g_path_get_dirname(request.initialFile.c_str());
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), folder);
            g_free(folder);
        }
    }
    gtk_widget_show(chooser);
    // The chooser restores the size it last had, which may be the whole screen: a dialog's
    // size, over its owner.
    gtk_window_resize(GTK_WINDOW(chooser), 640, 420);
    CenterOver(chooser, parent, 640, 420);
    Activate(chooser);
    std::optional<std::string> chosen;
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser))) {
            chosen = file;
            g_free(file);
        }
    }
    gtk_widget_destroy(chooser);
    ReturnToDialog();
    return chosen;
}

}  // namespace tavix::platform::gtk
