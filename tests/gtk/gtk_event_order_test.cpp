// The event-order stories (platform/event_order_stories.h) on the GTK window system, on a
// display: each story's dialog runs modally, and the user's actions reach it as GDK events put
// on GDK's queue, where the X server's events arrive: keys (with their hardware codes, the
// symbol the keymap gives under Shift) to the dialog's window, button presses and releases on
// the clicked control's own input window, the window manager's delete request for the close
// box. After each action an F1 press, which the dialog counts, marks that the action has been
// handled (a button's click reaches the dialog from the main loop, after the release).
#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "../platform/event_order_stories.h"
#include "frame/context/library_context.h"
#include "platform/gtk/gtk_window_system.h"
#include "platform/module.h"

namespace tavix::gtk_test {
namespace {

using platform::gtk::GtkWindowSystem;
using platform::gtk::Node;

constexpr gint64 kPatience = 5 * G_USEC_PER_SEC;  // for the dialog, for each action's marker

guint32 g_eventTime = 1;

GdkSeat* Seat() { return gdk_display_get_default_seat(gdk_display_get_default()); }

// Puts event, about window and from device, on GDK's queue, and frees it.
void Put(GdkEvent* event, GdkWindow* window, GdkDevice* device) {
    event->any.window = GDK_WINDOW(g_object_ref(window));
    gdk_event_set_device(event, device);
    gdk_event_set_source_device(event, device);
    gdk_event_put(event);
    gdk_event_free(event);
}

// A key pressed and released as the keyboard sends it.
void PutKey(GdkWindow* window, guint keyval, bool shift) {
    GdkKeymap* keymap = gdk_keymap_get_for_display(gdk_display_get_default());
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    guint16 code = 0;
    guint8 group = 0;
    if (gdk_keymap_get_entries_for_keyval(keymap, keyval, &keys, &count) && count > 0) {
        code = static_cast<guint16>(keys[0].keycode);
        group = static_cast<guint8>(keys[0].group);
        shift = shift || keys[0].level == 1;  // a character typed with Shift
    }
    g_free(keys);
    const auto state = static_cast<GdkModifierType>(shift ? GDK_SHIFT_MASK : 0);
    guint symbol = keyval;
    if (code != 0) gdk_keymap_translate_keyboard_state(keymap, code, state, group, &symbol, nullptr, nullptr, nullptr);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->key.time = ++g_eventTime;
        event->key.state = state;
        event->key.keyval = symbol;
        event->key.hardware_keycode = code;
        event->key.group = group;
        Put(event, window, gdk_seat_get_keyboard(Seat()));
    }
}

guint KeyvalOf(int virtualKey) {
    namespace vk = platform::vk;
    switch (virtualKey) {
        case vk::kTab: return GDK_KEY_Tab;
        case vk::kReturn: return GDK_KEY_Return;
        case vk::kEscape: return GDK_KEY_Escape;
        case vk::kF1: return GDK_KEY_F1;
        default: ADD_FAILURE() << "no key symbol for virtual key " << virtualKey; return GDK_KEY_VoidSymbol;
    }
}

// The window that receives widget's clicks: the deepest input window under the toplevel's that
// belongs to it.
GdkWindow* InputWindowOf(GdkWindow* under, GtkWidget* widget) {
    GdkWindow* found = nullptr;
    for (GList* child = gdk_window_peek_children(under); child != nullptr; child = child->next) {
        auto* window = static_cast<GdkWindow*>(child->data);
        gpointer owner = nullptr;
        gdk_window_get_user_data(window, &owner);
        if (owner == widget) found = window;
        if (GdkWindow* deeper = InputWindowOf(window, widget)) found = deeper;
    }
    return found;
}

// The left button pressed and released in the middle of widget.
void PutClick(GtkWidget* widget) {
    GdkWindow* window = InputWindowOf(gtk_widget_get_window(gtk_widget_get_toplevel(widget)), widget);
    if (window == nullptr) window = gtk_widget_get_window(widget);
    const double x = gdk_window_get_width(window) / 2.0, y = gdk_window_get_height(window) / 2.0;
    int rootX = 0, rootY = 0;
    gdk_window_get_root_coords(window, static_cast<int>(x), static_cast<int>(y), &rootX, &rootY);
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->button.time = ++g_eventTime;
        event->button.x = x;
        event->button.y = y;
        event->button.x_root = rootX;
        event->button.y_root = rootY;
        event->button.button = 1;
        event->button.state = type == GDK_BUTTON_RELEASE ? GDK_BUTTON1_MASK : 0;
        Put(event, window, gdk_seat_get_pointer(Seat()));
    }
}

// The window manager's request to close the window (the close box).
void PutDelete(GdkWindow* window) { Put(gdk_event_new(GDK_DELETE), window, gdk_seat_get_pointer(Seat())); }

// Plays one story in the running dialog from the main loop, one step a tick: waits for the
// dialog with the focus on its first edit, then delivers each action and waits for its marker.
class Player {
public:
    Player(GtkWindowSystem& system, const stories::Story& story, stories::StoryDialog& dialog)
        : system_(system), story_(story), dialog_(dialog), deadline_(g_get_monotonic_time() + kPatience) {}

    void Start() { source_ = g_timeout_add(10, &Player::OnTick, this); }
    void Stop() {
        if (source_ != 0) g_source_remove(source_);
        source_ = 0;
    }
    const std::vector<std::string>& Problems() const { return problems_; }

private:
    static gboolean OnTick(gpointer data) {
        auto* player = static_cast<Player*>(data);
        if (player->Tick()) return G_SOURCE_CONTINUE;
        player->source_ = 0;
        return G_SOURCE_REMOVE;
    }

    Node* Running() const {
        Node* dialog = system_.Find(dialog_.Handle());
        return dialog && !dialog->run->ended ? dialog : nullptr;
    }
    GtkWidget* Widget(int id) const {
        Node* control = system_.Find(system_.DialogItem(dialog_.Handle(), id));
        return control ? control->inner : nullptr;
    }

    // False once the story is over: the dialog gone, or given up on (a dialog its actions leave
    // open is ended, so that the story fails instead of hanging).
    bool Tick() {
        Node* dialog = Running();
        if (started_ && dialog == nullptr) return false;
        if (g_get_monotonic_time() > deadline_) {
            problems_.push_back(!started_ ? "the dialog never showed with the focus on its first edit"
                                : next_ < story_.actions.size() ? "no marker after action " + std::to_string(next_)
                                                                : "the dialog stayed open after its last action");
            if (dialog) system_.EndDialog(dialog->handle(), -2);
            return false;
        }
        if (dialog == nullptr) return true;
        GtkWindow* window = GTK_WINDOW(dialog->widget);
        if (!started_) {
            if (!gtk_widget_get_mapped(GTK_WIDGET(window)) || gtk_window_get_focus(window) != Widget(STORY_NAME)) {
                return true;
            }
            started_ = true;
        } else if (dialog_.helpRequests <= marks_) {
            return true;  // the last action is not through yet
        } else {
            ++next_;
        }
        if (next_ >= story_.actions.size()) {
            marks_ = std::numeric_limits<int>::max();  // nothing more to play: wait for the dialog to end
            return true;
        }
        marks_ = dialog_.helpRequests;
        deadline_ = g_get_monotonic_time() + kPatience;
        Deliver(story_.actions[next_], gtk_widget_get_window(GTK_WIDGET(window)));
        PutKey(gtk_widget_get_window(GTK_WIDGET(window)), GDK_KEY_F1, false);
        return true;
    }

    void Deliver(const stories::Action& action, GdkWindow* window) {
        switch (action.kind) {
            case stories::Action::Key:
            case stories::Action::ShiftKey:
                PutKey(window, KeyvalOf(action.target), action.kind == stories::Action::ShiftKey);
                break;
            case stories::Action::Click: PutClick(Widget(action.target)); break;
            case stories::Action::Type:
                PutClick(Widget(action.target));
                for (char c : action.text) PutKey(window, gdk_unicode_to_keyval(static_cast<guint32>(c)), false);
                break;
            case stories::Action::Close: PutDelete(window); break;
        }
    }

    GtkWindowSystem& system_;
    const stories::Story& story_;
    stories::StoryDialog& dialog_;
    gint64 deadline_;
    guint source_ = 0;
    bool started_ = false;
    size_t next_ = 0;
    int marks_ = 0;
    std::vector<std::string> problems_;
};

TEST(GtkStories, RaiseTheDialogManagersEventsInOrder) {
    ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display to open";
    const platform::ModuleHandle templates = platform::LoadResourceLibrary(TAVIX_STORY_TEMPLATES);
    ASSERT_NE(templates, nullptr);
    LibraryContext context = CurrentContext();
    context.resourceModule = templates;
    {
        ContextGuard current(context);
        GtkWindowSystem system(platform::gtk::Host{});
        platform::WindowSystemGuard installed(&system);
        for (const stories::Story& story : stories::EventOrderStories()) {
            SCOPED_TRACE(story.what);
            stories::StoryDialog dialog(story.templateId);
            Player player(system, story, dialog);
            player.Start();
            const int code = dialog.DoModal();
            player.Stop();
            EXPECT_EQ(player.Problems(), std::vector<std::string>{});
            EXPECT_EQ(code, story.code);
            EXPECT_EQ(dialog.Events(), story.events);
        }
    }
    platform::FreeResourceLibrary(templates);
}

}  // namespace
}  // namespace tavix::gtk_test
