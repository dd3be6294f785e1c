// The list view: a GtkIconView over a GtkListStore, the image list as pixbufs, labels edited
// in place through an entry laid over the item, and items named for assistive technologies by
// their labels.
#include <algorithm>
#include <cstring>

#include "platform/gtk/gtk_window_system.h"

namespace tavix::platform::gtk {

namespace {

enum Column { kTextColumn, kPixbufColumn, kColumns };

GtkWindowSystem* SystemOf(gpointer data) { return static_cast<GtkWindowSystem*>(data); }

GtkIconView* IconView(const Node* list) { return GTK_ICON_VIEW(list->inner); }

bool NthIter(GtkListStore* store, int index, GtkTreeIter& iter) {
    return gtk_tree_model_iter_nth_child(GTK_TREE_MODEL(store), &iter, nullptr, index) != FALSE;
}

// ---- Signal handlers ---------------------------------------------------------------------------

void OnSelectionChanged(GtkIconView* view, gpointer data) {
    GtkWindowSystem* system = SystemOf(data);
    if (system->quiet > 0) return;
    if (Node* list = system->NodeOfWidget(GTK_WIDGET(view))) system->ListViewSelectionFromWidget(list);
}

gboolean OnListButton(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    GtkWindowSystem* system = SystemOf(data);
    Node* list = system->NodeOfWidget(widget);
    if (list == nullptr) return FALSE;
    system->ListViewButton(list, *event);
    // Right clicks and double clicks are answered here; a left click is GTK's (selection).
    return event->button == 3 || event->type == GDK_2BUTTON_PRESS ? TRUE : FALSE;
}

// The label editor: a GtkEntry laid over the item's label (an overlay child of the list, so
// that it is drawn, takes the keys, and is an editable text of the list for assistive
// technologies, which the icon view's own cell editor is not). Enter keeps the text, Escape
// drops it, and the focus leaving for another control keeps it, as the list view's edit does.
Node* EditedList(GtkWidget* editor) { return static_cast<Node*>(g_object_get_data(G_OBJECT(editor), "tavix-list")); }

void OnEditorActivate(GtkEntry* entry, gpointer data) {
    GtkWindowSystem* system = SystemOf(data);
    Node* list = EditedList(GTK_WIDGET(entry));
    if (system->Find(list ? list->handle() : nullptr) && list->editor == GTK_WIDGET(entry)) {
        system->EditingEnded(list, std::string(gtk_entry_get_text(entry)));
    }
}

gboolean OnEditorKey(GtkWidget* entry, GdkEventKey* event, gpointer data) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    GtkWindowSystem* system = SystemOf(data);
    Node* list = EditedList(entry);
    if (system->Find(list ? list->handle() : nullptr) && list->editor == entry) system->EditingEnded(list, std::nullopt);
    return TRUE;
}

// The entry also loses the keyboard when its window does (another window comes to the front):
// that ends nothing. Only a focus moved to another widget of the dialog ends the edit, which is
// known once GTK has moved it, hence the idle.
struct FocusLeft {
    GtkWindowSystem* system;
    GtkWidget* editor;  // referenced until the check ran
};

gboolean CheckEditorFocus(gpointer data) {
    auto* left = static_cast<FocusLeft*>(data);
    Node* list = EditedList(left->editor);
    GtkWidget* top = gtk_widget_get_toplevel(left->editor);
    if (left->system->Find(list ? list->handle() : nullptr) && list->editor == left->editor &&
        GTK_IS_WINDOW(top) && gtk_window_get_focus(GTK_WINDOW(top)) != left->editor) {
        left->system->EditingEnded(list, std::string(gtk_entry_get_text(GTK_ENTRY(left->editor))));
    }
    g_object_unref(left->editor);
    delete left;
    return G_SOURCE_REMOVE;
}

gboolean OnEditorFocusOut(GtkWidget* entry, GdkEventFocus*, gpointer data) {
    g_idle_add(CheckEditorFocus, new FocusLeft{SystemOf(data), GTK_WIDGET(g_object_ref(entry))});
    return FALSE;
}

// The editor leaves the screen; the keyboard goes back to the list when the editor had it.
void RemoveEditor(Node* list) {
    GtkWidget* editor = list->editor;
    list->editor = nullptr;
    if (editor == nullptr) return;
    if (gtk_widget_is_focus(editor)) gtk_widget_grab_focus(list->inner);
    gtk_widget_destroy(editor);
}

// A click on the label of the only selected item, in a list that has the keyboard, renames it
// once the double-click time has passed without another press (which would be a double click).
constexpr char kPendingEdit[] = "tavix-pending-edit";

struct PendingEdit {
    GtkWindowSystem* system;
    Node* list;
    int index;
};

void CancelPendingEdit(Node* list) {
    if (const guint source = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(list->inner), kPendingEdit))) {
        g_source_remove(source);
        g_object_set_data(G_OBJECT(list->inner), kPendingEdit, nullptr);
    }
}

gboolean StartPendingEdit(gpointer data) {
    const auto* pending = static_cast<PendingEdit*>(data);
    Node* list = pending->list;
    if (pending->system->Find(list->handle()) == nullptr) return G_SOURCE_REMOVE;
    g_object_set_data(G_OBJECT(list->inner), kPendingEdit, nullptr);
    const int index = pending->index;
    if (!list->run->ended && list->editing < 0 && index < static_cast<int>(list->items.size()) &&
        (list->items[static_cast<size_t>(index)].state & lvis::kSelected) &&
        pending->system->ListViewSelectedCount(list->handle()) == 1) {
        pending->system->ListViewEditLabel(list->handle(), index);
    }
    return G_SOURCE_REMOVE;
}

bool OnLabelOfOnlySelected(GtkWindowSystem& system, Node* list, const GdkEventButton& event, int index) {
    if (index < 0 || !gtk_widget_has_focus(list->inner) || (event.state & (GDK_SHIFT_MASK | GDK_CONTROL_MASK)) ||
        !(list->items[static_cast<size_t>(index)].state & lvis::kSelected) ||
        system.ListViewSelectedCount(list->handle()) != 1) {
        return false;
    }
    GtkTreePath* path = nullptr;
    GtkCellRenderer* cell = nullptr;
    if (!gtk_icon_view_get_item_at_pos(IconView(list), static_cast<int>(event.x), static_cast<int>(event.y), &path,
                                       &cell)) {
        return false;
    }
    gtk_tree_path_free(path);
    return cell == list->textCell;
}

void ScheduleEdit(GtkWindowSystem& system, Node* list, int index) {
    gint wait = 400;
    g_object_get(gtk_widget_get_settings(list->inner), "gtk-double-click-time", &wait, nullptr);
    const guint source = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(wait) + 50, StartPendingEdit,
                                            new PendingEdit{&system, list, index},
                                            [](gpointer data) { delete static_cast<PendingEdit*>(data); });
    g_object_set_data(G_OBJECT(list->inner), kPendingEdit, GUINT_TO_POINTER(source));
}

// Where the editor goes in the overlay: over the label of the item being edited, at least as
// wide as the item, one line high.
gboolean OnEditorPosition(GtkOverlay* overlay, GtkWidget* child, GdkRectangle* allocation, gpointer data) {
    GtkWindowSystem* system = SystemOf(data);
    Node* list = EditedList(child);
    if (system->Find(list ? list->handle() : nullptr) == nullptr || list->editor != child || list->editing < 0 ||
        !gtk_widget_get_realized(list->inner)) {
        return FALSE;
    }
    GtkTreePath* path = gtk_tree_path_new_from_indices(list->editing, -1);
    GdkRectangle cell{};
    const bool found = gtk_icon_view_get_cell_rect(IconView(list), path, list->textCell, &cell) != FALSE;
    gtk_tree_path_free(path);
    int x = 0, y = 0;
    if (!found || !gtk_widget_translate_coordinates(list->inner, GTK_WIDGET(overlay), cell.x, cell.y, &x, &y)) {
        return FALSE;
    }
    int height = 0, width = 0;
    gtk_widget_get_preferred_height(child, nullptr, &height);
    gtk_widget_get_preferred_width(child, &width, nullptr);
    const int room = gtk_widget_get_allocated_width(GTK_WIDGET(overlay));
    allocation->width = std::min(std::max({cell.width, gtk_icon_view_get_item_width(IconView(list)), width}), room);
    allocation->x = std::max(0, std::min(x - (allocation->width - cell.width) / 2, room - allocation->width));
    allocation->y = y;
    allocation->height = height;
    return TRUE;
}

// The accessible items of this library's list views are named by their labels, as a Windows
// list view's items are; GTK's carry the label as text only. The name is given when an
// assistive technology asks for it: naming every item up front costs GTK a walk of its item
// list per item, seconds at 10,000 items. The item accessible class's get_name is wrapped
// once; items of other icon views (a GTK host's own) keep the answer GTK gives them.
constexpr const char* kOwnListView = "tavix-list-view";
constexpr const char* kItemName = "tavix-item-name";
const gchar* (*g_gtkItemName)(AtkObject*) = nullptr;

const gchar* ItemName(AtkObject* item) {
    const gchar* name = g_gtkItemName ? g_gtkItemName(item) : nullptr;
    if (name != nullptr && *name != 0) return name;
    AtkObject* parent = atk_object_get_parent(item);
    GtkWidget* view = GTK_IS_ACCESSIBLE(parent) ? gtk_accessible_get_widget(GTK_ACCESSIBLE(parent)) : nullptr;
    auto* system = view ? static_cast<GtkWindowSystem*>(g_object_get_data(G_OBJECT(view), "tavix-system")) : nullptr;
    Node* list = system ? system->Find(static_cast<Window>(g_object_get_data(G_OBJECT(view), kOwnListView))) : nullptr;
    const int index = atk_object_get_index_in_parent(item);
    if (list == nullptr || index < 0 || index >= static_cast<int>(list->items.size())) return name;
    // The label as the dialog holds it now, kept on the item so that the answer stays valid.
    gchar* label = g_strdup(list->items[static_cast<size_t>(index)].text.c_str());
    g_object_set_data_full(G_OBJECT(item), kItemName, label, g_free);
    return label;
}

void NameItemsByLabel(GtkWidget* view) {
    static bool wrapped = false;
    if (wrapped) return;
    AtkObject* first = atk_object_ref_accessible_child(gtk_widget_get_accessible(view), 0);
    if (first == nullptr) return;  // no item yet: the class may not exist before one does
    auto* itemClass = ATK_OBJECT_GET_CLASS(first);
    g_gtkItemName = itemClass->get_name;
    itemClass->get_name = &ItemName;
    wrapped = true;
    g_object_unref(first);
}

}  // namespace

// ---- Creation ---------------------------------------------------------------------------------
void GtkWindowSystem::CreateListView(Node& node) {
    node.store = gtk_list_store_new(kColumns, G_TYPE_STRING, GDK_TYPE_PIXBUF);
    GtkWidget* view = gtk_icon_view_new();  // the model comes with the dialog's showing (LvAttachModel)
    g_object_set_data(G_OBJECT(view), kOwnListView, node.handle());
    g_object_set_data(G_OBJECT(view), "tavix-system", this);
    GtkIconView* icons = GTK_ICON_VIEW(view);
    gtk_icon_view_set_selection_mode(icons, (node.style & ws::kLvsSingleSel) ? GTK_SELECTION_SINGLE
                                                                             : GTK_SELECTION_MULTIPLE);
    gtk_icon_view_set_item_width(icons, 72);
    gtk_icon_view_set_margin(icons, 2);
    gtk_icon_view_set_row_spacing(icons, 2);
    gtk_icon_view_set_column_spacing(icons, 2);
    gtk_icon_view_set_item_padding(icons, 2);
    // The view's own columns, so that its accessible items are named by their labels.
    gtk_icon_view_set_pixbuf_column(icons, kPixbufColumn);
    gtk_icon_view_set_text_column(icons, kTextColumn);
    GtkCellRenderer* textCell = nullptr;
    GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(view));
    for (GList* cell = cells; cell != nullptr; cell = cell->next) {
        if (GTK_IS_CELL_RENDERER_TEXT(cell->data)) textCell = GTK_CELL_RENDERER(cell->data);
    }
    g_list_free(cells);
    g_object_set(textCell, "wrap-mode", PANGO_WRAP_WORD_CHAR, nullptr);
    node.textCell = textCell;
    g_signal_connect(view, "selection-changed", G_CALLBACK(OnSelectionChanged), this);
    g_signal_connect(view, "button-press-event", G_CALLBACK(OnListButton), this);

    GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    // The overlay holds the label editor above the items while an edit runs.
    GtkWidget* overlay = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(overlay), scrolled);
    g_signal_connect(overlay, "get-child-position", G_CALLBACK(OnEditorPosition), this);
    node.widget = overlay;
    node.inner = view;
}

// ---- List view ---------------------------------------------------------------------------------
GdkPixbuf* GtkWindowSystem::Pixbuf(const ImageList* images, int index) const {
    if (images == nullptr || index < 0 || host_.readIcon == nullptr) return nullptr;
    IconHandle icon = images->GetIcon(index);
    if (icon == nullptr) return nullptr;
    std::optional<icons::IconImage> image = host_.readIcon(icon);
    if (host_.destroyIcon) host_.destroyIcon(icon);
    return image ? PixbufOf(*image) : nullptr;
}

// The widget shows item index as the model holds it: label, image, selection, cursor.
void GtkWindowSystem::LvShowItem(Node* list, int index) {
    GtkTreeIter iter;
    if (list->store == nullptr || !NthIter(list->store, index, iter)) return;
    const ListViewItem& item = list->items[static_cast<size_t>(index)];
    ++quiet;
    gchar* shown = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(list->store), &iter, kTextColumn, &shown, -1);
    const bool relabelled = shown == nullptr || item.text != shown;
    g_free(shown);
    GdkPixbuf* pixbuf = Pixbuf(list->images, item.image);
    gtk_list_store_set(list->store, &iter, kTextColumn, item.text.c_str(), kPixbufColumn, pixbuf, -1);
    if (pixbuf) g_object_unref(pixbuf);
    if (!list->modelAttached) {  // the rest is the view's, which shows the item when attached
        --quiet;
        return;
    }
    if (relabelled) {
        // The item's accessible name is its label (ItemName): say that it changed.
        if (AtkObject* child = atk_object_ref_accessible_child(gtk_widget_get_accessible(list->inner), index)) {
            g_object_notify(G_OBJECT(child), "accessible-name");
            g_object_unref(child);
        }
    }
    GtkTreePath* path = gtk_tree_path_new_from_indices(index, -1);
    if (item.state & lvis::kSelected) {
        gtk_icon_view_select_path(IconView(list), path);
    } else {
        gtk_icon_view_unselect_path(IconView(list), path);
    }
    if ((item.state & lvis::kFocused) && list->editing < 0) {
        gtk_icon_view_set_cursor(IconView(list), path, nullptr, FALSE);
        gtk_icon_view_scroll_to_path(IconView(list), path, FALSE, 0, 0);
    }
    gtk_tree_path_free(path);
    --quiet;
}

// Gives the view its model (the store holds every item's label and image by then), then
// selects the selected items and puts the cursor on the focused one: the others are as a new
// model leaves them.
void GtkWindowSystem::LvAttachModel(Node* list) {
    if (list->modelAttached) return;
    ++quiet;
    gtk_icon_view_set_model(IconView(list), GTK_TREE_MODEL(list->store));
    list->modelAttached = true;
    --quiet;
    NameItemsByLabel(list->inner);
    for (int i = 0; i < static_cast<int>(list->items.size()) && live_.contains(list); ++i) {
        if (list->items[static_cast<size_t>(i)].state & (lvis::kSelected | lvis::kFocused)) LvShowItem(list, i);
    }
}

void GtkWindowSystem::ListViewSetImageList(Window list, const ImageList* images) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView) return;
    node->images = images;
    for (int i = 0; i < static_cast<int>(node->items.size()); ++i) LvShowItem(node, i);
}

int GtkWindowSystem::ListViewCount(Window list) {
    Node* node = Find(list);
    return node && node->kind == Kind::ListView ? static_cast<int>(node->items.size()) : 0;
}

bool GtkWindowSystem::LvChangeItem(Node* list, int index, unsigned newState, unsigned mask,
                                   const std::string* text, const int* image, bool inserting) {
    return dialog_manager::ChangeListViewItem(Dialogs(), list->handle(), index, newState, mask, text, image,
                                              inserting);
}

int GtkWindowSystem::ListViewInsert(Window list, int index, const ListViewItem& item) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView) return -1;
    index = std::clamp(index, 0, static_cast<int>(node->items.size()));
    ListViewItem inserted = item;
    inserted.state = 0;
    node->items.insert(node->items.begin() + index, inserted);
    if (node->editing >= index) ++node->editing;
    ++quiet;
    gtk_list_store_insert_with_values(node->store, nullptr, index, kTextColumn, item.text.c_str(), -1);
    --quiet;
    LvShowItem(node, index);
    if (node->modelAttached) NameItemsByLabel(node->inner);  // the first item of an empty list
    return dialog_manager::ListViewItemInserted(Dialogs(), list, index, item);
}

bool GtkWindowSystem::ListViewDelete(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView || index < 0 ||
        index >= static_cast<int>(node->items.size())) {
        return false;
    }
    LvChangeItem(node, index, 0, lvis::kFocused | lvis::kSelected, nullptr, nullptr);
    if (!live_.contains(node) || index >= static_cast<int>(node->items.size())) return false;
    ListViewNotification data;
    data.item = index;
    data.data = node->items[static_cast<size_t>(index)].data;
    Notify(node, lvn::kDeleteItem, data);
    if (!live_.contains(node) || index >= static_cast<int>(node->items.size())) return false;
    if (node->editing == index) {
        node->editing = -1;
        RemoveEditor(node);
    } else if (node->editing > index) {
        --node->editing;
    }
    node->items.erase(node->items.begin() + index);
    GtkTreeIter iter;
    ++quiet;
    if (NthIter(node->store, index, iter)) gtk_list_store_remove(node->store, &iter);
    --quiet;
    return true;
}

uintptr_t GtkWindowSystem::ListViewData(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->items.size())) return 0;
    return node->items[static_cast<size_t>(index)].data;
}

unsigned GtkWindowSystem::ListViewState(Window list, int index, unsigned mask) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->items.size())) return 0;
    return node->items[static_cast<size_t>(index)].state & mask;
}

std::string GtkWindowSystem::ListViewText(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || index < 0 || index >= static_cast<int>(node->items.size())) return {};
    return node->items[static_cast<size_t>(index)].text.substr(0, 255);
}

bool GtkWindowSystem::ListViewSetText(Window list, int index, std::string_view text) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView) return false;
    const std::string label(text);
    return LvChangeItem(node, index, 0, 0, &label, nullptr);
}

bool GtkWindowSystem::ListViewSetImage(Window list, int index, int image) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView) return false;
    const bool done = LvChangeItem(node, index, 0, 0, nullptr, &image);
    if (done && live_.contains(node)) LvShowItem(node, index);  // the image list may have changed
    return done;
}

bool GtkWindowSystem::ListViewSetState(Window list, int index, unsigned state, unsigned mask) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView) return false;
    if (index != -1) return LvChangeItem(node, index, state, mask, nullptr, nullptr);
    for (int i = 0; i < static_cast<int>(node->items.size()) && live_.contains(node); ++i) {
        LvChangeItem(node, i, state, mask, nullptr, nullptr);
    }
    return true;
}

int GtkWindowSystem::ListViewNextItem(Window list, int start, unsigned flags) {
    Node* node = Find(list);
    return node ? dialog_manager::NextListViewItem(node->items, start, flags) : -1;
}

int GtkWindowSystem::ListViewSelectedCount(Window list) {
    Node* node = Find(list);
    return node ? dialog_manager::SelectedListViewItems(node->items) : 0;
}

// The user changed the selection in the widget: the model follows item by item, the items that
// lose their selection first, then the ones that gain it, the cursor's item taking the focus.
void GtkWindowSystem::ListViewSelectionFromWidget(Node* list) {
    GtkTreePath* cursor = nullptr;
    int focused = -1;
    if (gtk_icon_view_get_cursor(IconView(list), &cursor, nullptr) && cursor) {
        focused = gtk_tree_path_get_indices(cursor)[0];
        gtk_tree_path_free(cursor);
    }
    std::vector<bool> selected(list->items.size());
    for (size_t i = 0; i < selected.size(); ++i) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(static_cast<int>(i), -1);
        selected[i] = gtk_icon_view_path_is_selected(IconView(list), path) != FALSE;
        gtk_tree_path_free(path);
    }
    for (size_t i = 0; i < selected.size() && live_.contains(list) && i < list->items.size(); ++i) {
        if (!selected[i] && (list->items[i].state & lvis::kSelected)) {
            LvChangeItem(list, static_cast<int>(i), 0, lvis::kSelected, nullptr, nullptr);
        }
    }
    for (size_t i = 0; i < selected.size() && live_.contains(list) && i < list->items.size(); ++i) {
        if (selected[i] && !(list->items[i].state & lvis::kSelected)) {
            const unsigned state = static_cast<int>(i) == focused ? lvis::kSelected | lvis::kFocused : lvis::kSelected;
            LvChangeItem(list, static_cast<int>(i), state, state, nullptr, nullptr);
        }
    }
    if (focused >= 0 && live_.contains(list) && focused < static_cast<int>(list->items.size()) &&
        !(list->items[static_cast<size_t>(focused)].state & lvis::kFocused)) {
        LvChangeItem(list, focused, lvis::kFocused, lvis::kFocused, nullptr, nullptr);
    }
}

void GtkWindowSystem::LvSelectOnly(Node* list, int index) {
    dialog_manager::SelectOnlyListViewItem(Dialogs(), list->handle(), index);
}

// Clicks the widget does not answer itself: the right button (select the item under it, then
// NM_RCLICK and the context menu), the double click (NM_DBLCLK); after a left click NM_CLICK.
void GtkWindowSystem::ListViewButton(Node* list, const GdkEventButton& event) {
    const Point point{static_cast<int>(event.x), static_cast<int>(event.y)};
    const int index = ListViewHitTest(list->handle(), point);
    ListViewNotification data;
    data.item = index;
    data.point = point;
    CancelPendingEdit(list);  // a second press makes the click no rename
    if (event.type == GDK_2BUTTON_PRESS && event.button == 1) {
        Notify(list, nm::kDblClk, data);
        return;
    }
    if (event.type != GDK_BUTTON_PRESS) return;
    if (event.button == 3) {
        MoveFocus(list);
        if (index < 0) {
            LvSelectOnly(list, -1);
        } else if (!(list->items[static_cast<size_t>(index)].state & lvis::kSelected)) {
            LvSelectOnly(list, index);
        }
        Notify(list, nm::kRClick, data);
        if (live_.contains(list) && !list->run->ended) {
            ToControl(list, Message::ContextMenu(list->handle(), Point{static_cast<int>(event.x_root),
                                                                       static_cast<int>(event.y_root)}));
        }
    } else if (event.button == 1) {
        if (OnLabelOfOnlySelected(*this, list, event, index)) ScheduleEdit(*this, list, index);
        Notify(list, nm::kClick, data);
    }
}

int GtkWindowSystem::ListViewHitTest(Window list, Point point) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView) return -1;
    GtkTreePath* path = gtk_icon_view_get_path_at_pos(IconView(node), point.x, point.y);
    if (path == nullptr) return -1;
    const int index = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
    return index;
}

// Opens the label editor (LVN_BEGINLABELEDIT may refuse) over the item's label, with the label
// selected, and gives it the keyboard. An edit already open is cancelled first.
Window GtkWindowSystem::ListViewEditLabel(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListView || !(node->style & ws::kLvsEditLabels) || index < 0 ||
        index >= static_cast<int>(node->items.size())) {
        return nullptr;
    }
    if (node->editing >= 0) {
        EditingEnded(node, std::nullopt);
        if (!live_.contains(node) || index >= static_cast<int>(node->items.size())) return nullptr;
    }
    ListViewNotification data;
    data.item = index;
    data.data = node->items[static_cast<size_t>(index)].data;
    if (Notify(node, lvn::kBeginLabelEdit, data) != 0) return nullptr;
    if (!live_.contains(node) || index >= static_cast<int>(node->items.size()) || node->editing >= 0) return nullptr;
    GtkTreePath* path = gtk_tree_path_new_from_indices(index, -1);
    gtk_icon_view_scroll_to_path(IconView(node), path, FALSE, 0, 0);
    gtk_tree_path_free(path);
    GtkWidget* entry = gtk_entry_new();
    node->editing = index;
    EditingStarted(node, GTK_CELL_EDITABLE(entry), index);
    return reinterpret_cast<Window>(node->editor);
}

// The editor of item index, made: named for assistive technologies by the label it edits, limited
// as a label is, styled as the dialog's own widgets, shown and focused.
void GtkWindowSystem::EditingStarted(Node* list, GtkCellEditable* editable, int index) {
    GtkWidget* entry = GTK_WIDGET(editable);
    const std::string& label = list->items[static_cast<size_t>(index)].text;
    list->editor = entry;
    g_object_set_data(G_OBJECT(entry), "tavix-list", list);
    gtk_entry_set_max_length(GTK_ENTRY(entry), 255);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
    gtk_entry_set_text(GTK_ENTRY(entry), label.c_str());
    atk_object_set_name(gtk_widget_get_accessible(entry), label.c_str());
    gtk_style_context_add_provider(gtk_widget_get_style_context(entry), GTK_STYLE_PROVIDER(css_),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_signal_connect(entry, "activate", G_CALLBACK(OnEditorActivate), this);
    g_signal_connect(entry, "key-press-event", G_CALLBACK(OnEditorKey), this);
    g_signal_connect(entry, "focus-out-event", G_CALLBACK(OnEditorFocusOut), this);
    gtk_overlay_add_overlay(GTK_OVERLAY(list->widget), entry);
    gtk_widget_show(entry);
    gtk_widget_grab_focus(entry);  // selects the whole label: typing replaces it
}

// The edit ended (text) or was cancelled (nothing): the editor is gone before the list tells its
// dialog, so that the dialog may open it again.
void GtkWindowSystem::EditingEnded(Node* list, std::optional<std::string> text) {
    if (list->editing < 0) return;
    const int index = list->editing;
    list->editing = -1;
    RemoveEditor(list);
    if (!live_.contains(list) || index >= static_cast<int>(list->items.size())) return;
    ListViewNotification data;
    data.item = index;
    data.data = list->items[static_cast<size_t>(index)].data;
    data.text = text;
    const intptr_t accept = Notify(list, lvn::kEndLabelEdit, data);
    if (live_.contains(list) && index < static_cast<int>(list->items.size())) {
        if (text && accept != 0) {
            LvChangeItem(list, index, 0, 0, &*text, nullptr);
        } else {
            LvShowItem(list, index);
        }
    }
}

}  // namespace tavix::platform::gtk
