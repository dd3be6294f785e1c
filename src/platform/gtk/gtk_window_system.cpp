// Modal dialogs from templates, the events between GTK, the controls and the dialog, and the
// operations every window has. The controls' own operations are in gtk_controls.cpp, the
// user's answers (message boxes, menus, the file dialog) in gtk_prompts.cpp.
#include "platform/gtk/gtk_window_system.h"

#include <algorithm>
#include <utility>

namespace tavix::platform::gtk {

namespace {

constexpr char kNodeKey[] = "tavix-node";

// The theme's minimum sizes would push controls out of the cells the template gives them: the
// library's own widgets, and only they, take this style (one provider per widget, never one
// for the whole screen).
constexpr char kDialogCss[] =
    "* { min-height: 0; min-width: 0; }"
    "button { padding: 0 6px; }"
    "entry { padding-top: 0; padding-bottom: 0; }";

void StyleTree(GtkWidget* widget, GtkCssProvider* css) {
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                   GTK_STYLE_PROVIDER(css), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    if (GTK_IS_CONTAINER(widget)) {
        gtk_container_forall(
            GTK_CONTAINER(widget),
            [](GtkWidget* child, gpointer data) { StyleTree(child, static_cast<GtkCssProvider*>(data)); },
            css);
    }
}

std::string Utf8(const WString& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The base units of the font the dialogs are drawn in: the desktop's, measured with Pango.
BaseUnits MeasureFont(GtkWidget* widget) {
    PangoLayout* layout = gtk_widget_create_pango_layout(
        widget, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return BaseUnitsFromMetrics(width, height);
}

// ---- Signal handlers: each finds its node and passes the event on --------------------------

GtkWindowSystem* g_system = nullptr;

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    auto* run = static_cast<Run*>(data);
    g_system->CloseBox(*run);
    return TRUE;  // the window stays until the dialog ends
}

gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
    return g_system->KeyPress(*static_cast<Run*>(data), *event) ? TRUE : FALSE;
}

void OnSetFocus(GtkWindow* window, GtkWidget* widget, gpointer) {
    Node* before = g_system->NodeOfWidget(gtk_window_get_focus(window));
    Node* after = g_system->NodeOfWidget(widget);
    if (before == after) return;
    if (before && before->kind != Kind::Dialog) g_system->FocusChanged(before, false);
    if (after && after->kind != Kind::Dialog) g_system->FocusChanged(after, true);
}

// A click reaches the dialog from the main loop: the command may run a modal loop of its own (a
// nested dialog, a message box), which must not run inside the handler of whatever clicked the
// button (an assistive technology's action is a D-Bus call, and no other call is dispatched
// until it returns).
void OnClicked(GtkButton* button, gpointer) {
    if (g_system->quiet > 0) return;
    if (Node* node = g_system->NodeOfWidget(GTK_WIDGET(button))) g_system->QueueClick(node);
}

void OnEntryChanged(GtkEditable* entry, gpointer) {
    if (g_system->quiet > 0) return;
    if (Node* node = g_system->NodeOfWidget(GTK_WIDGET(entry))) {
        g_system->Command(node, en::kUpdate);
        g_system->Command(node, en::kChange);
    }
}

// Right click on a control or the dialog's background: the context-menu event about it (an
// edit shows its own menu, as it does on Windows).
gboolean OnButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer) {
    if (event->type != GDK_BUTTON_PRESS || event->button != 3) return FALSE;
    Node* node = g_system->NodeOfWidget(widget);
    if (node == nullptr || node->kind == Kind::Edit) return FALSE;
    g_system->ContextMenuAt(node, Point{static_cast<int>(event->x_root), static_cast<int>(event->y_root)});
    return TRUE;
}

}  // namespace

// The dialog manager's view of the GTK windows: what it asks is read from the nodes (the state
// the interface reads is the nodes', not the widgets'), what it raises goes to the dialogs' sinks.
class GtkWindowSystem::Manager final : public dialog_manager::Host {
public:
    explicit Manager(GtkWindowSystem& system) : system_(system) {}

    bool Exists(Window window) override { return system_.Find(window) != nullptr; }
    Kind KindOf(Window window) override {
        const Node* node = system_.Find(window);
        return node ? node->kind : Kind::Other;
    }
    uint32_t StyleOf(Window window) override {
        const Node* node = system_.Find(window);
        return node ? node->style : 0;
    }
    int IdOf(Window window) override {
        const Node* node = system_.Find(window);
        return node ? node->id : 0;
    }
    Window DialogOf(Window window) override {
        const Node* node = system_.Find(window);
        return node ? node->run->dialog->handle() : nullptr;
    }
    bool Ended(Window dialog) override {
        const Node* node = system_.Find(dialog);
        return node == nullptr || node->run->ended;
    }
    std::vector<Window> Controls(Window dialog) override {
        std::vector<Window> controls;
        const Node* node = system_.Find(dialog);
        if (node == nullptr || node->kind != Kind::Dialog) return controls;
        for (auto& control : node->run->controls) controls.push_back(control->handle());
        return controls;
    }
    bool Enabled(Window control) override {
        const Node* node = system_.Find(control);
        return node && gtk_widget_is_sensitive(node->widget);
    }
    // The node's own flag, which Show keeps: the controls count as shown before their dialog is.
    bool Shown(Window control) override {
        const Node* node = system_.Find(control);
        return node && (node->style & ws::kVisible) != 0;
    }
    int DefaultId(Window dialog) override {
        const Node* node = system_.Find(dialog);
        return node ? node->run->defaultId : 0;
    }
    ControlHook* HookOf(Window control) override {
        const Node* node = system_.Find(control);
        return node ? node->hook : nullptr;
    }
    Point Cursor() override { return system_.CursorPos(); }
    std::vector<ListViewItem>* ListViewItems(Window list) override {
        Node* node = system_.Find(list);
        return node && node->kind == Kind::ListView ? &node->items : nullptr;
    }

    dialog_manager::ScrollBars* BarsOf(Window window) override {
        Node* node = system_.Find(window);
        return node ? &node->bars : nullptr;
    }

    intptr_t ToDialog(Window dialog, const Message& message, bool* handled) override {
        const Node* node = system_.Find(dialog);
        return node ? system_.ToDialog(*node->run, message, handled) : 0;
    }
    void MoveFocus(Window control) override { system_.MoveFocus(system_.Find(control)); }
    void SelectAllText(Window edit) override { system_.SelectAllText(edit); }

    void ListBoxFocusChanged(Window list) override {
        if (const Node* node = system_.Find(list); node && node->area) gtk_widget_queue_draw(node->area);
    }
    void ListBoxClick(Window list, Point client) override { system_.ListBoxClick(system_.Find(list), client.x); }
    void ListBoxKey(Window list, int key) override { system_.ListBoxKey(system_.Find(list), key); }
    void ListBoxHScroll(Window list, int code, int thumb) override {
        system_.ListBoxHScroll(system_.Find(list), code, thumb);
    }
    // F2 renames the focused item in place, as the list view does it itself.
    void ListViewKey(Window list, int key) override {
        if (key != vk::kF2) return;
        const int focused = system_.ListViewNextItem(list, -1, lvni::kFocused);
        if (focused >= 0) system_.ListViewEditLabel(list, focused);
    }
    void ListViewItemChanged(Window list, int index) override { system_.LvShowItem(system_.Find(list), index); }

private:
    GtkWindowSystem& system_;
};

GtkWindowSystem::~GtkWindowSystem() = default;

dialog_manager::Host& GtkWindowSystem::Dialogs() { return *manager_; }

GtkWindowSystem::GtkWindowSystem(const Host& host)
    : manager_(std::make_unique<Manager>(*this)), host_(host), thread_(std::this_thread::get_id()) {
    g_system = this;
    css_ = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css_, kDialogCss, -1, nullptr);
}

// Clicks wait while their dialog is not the one the user may use (a nested dialog or a prompt
// runs): its owner is disabled on Windows, and a click there does nothing until it is back.
void GtkWindowSystem::QueueClick(Node* node) {
    clicks_.push_back(node);
    ArmClicks(0);
}

// One source at a time looks at the queue; it is gone before a click is delivered, so that a
// click inside the dialog the command opens gets a source of its own.
void GtkWindowSystem::ArmClicks(unsigned delay) {
    if (clickSource_ != 0) return;
    clickSource_ = g_timeout_add_full(
        G_PRIORITY_HIGH, delay,
        [](gpointer data) -> gboolean {
            static_cast<GtkWindowSystem*>(data)->DeliverClick();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

void GtkWindowSystem::DeliverClick() {
    clickSource_ = 0;
    while (!clicks_.empty()) {
        Node* node = Find(clicks_.front() ? clicks_.front()->handle() : nullptr);
        if (node == nullptr || node->run->ended) {
            clicks_.pop_front();
            continue;
        }
        if (node->run != Active() || prompts_ > 0) {
            ArmClicks(20);  // not now: look again shortly (a timeout, not an idle that would spin)
            return;
        }
        clicks_.pop_front();
        if (!clicks_.empty()) ArmClicks(0);
        Command(node, bn::kClicked);
        return;
    }
}

Node* GtkWindowSystem::Find(Window window) const {
    auto* node = reinterpret_cast<Node*>(window);
    return node && live_.contains(node) ? node : nullptr;
}

Node* GtkWindowSystem::NodeOfWidget(GtkWidget* widget) const {
    for (; widget != nullptr; widget = gtk_widget_get_parent(widget)) {
        if (auto* node = static_cast<Node*>(g_object_get_data(G_OBJECT(widget), kNodeKey))) {
            return live_.contains(node) ? node : nullptr;
        }
    }
    return nullptr;
}

// ---- Modal dialogs -----------------------------------------------------------------------------
int GtkWindowSystem::RunModal(uint32_t templateId, const DialogSource& from, Window parent,
                              DialogSink& sink) {
    // GTK belongs to the thread that initialised it: any other gets no dialog.
    if (!OnGtkThread() || !from.readTemplate) return -1;
    std::optional<resources::DialogTemplate> source = from.readTemplate(templateId);
    if (!source) return -1;

    Run run;
    run.templateId = templateId;
    run.sink = &sink;
    run.loop = g_main_loop_new(nullptr, FALSE);
    CreateWindows(run, *source, parent);
    runs_.push_back(&run);

    // An owner-drawn list box of fixed height asks for its item height once the windows exist.
    for (auto& control : run.controls) {
        if (control->kind == Kind::ListBox && (control->style & ws::kLbsOwnerDrawFixed)) {
            MeasureItemRequest measure{2, control->id, 0, 0, 16, 0};
            ToDialog(run, Message::MeasureItem(measure));
            control->itemHeight = static_cast<int>(measure.height);
        }
    }
    InitDialog(run);
    if (!run.ended) {
        for (auto& control : run.controls) {
            if (control->kind == Kind::ListView) LvAttachModel(control.get());
        }
        for (auto& control : run.controls) {
            if (control->style & ws::kVisible) gtk_widget_show_all(control->widget);
        }
        gtk_widget_show(run.fixed);
        Activate(run.window);
        g_main_loop_run(run.loop);
    }
    gtk_widget_hide(run.window);
    DestroyWindows(run);
    Flush();  // while this dialog still counts as the one running: nothing reaches its owner yet
    runs_.pop_back();
    g_main_loop_unref(run.loop);
    if (Run* outer = Active()) Activate(outer->window);
    return run.code;
}

void GtkWindowSystem::CreateWindows(Run& run, const resources::DialogTemplate& source, Window parent) {
    run.dialog = std::make_unique<Node>();
    Node& dialog = *run.dialog;
    dialog.kind = Kind::Dialog;
    dialog.style = source.style;
    dialog.run = &run;
    run.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    run.fixed = gtk_fixed_new();
    dialog.widget = run.window;
    dialog.inner = run.fixed;
    live_.insert(&dialog);
    g_object_set_data(G_OBJECT(run.window), kNodeKey, &dialog);
    gtk_container_add(GTK_CONTAINER(run.window), run.fixed);
    gtk_window_set_title(GTK_WINDOW(run.window), Utf8(source.caption).c_str());
    gtk_window_set_modal(GTK_WINDOW(run.window), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(run.window), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(run.window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(run.window), runs_.empty() ? FALSE : TRUE);
    if (GtkWidget* owner = OwnerWindow(parent)) {
        gtk_window_set_transient_for(GTK_WINDOW(run.window), GTK_WINDOW(owner));
        gtk_window_set_position(GTK_WINDOW(run.window), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(run.window), GTK_WIN_POS_CENTER);
    }
    run.units = MeasureFont(run.window);
    const Rect size = DialogUnitsToPixels(run.units, 0, 0, source.cx, source.cy);
    gtk_widget_set_size_request(run.fixed, size.Width(), size.Height());
    dialog.rect = size;

    // The labels that name the controls for assistive technologies, in dialog units.
    std::vector<Rect> labelRects;
    std::vector<size_t> labelIndex;
    for (size_t i = 0; i < source.controls.size(); ++i) {
        const auto& item = source.controls[i];
        if (dialog_manager::KindOfControl(item) == Kind::Static && !item.text.empty()) {
            labelRects.push_back(Rect{item.x, item.y, item.x + item.cx, item.y + item.cy});
            labelIndex.push_back(i);
        }
    }
    for (const auto& item : source.controls) {
        const std::string text = Utf8(item.text);
        Node* node = CreateControl(run, item, text);
        if (node == nullptr) continue;
        if (node->kind == Kind::Button && (item.style & ws::kBsTypeMask) == ws::kBsDefPushButton &&
            run.defaultId == 0) {
            run.defaultId = item.id;
            gtk_widget_set_can_default(node->inner, TRUE);
            gtk_window_set_default(GTK_WINDOW(run.window), node->inner);
        }
        if (node->kind == Kind::Edit || node->kind == Kind::ListView || node->kind == Kind::ListBox) {
            const int label = LabelFor(Rect{item.x, item.y, item.x + item.cx, item.y + item.cy}, labelRects);
            if (label >= 0) {
                const auto& named = source.controls[labelIndex[static_cast<size_t>(label)]];
                atk_object_set_name(gtk_widget_get_accessible(node->inner),
                                    WithoutMnemonic(Utf8(named.text)).c_str());
                for (auto& other : run.controls) {
                    if (other->kind == Kind::Static && other->id == named.id &&
                        other->rect == DialogUnitsToPixels(run.units, named.x, named.y, named.cx, named.cy)) {
                        gtk_label_set_mnemonic_widget(GTK_LABEL(other->inner), node->inner);
                    }
                }
            }
        }
    }
    StyleTree(run.window, css_);
    g_signal_connect(run.window, "delete-event", G_CALLBACK(OnDelete), &run);
    g_signal_connect(run.window, "key-press-event", G_CALLBACK(OnKeyPress), &run);
    g_signal_connect(run.window, "set-focus", G_CALLBACK(OnSetFocus), nullptr);
    gtk_widget_add_events(run.window, GDK_BUTTON_PRESS_MASK);
    g_signal_connect(run.window, "button-press-event", G_CALLBACK(OnButtonPress), nullptr);
}

Node* GtkWindowSystem::CreateControl(Run& run, const resources::DialogControl& item,
                                     const std::string& text) {
    auto node = std::make_unique<Node>();
    node->kind = dialog_manager::KindOfControl(item);
    node->id = item.id;
    node->style = item.style;
    node->run = &run;
    node->rect = DialogUnitsToPixels(run.units, item.x, item.y, item.cx, item.cy);
    GtkWidget* widget = nullptr;
    switch (node->kind) {
        case Kind::Static:
            if (text.empty() && item.cy <= 2) {
                widget = gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
            } else {
                widget = gtk_label_new(nullptr);
                gtk_label_set_text_with_mnemonic(GTK_LABEL(widget), GtkMnemonic(text).c_str());
                gtk_label_set_xalign(GTK_LABEL(widget), 0);
                gtk_label_set_yalign(GTK_LABEL(widget), 0.5);
                // A desktop font may need more room than the template's font did: a label takes
                // at least its cell, and its whole text where that is wider.
            }
            break;
        case Kind::Edit:
            widget = gtk_entry_new();
            gtk_entry_set_activates_default(GTK_ENTRY(widget), TRUE);
            gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
            gtk_entry_set_text(GTK_ENTRY(widget), text.c_str());
            g_signal_connect(widget, "changed", G_CALLBACK(OnEntryChanged), nullptr);
            break;
        case Kind::Button:
            widget = gtk_button_new_with_mnemonic(GtkMnemonic(text).c_str());
            if (item.style & ws::kBsIcon) {
                gtk_button_set_label(GTK_BUTTON(widget), nullptr);
                atk_object_set_name(gtk_widget_get_accessible(widget), WithoutMnemonic(text).c_str());
            }
            g_signal_connect(widget, "clicked", G_CALLBACK(OnClicked), nullptr);
            break;
        case Kind::ListView:
            CreateListView(*node);
            widget = node->widget;
            break;
        case Kind::ListBox:
            CreateListBox(*node);
            widget = node->widget;
            break;
        default:
            // Controls the dialogs keep hidden (the namespace combo box) exist as placeholders.
            widget = gtk_label_new(nullptr);
            break;
    }
    node->widget = widget;
    if (node->inner == nullptr) node->inner = widget;
    g_object_set_data(G_OBJECT(widget), kNodeKey, node.get());
    g_object_set_data(G_OBJECT(node->inner), kNodeKey, node.get());
    int width = node->rect.Width();
    if (node->kind == Kind::Static && GTK_IS_LABEL(widget)) {
        int natural = 0;
        gtk_widget_get_preferred_width(widget, nullptr, &natural);
        width = std::max(width, natural);
    }
    gtk_widget_set_size_request(widget, width, node->rect.Height());
    gtk_fixed_put(GTK_FIXED(run.fixed), widget, node->rect.left, node->rect.top);
    gtk_widget_set_sensitive(widget, (item.style & ws::kDisabled) == 0);
    gtk_widget_set_can_focus(node->inner, (item.style & ws::kTabStop) != 0 || node->kind == Kind::ListView);
    if (node->kind != Kind::Edit) {
        gtk_widget_add_events(node->inner, GDK_BUTTON_PRESS_MASK);
        g_signal_connect(node->inner, "button-press-event", G_CALLBACK(OnButtonPress), nullptr);
    }
    if (node->kind == Kind::Static && GTK_IS_LABEL(widget)) {
        // A static text receives no clicks of its own: its events go to the dialog's window.
        gtk_widget_set_has_window(widget, FALSE);
    }
    Node* made = node.get();
    live_.insert(made);
    run.controls.push_back(std::move(node));
    return made;
}

// WM_INITDIALOG naming the first tab stop; the focus goes there when the dialog answers true.
void GtkWindowSystem::InitDialog(Run& run) {
    Node* firstTabStop = Find(dialog_manager::FirstTabStop(*manager_, run.dialog->handle()));
    Message init;
    init.message = wm::kInitDialog;
    init.wParam = reinterpret_cast<uintptr_t>(firstTabStop ? firstTabStop->handle() : nullptr);
    const intptr_t setFocus = ToDialog(run, init);
    if (setFocus != 0 && !run.ended && firstTabStop) {
        MoveFocus(firstTabStop);
        if (firstTabStop->kind == Kind::Edit) SelectAllText(firstTabStop->handle());
    }
}

// WM_DESTROY, then the windows are gone.
void GtkWindowSystem::DestroyWindows(Run& run) {
    Message destroy;
    destroy.message = wm::kDestroy;
    ToDialog(run, destroy);
    ++quiet;
    for (auto& control : run.controls) {
        live_.erase(control.get());
        if (control->store) g_object_unref(control->store);
        control->store = nullptr;
    }
    live_.erase(run.dialog.get());
    gtk_widget_destroy(run.window);
    --quiet;
}

// The window comes to the front with the keyboard. The request carries no event time: one taken
// from an older event would be ignored by an X server whose focus changed since (a closed
// dialog's), leaving the keyboard nowhere.
void GtkWindowSystem::Activate(GtkWidget* window) {
    gtk_window_present(GTK_WINDOW(window));
    if (GdkWindow* shown = gtk_widget_get_window(window)) gdk_window_focus(shown, GDK_CURRENT_TIME);
}

void GtkWindowSystem::Flush() {
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

GtkWidget* GtkWindowSystem::OwnerWindow(Window owner) const {
    if (Node* node = Find(owner)) return node->run->window;
    if (Run* run = Active()) return run->window;
    return nullptr;
}

void GtkWindowSystem::CloseBox(Run& run) { dialog_manager::CloseBox(*manager_, run.dialog->handle()); }

void GtkWindowSystem::EndDialog(Window window, int code) {
    Node* node = Find(window);
    if (node == nullptr || node->kind != Kind::Dialog || node->run->ended) return;
    node->run->ended = true;
    node->run->code = code;
    // The dialog is hidden: the control that had the focus loses it before WM_DESTROY.
    gtk_window_set_focus(GTK_WINDOW(node->run->window), nullptr);
    g_main_loop_quit(node->run->loop);
}

Window GtkWindowSystem::DialogItem(Window window, int id) { return dialog_manager::Item(*manager_, window, id); }

int GtkWindowSystem::ControlId(Window window) {
    Node* node = Find(window);
    return node ? node->id : 0;
}

Window GtkWindowSystem::Parent(Window window) {
    Node* node = Find(window);
    return node && node->kind != Kind::Dialog ? node->run->dialog->handle() : nullptr;
}

void GtkWindowSystem::GotoDialogControl(Window, Window control) { dialog_manager::GotoControl(*manager_, control); }

// ---- Events ------------------------------------------------------------------------------------
intptr_t GtkWindowSystem::ToDialog(Run& run, const Message& message, bool* handled) {
    bool wasHandled = false;
    const intptr_t result = run.sink->OnMessage(run.dialog->handle(), message, wasHandled);
    if (handled) *handled = wasHandled;
    return result;
}

void GtkWindowSystem::Command(Node* control, int code) {
    if (control) dialog_manager::Command(*manager_, control->handle(), code);
}

void GtkWindowSystem::ButtonCommand(Run& run, int id) {
    dialog_manager::ButtonCommand(*manager_, run.dialog->handle(), id);
}

intptr_t GtkWindowSystem::Notify(Node* control, int code, ListViewNotification& data) {
    return control ? dialog_manager::Notify(*manager_, control->handle(), code, data) : 0;
}

intptr_t GtkWindowSystem::ToControl(Node* node, Message message) {
    return node ? dialog_manager::ToControl(*manager_, node->handle(), std::move(message)) : 0;
}

intptr_t GtkWindowSystem::CallDefault(Window control, const Message& message) {
    return Find(control) ? dialog_manager::DefaultHandling(*manager_, control, message) : 0;
}

void GtkWindowSystem::FocusChanged(Node* node, bool gained) {
    Message message;
    message.message = gained ? wm::kSetFocus : wm::kKillFocus;
    ToControl(node, message);
}

void GtkWindowSystem::MoveFocus(Node* target) {
    if (target == nullptr) return;
    gtk_widget_grab_focus(target->inner);  // "set-focus" raises the kill- and set-focus events
}

void GtkWindowSystem::ContextMenuAt(Node* node, Point screen) {
    if (node->kind == Kind::Dialog) {
        ToDialog(*node->run, Message::ContextMenu(node->handle(), screen));
    } else {
        ToControl(node, Message::ContextMenu(node->handle(), screen));
    }
}

// A key in the running dialog, routed as the dialog manager routes it (dialog_manager.h). Keys it
// leaves to the control reach a list view or list box as WM_KEYDOWN before GTK's own handling
// (a list's cursor); GTK alone handles the others (an edit's typing, arrows between buttons).
bool GtkWindowSystem::KeyPress(Run& run, const GdkEventKey& event) {
    if (&run != Active() || run.ended) return true;
    modifiers_ = event.state;
    const int key = VirtualKeyFromKeyval(event.keyval);
    Node* focus = NodeOfWidget(gtk_window_get_focus(GTK_WINDOW(run.window)));
    if (focus && focus->kind == Kind::Dialog) focus = nullptr;
    // The label editor has the keys to itself: Enter ends the edit, Escape cancels it.
    if (focus && focus->kind == Kind::ListView && focus->editing >= 0) return false;
    if (event.state & GDK_MOD1_MASK) return false;  // Alt+mnemonic: GTK's
    Window focused = focus ? focus->handle() : nullptr;
    const bool shift = (event.state & GDK_SHIFT_MASK) != 0;
    switch (dialog_manager::PressKey(*manager_, run.dialog->handle(), focused, key, shift)) {
        case dialog_manager::KeyOutcome::Handled: return true;
        case dialog_manager::KeyOutcome::Backend: return false;
        case dialog_manager::KeyOutcome::ForControl: break;
    }
    if (focus == nullptr || key == 0 || (focus->kind != Kind::ListView && focus->kind != Kind::ListBox)) {
        return false;
    }
    dialog_manager::KeyDown(*manager_, focused, key);
    // The owner-drawn list box is the hook's: GTK has nothing to add.
    return focus->kind == Kind::ListBox || !live_.contains(focus) || run.ended;
}

}  // namespace tavix::platform::gtk

// The module's entry: GTK initialised once, on the calling thread, which alone may use it; null
// when no display can be opened (remembered by the library, which asks once).
extern "C" __attribute__((visibility("default"))) tavix::platform::WindowSystem* tavix_gtk3_window_system(
    const tavix::platform::gtk::Host* host) {
    using tavix::platform::gtk::GtkWindowSystem;
    if (host == nullptr || host->version != tavix::platform::gtk::kHostVersion) return nullptr;
    static GtkWindowSystem* system = [&]() -> GtkWindowSystem* {
        if (!gtk_init_check(nullptr, nullptr)) return nullptr;
        return new GtkWindowSystem(*host);
    }();
    return system;
}
