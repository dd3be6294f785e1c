// The controls' own operations: edits, buttons, scroll bars and the owner-drawn list box (a
// drawing area with a horizontal adjustment, painted by the dialog through a cairo painter).
// The list view has a file of its own (gtk_list_view.cpp).
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/gtk/gtk_window_system.h"

namespace tavix::platform::gtk {

GdkPixbuf* PixbufOf(const icons::IconImage& image) {
    if (image.width <= 0 || image.height <= 0) return nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, image.width, image.height);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const size_t at = static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x);
            const uint32_t argb = image.pixels[at];
            guchar* out = pixels + y * stride + x * 4;
            out[0] = static_cast<guchar>(argb >> 16);
            out[1] = static_cast<guchar>(argb >> 8);
            out[2] = static_cast<guchar>(argb);
            out[3] = at < image.mask.size() && image.mask[at] ? 0 : static_cast<guchar>(argb >> 24);
        }
    }
    return pixbuf;
}

namespace {

GtkWindowSystem* SystemOf(gpointer data) { return static_cast<GtkWindowSystem*>(data); }

// The painter of an owner-drawn item: fills in the theme's colours, the focus frame, images.
class CairoPainter final : public Painter {
public:
    CairoPainter(GtkWidget* widget, cairo_t* cr, const Host& host) : widget_(widget), cr_(cr), host_(host) {}

    void Fill(const Rect& rect, int sysColor) override {
        GtkStyleContext* style = gtk_widget_get_style_context(widget_);
        GdkRGBA color{1, 1, 1, 1};
        if (sysColor == color::kHighlight) {
            if (!gtk_style_context_lookup_color(style, "theme_selected_bg_color", &color)) {
                color = GdkRGBA{0.21, 0.52, 0.89, 1};
            }
        } else if (sysColor == color::kWindowText) {
            color = GdkRGBA{0, 0, 0, 1};
        } else if (!gtk_style_context_lookup_color(style, "theme_base_color", &color)) {
            color = GdkRGBA{1, 1, 1, 1};
        }
        gdk_cairo_set_source_rgba(cr_, &color);
        cairo_rectangle(cr_, rect.left, rect.top, rect.Width(), rect.Height());
        cairo_fill(cr_);
    }

    void FocusRect(const Rect& rect) override {
        gtk_render_focus(gtk_widget_get_style_context(widget_), cr_, rect.left, rect.top,
                         rect.Width(), rect.Height());
    }

    void DrawImage(const ImageList& images, int index, int x, int y) override {
        IconHandle icon = images.GetIcon(index);
        if (icon == nullptr) return;
        std::optional<icons::IconImage> image = host_.readIcon ? host_.readIcon(icon) : std::nullopt;
        if (host_.destroyIcon) host_.destroyIcon(icon);
        if (!image) return;
        if (GdkPixbuf* pixbuf = PixbufOf(*image)) {
            gdk_cairo_set_source_pixbuf(cr_, pixbuf, x, y);
            cairo_paint(cr_);
            g_object_unref(pixbuf);
        }
    }

private:
    GtkWidget* widget_;
    cairo_t* cr_;
    const Host& host_;
};

// ---- Signal handlers --------------------------------------------------------------------------

gboolean OnDrawBox(GtkWidget* widget, cairo_t* cr, gpointer data) {
    GtkWindowSystem* system = SystemOf(data);
    if (Node* box = system->NodeOfWidget(widget)) system->PaintListBox(box, cr);
    return TRUE;
}

gboolean OnBoxButton(GtkWidget* widget, GdkEventButton* event, gpointer data) {
    GtkWindowSystem* system = SystemOf(data);
    if (Node* box = system->NodeOfWidget(widget)) system->ListBoxButton(box, *event);
    return TRUE;
}

void OnBoxScrolled(GtkAdjustment*, gpointer data) {
    auto* node = static_cast<Node*>(data);
    if (auto* owner = static_cast<GtkWindowSystem*>(g_object_get_data(G_OBJECT(node->area), "tavix-system"))) {
        if (owner->quiet == 0 && owner->Find(node->handle())) owner->ListBoxScrolled(node);
    }
}

}  // namespace

// ---- Creation ----------------------------------------------------------------------------------
void GtkWindowSystem::CreateListBox(Node& node) {
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* frame = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
    GtkWidget* area = gtk_drawing_area_new();
    gtk_widget_set_can_focus(area, TRUE);
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK | GDK_SCROLL_MASK);
    gtk_widget_set_vexpand(area, TRUE);
    gtk_container_add(GTK_CONTAINER(frame), area);
    gtk_box_pack_start(GTK_BOX(box), frame, TRUE, TRUE, 0);
    node.adjustment = gtk_adjustment_new(0, 0, 1, 1, 1, 1);
    GtkWidget* bar = gtk_scrollbar_new(GTK_ORIENTATION_HORIZONTAL, node.adjustment);
    gtk_box_pack_start(GTK_BOX(box), bar, FALSE, FALSE, 0);
    g_object_set_data(G_OBJECT(area), "tavix-system", this);
    g_signal_connect(area, "draw", G_CALLBACK(OnDrawBox), this);
    g_signal_connect(area, "button-press-event", G_CALLBACK(OnBoxButton), this);
    g_signal_connect(node.adjustment, "value-changed", G_CALLBACK(OnBoxScrolled), &node);
    node.widget = box;
    node.inner = area;
    node.area = area;
}

// ---- Edits and buttons -------------------------------------------------------------------------
void GtkWindowSystem::SetTextLimit(Window edit, int maxChars) {
    Node* node = Find(edit);
    if (node == nullptr || node->kind != Kind::Edit) return;
    node->limit = maxChars;
    gtk_entry_set_max_length(GTK_ENTRY(node->inner), std::max(0, maxChars));
}

void GtkWindowSystem::SelectAllText(Window edit) {
    Node* node = Find(edit);
    if (node && node->kind == Kind::Edit) gtk_editable_select_region(GTK_EDITABLE(node->inner), 0, -1);
}

IconHandle GtkWindowSystem::SetButtonIcon(Window button, IconHandle icon) {
    Node* node = Find(button);
    if (node == nullptr || node->kind != Kind::Button) return nullptr;
    std::swap(node->icon, icon);
    GtkWidget* image = nullptr;
    if (IsRealIcon(node->icon) && host_.readIcon) {
        if (std::optional<icons::IconImage> pixels = host_.readIcon(node->icon)) {
            if (GdkPixbuf* pixbuf = PixbufOf(*pixels)) {
                image = gtk_image_new_from_pixbuf(pixbuf);
                g_object_unref(pixbuf);
            }
        }
    }
    gtk_button_set_image(GTK_BUTTON(node->inner), image);
    gtk_button_set_always_show_image(GTK_BUTTON(node->inner), TRUE);
    return icon;
}

// ---- List box (owner-drawn) --------------------------------------------------------------------
void GtkWindowSystem::ListBoxReset(Window list) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListBox) return;
    node->boxItems.clear();
    node->curSel = -1;
    gtk_widget_queue_draw(node->area);
}

int GtkWindowSystem::ListBoxAdd(Window list, std::string_view text, uintptr_t data) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListBox) return -1;
    int index = static_cast<int>(node->boxItems.size());
    // A sorted list box asks its owner where each item goes (WM_COMPAREITEM).
    if ((node->style & ws::kLbsSort) && !(node->style & ws::kLbsHasStrings)) {
        index = 0;
        while (index < static_cast<int>(node->boxItems.size())) {
            CompareItemRequest compare{2, node->id, node->handle(), index,
                                       node->boxItems[static_cast<size_t>(index)].data, -1, data};
            bool handled = false;
            const intptr_t order = ToDialog(*node->run, Message::CompareItem(compare), &handled);
            if (order > 0) break;
            ++index;
        }
    }
    Node::ListBoxItem item{std::string(text), data, node->itemHeight};
    if (node->style & ws::kLbsOwnerDrawVariable) {
        MeasureItemRequest measure{2, node->id, index, 0, static_cast<unsigned>(node->itemHeight), data};
        ToDialog(*node->run, Message::MeasureItem(measure, node->handle()));
        item.height = static_cast<int>(measure.height);
    }
    node->boxItems.insert(node->boxItems.begin() + index, item);
    if (node->curSel >= index) ++node->curSel;
    gtk_widget_queue_draw(node->area);
    return index;
}

int GtkWindowSystem::ListBoxCount(Window list) {
    Node* node = Find(list);
    return node && node->kind == Kind::ListBox ? static_cast<int>(node->boxItems.size()) : 0;
}

void GtkWindowSystem::ListBoxSetCurSel(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListBox) return;
    node->curSel = index >= 0 && index < static_cast<int>(node->boxItems.size()) ? index : -1;
    gtk_widget_queue_draw(node->area);
}

int GtkWindowSystem::ListBoxCurSel(Window list) {
    Node* node = Find(list);
    return node && node->kind == Kind::ListBox ? node->curSel : -1;
}

void GtkWindowSystem::ListBoxSetColumnWidth(Window list, int width) {
    if (Node* node = Find(list)) node->columnWidth = width;
}

void GtkWindowSystem::ListBoxSetHorizontalExtent(Window list, int extent) {
    if (Node* node = Find(list)) node->extent = extent;
}

void GtkWindowSystem::ListBoxSetItemHeight(Window list, int index, int height) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListBox) return;
    if (index >= 0 && index < static_cast<int>(node->boxItems.size())) {
        node->boxItems[static_cast<size_t>(index)].height = height;
    } else {
        node->itemHeight = height;
    }
}

int GtkWindowSystem::ListBoxItemHeight(Window list, int index) {
    Node* node = Find(list);
    if (node == nullptr || node->kind != Kind::ListBox) return 0;
    if (index >= 0 && index < static_cast<int>(node->boxItems.size())) {
        return node->boxItems[static_cast<size_t>(index)].height;
    }
    return node->itemHeight;
}

// Every item asks its owner to paint it (WM_DRAWITEM), through a cairo painter.
void GtkWindowSystem::PaintListBox(Node* box, cairo_t* cr) {
    const int width = gtk_widget_get_allocated_width(box->area);
    const int height = gtk_widget_get_allocated_height(box->area);
    CairoPainter painter(box->area, cr, host_);
    painter.Fill(Rect{0, 0, width, height}, color::kWindow);
    const bool focused = gtk_widget_has_focus(box->area);
    // The items are drawn in the list's own coordinates, scrolled by its horizontal position.
    cairo_translate(cr, -box->horzPos, 0);
    for (int i = 0; i < static_cast<int>(box->boxItems.size()); ++i) {
        const auto& item = box->boxItems[static_cast<size_t>(i)];
        DrawItemRequest request;
        request.controlType = 2;
        request.controlId = box->id;
        request.item = i;
        request.action = oda::kDrawEntire;
        request.state = (i == box->curSel ? oda::kStateSelected : 0u) |
                        (i == box->curSel && focused ? oda::kStateFocus : 0u);
        request.control = box->handle();
        request.rect = Rect{-box->horzPos, 0, std::max(width, box->extent) - box->horzPos, item.height};
        request.itemData = item.data;
        request.painter = &painter;
        ToDialog(*box->run, Message::DrawItem(request));
        if (!live_.contains(box)) return;
    }
}

void GtkWindowSystem::ListBoxButton(Node* box, const GdkEventButton& event) {
    Message message;
    message.message = event.type == GDK_2BUTTON_PRESS ? wm::kLButtonDblClk : wm::kLButtonDown;
    if (event.button == 3) {
        ContextMenuAt(box, Point{static_cast<int>(event.x_root), static_cast<int>(event.y_root)});
        return;
    }
    if (event.button != 1) return;
    const Point point{static_cast<int>(event.x), static_cast<int>(event.y)};
    message.lParam = (point.x & 0xFFFF) | ((point.y & 0xFFFF) << 16);
    message.point = point;
    ToControl(box, message);
}

void GtkWindowSystem::ListBoxClick(Node* box, int x) {
    if (box == nullptr || box->kind != Kind::ListBox || box->columnWidth <= 0 || box->boxItems.empty()) return;
    const int index = (x + ScrollPos(box->handle(), sb::kHorz)) / box->columnWidth;
    if (index < static_cast<int>(box->boxItems.size())) ListBoxSelect(box, index);
}

void GtkWindowSystem::ListBoxKey(Node* box, int key) {
    if (box == nullptr || box->kind != Kind::ListBox) return;
    ListBoxSelect(box, dialog_manager::ListBoxIndexForKey(key, box->curSel, static_cast<int>(box->boxItems.size())));
}

// The user selected item index (-1: none, which changes nothing).
void GtkWindowSystem::ListBoxSelect(Node* box, int index) {
    if (index < 0 || index == box->curSel) return;
    box->curSel = index;
    gtk_widget_queue_draw(box->area);
    dialog_manager::ListBoxSelectionChanged(Dialogs(), box->handle());
}

// The user moved the scroll bar: WM_HSCROLL with the thumb's position, through the hook.
void GtkWindowSystem::ListBoxScrolled(Node* box) {
    const int pos = ScrollPosFromValue(box->bars[sb::kHorz], gtk_adjustment_get_value(box->adjustment));
    if (pos == box->bars[sb::kHorz].pos) return;
    Message message;
    message.message = wm::kHScroll;
    message.wParam = static_cast<uintptr_t>(sb::kThumbPosition) | (static_cast<uintptr_t>(pos & 0xFFFF) << 16);
    ToControl(box, message);
}

// The list box's own handling of a scroll request: the position moves and the items repaint.
void GtkWindowSystem::ListBoxHScroll(Node* box, int code, int thumb) {
    const int width = ClientRect(box->handle()).right;
    int pos = box->horzPos;
    switch (code) {
        case sb::kLineLeft: pos -= 1; break;
        case sb::kLineRight: pos += 1; break;
        case sb::kPageLeft: pos -= width; break;
        case sb::kPageRight: pos += width; break;
        case sb::kThumbPosition:
        case sb::kThumbTrack: pos = thumb; break;
        case sb::kLeft: pos = 0; break;
        case sb::kRight: pos = box->extent - width; break;
        default: return;
    }
    box->horzPos = std::max(0, std::min(pos, box->extent - width));
    SetScrollPos(box->handle(), sb::kHorz, ScrollPosForCode(box->bars[sb::kHorz], code, thumb), true);
    gtk_widget_queue_draw(box->area);
}

// ---- Scroll bars -------------------------------------------------------------------------------
int GtkWindowSystem::SetScrollInfo(Window window, int bar, const ScrollInfo& info, bool) {
    Node* node = Find(window);
    ScrollInfo* held = node ? dialog_manager::BarOf(node->bars, bar) : nullptr;
    if (held == nullptr) return 0;
    dialog_manager::SetScrollBar(*held, info);
    if (node->adjustment && bar == sb::kHorz) {
        const AdjustmentRange range = AdjustmentFromScrollInfo(*held);
        ++quiet;
        gtk_adjustment_configure(node->adjustment, range.value, range.lower, range.upper, 1,
                                 std::max(1.0, range.page), range.page);
        --quiet;
        gtk_widget_queue_draw(node->area);
    }
    return held->pos;
}

ScrollInfo GtkWindowSystem::GetScrollInfo(Window window, int bar) {
    return dialog_manager::GetScrollInfo(Dialogs(), window, bar);
}

int GtkWindowSystem::ScrollPos(Window window, int bar) { return dialog_manager::ScrollPos(Dialogs(), window, bar); }

int GtkWindowSystem::SetScrollPos(Window window, int bar, int pos, bool redraw) {
    return dialog_manager::SetScrollPos(*this, window, bar, pos, redraw);
}

}  // namespace tavix::platform::gtk
