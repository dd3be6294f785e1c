// The operations on any window of the GTK backend: text, state, focus, geometry, and the
// messages and input queries the dialogs ask of a window.
#include "platform/gtk/gtk_window_system.h"
#include <algorithm>
#include <utility>

namespace tavix::platform::gtk {

// ---- Any window --------------------------------------------------------------------------------
std::string GtkWindowSystem::Text(Window window) {
    Node* node = Find(window);
    if (node == nullptr) return {};
    switch (node->kind) {
        case Kind::Dialog: return gtk_window_get_title(GTK_WINDOW(node->widget)) ?: "";
        case Kind::Edit: return gtk_entry_get_text(GTK_ENTRY(node->inner));
        case Kind::Button: {
            if (node->style & ws::kBsIcon) {
                return atk_object_get_name(gtk_widget_get_accessible(node->inner)) ?: "";
            }
            const char* label = gtk_button_get_label(GTK_BUTTON(node->inner));
            return label ? WindowsMnemonic(label) : "";
        }
        case Kind::Static:
            if (GTK_IS_LABEL(node->inner)) return WindowsMnemonic(gtk_label_get_label(GTK_LABEL(node->inner)));
            return {};
        default: return {};
    }
}

void GtkWindowSystem::SetText(Window window, std::string_view text) {
    Node* node = Find(window);
    if (node == nullptr) return;
    const std::string value(text);
    switch (node->kind) {
        case Kind::Dialog: gtk_window_set_title(GTK_WINDOW(node->widget), value.c_str()); break;
        case Kind::Edit:
            // The edit's own "changed" signal raises EN_UPDATE and EN_CHANGE, as WM_SETTEXT does;
            // GTK raises it twice for a replacement (delete, insert): once is the dialogs'.
            ++quiet;
            gtk_entry_set_text(GTK_ENTRY(node->inner), value.c_str());
            --quiet;
            Command(node, en::kUpdate);
            Command(node, en::kChange);
            break;
        case Kind::Button:
            if (!(node->style & ws::kBsIcon)) gtk_button_set_label(GTK_BUTTON(node->inner), GtkMnemonic(value).c_str());
            break;
        case Kind::Static:
            if (GTK_IS_LABEL(node->inner)) {
                gtk_label_set_text_with_mnemonic(GTK_LABEL(node->inner), GtkMnemonic(value).c_str());
            }
            break;
        default: break;
    }
}

void GtkWindowSystem::Enable(Window window, bool enable) {
    if (Node* node = Find(window)) gtk_widget_set_sensitive(node->widget, enable);
}

bool GtkWindowSystem::IsEnabled(Window window) {
    Node* node = Find(window);
    return node && gtk_widget_get_sensitive(node->widget);
}

void GtkWindowSystem::Show(Window window, bool show) {
    Node* node = Find(window);
    if (node == nullptr) return;
    if (show) node->style |= ws::kVisible; else node->style &= ~ws::kVisible;
    if (node->kind == Kind::Dialog) return;  // the modal loop shows the dialog
    if (show) gtk_widget_show_all(node->widget); else gtk_widget_hide(node->widget);
}

// The window's own visible flag, as the headless system keeps it: a control of a dialog that is
// not shown yet still answers true.
bool GtkWindowSystem::IsVisible(Window window) {
    Node* node = Find(window);
    return node && (node->kind == Kind::Dialog ? gtk_widget_get_visible(node->widget)
                                               : (node->style & ws::kVisible) != 0);
}

Window GtkWindowSystem::Focus() {
    Run* run = Active();
    if (run == nullptr) return nullptr;
    Node* node = NodeOfWidget(gtk_window_get_focus(GTK_WINDOW(run->window)));
    if (node && node->kind == Kind::ListView && node->editor) return reinterpret_cast<Window>(node->editor);
    return node && node->kind != Kind::Dialog ? node->handle() : nullptr;
}

void GtkWindowSystem::SetFocus(Window window) {
    if (Node* node = Find(window)) MoveFocus(node);
}

void GtkWindowSystem::Invalidate(Window window, const Rect*, bool) {
    Node* node = Find(window);
    if (node == nullptr) return;
    if (node->kind == Kind::ListView) {
        for (int i = 0; i < static_cast<int>(node->items.size()); ++i) LvShowItem(node, i);
    }
    gtk_widget_queue_draw(node->area ? node->area : node->widget);
}

Rect GtkWindowSystem::ClientRect(Window window) {
    Node* node = Find(window);
    if (node == nullptr) return {};
    if (node->kind == Kind::ListBox && node->area) {
        const int width = gtk_widget_get_allocated_width(node->area);
        const int height = gtk_widget_get_allocated_height(node->area);
        if (width > 1) return Rect{0, 0, width, height};
        return Rect{0, 0, node->rect.Width() - 2, node->rect.Height() - 2 - 12};
    }
    return Rect{0, 0, node->rect.Width(), node->rect.Height()};
}

Rect GtkWindowSystem::WindowRect(Window window) {
    Node* node = Find(window);
    if (node == nullptr) return {};
    const Point origin = ClientToScreen(window, Point{0, 0});
    return Rect{origin.x, origin.y, origin.x + node->rect.Width(), origin.y + node->rect.Height()};
}

void GtkWindowSystem::SetWindowSize(Window window, int width, int height) {
    Node* node = Find(window);
    if (node == nullptr) return;
    node->rect.right = node->rect.left + width;
    node->rect.bottom = node->rect.top + height;
    if (node->kind == Kind::Dialog) {
        gtk_widget_set_size_request(node->run->fixed, width, height);
    } else {
        gtk_widget_set_size_request(node->widget, width, height);
    }
}

Point GtkWindowSystem::ClientToScreen(Window window, Point client) {
    Node* node = Find(window);
    if (node == nullptr) return client;
    GdkWindow* top = gtk_widget_get_window(node->run->window);
    int x = 0, y = 0;
    if (top) gdk_window_get_origin(top, &x, &y);
    GtkWidget* target = node->kind == Kind::ListBox && node->area ? node->area : node->inner;
    int wx = 0, wy = 0;
    if (gtk_widget_get_realized(target) &&
        gtk_widget_translate_coordinates(target, node->run->window, 0, 0, &wx, &wy)) {
        return Point{x + wx + client.x, y + wy + client.y};
    }
    const Rect& r = node->kind == Kind::Dialog ? Rect{} : node->rect;
    return Point{x + r.left + client.x, y + r.top + client.y};
}

Point GtkWindowSystem::ScreenToClient(Window window, Point screen) {
    const Point origin = ClientToScreen(window, Point{0, 0});
    return Point{screen.x - origin.x, screen.y - origin.y};
}

intptr_t GtkWindowSystem::Send(Window window, unsigned message, uintptr_t wParam, intptr_t lParam) {
    return dialog_manager::Send(Dialogs(), window, message, wParam, lParam);
}

bool GtkWindowSystem::Subclass(Window control, ControlHook& hook) {
    Node* node = Find(control);
    if (node == nullptr) return false;
    node->hook = &hook;
    return true;
}

void GtkWindowSystem::Unsubclass(Window control) {
    if (Node* node = Find(control)) node->hook = nullptr;
}

bool GtkWindowSystem::IsKeyDown(int virtualKey) {
    GdkModifierType state{};
    if (gtk_get_current_event_state(&state)) modifiers_ = state;
    if (virtualKey == vk::kControl) return (modifiers_ & GDK_CONTROL_MASK) != 0;
    if (virtualKey == vk::kShift) return (modifiers_ & GDK_SHIFT_MASK) != 0;
    return false;
}

Point GtkWindowSystem::CursorPos() {
    GdkDisplay* display = gdk_display_get_default();
    GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
    GdkDevice* pointer = seat ? gdk_seat_get_pointer(seat) : nullptr;
    int x = 0, y = 0;
    if (pointer) gdk_device_get_position(pointer, nullptr, &x, &y);
    return Point{x, y};
}

void GtkWindowSystem::Beep(unsigned) {
    if (GdkDisplay* display = gdk_display_get_default()) gdk_display_beep(display);
}

}  // namespace tavix::platform::gtk
