#include "platform/gtk/gtk_pure.h"

#include <algorithm>
#include <cmath>

#include "platform/dialog_manager.h"

namespace tavix::platform::gtk {

namespace {

int MulDiv(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    return static_cast<int>((product + (product >= 0 ? c / 2 : -c / 2)) / c);
}

// GDK key values (gdk/gdkkeysyms.h) the dialogs read, and their virtual keys.
struct KeyPair {
    unsigned keyval;
    int virtualKey;
};
constexpr KeyPair kKeys[] = {
    {0xff09, vk::kTab},    {0xfe20, vk::kTab},     {0xff0d, vk::kReturn}, {0xff8d, vk::kReturn},
    {0xff1b, vk::kEscape}, {0xffff, vk::kDelete},  {0xff9f, vk::kDelete}, {0xff50, vk::kHome},
    {0xff95, vk::kHome},   {0xff57, vk::kEnd},     {0xff9c, vk::kEnd},    {0xff51, vk::kLeft},
    {0xff96, vk::kLeft},   {0xff52, vk::kUp},      {0xff97, vk::kUp},     {0xff53, vk::kRight},
    {0xff98, vk::kRight},  {0xff54, vk::kDown},    {0xff99, vk::kDown},   {0xffbe, vk::kF1},
    {0xffbf, vk::kF2},     {0xffc7, dialog_manager::kVkF10}, {0xff67, vk::kApps},    {0xffe1, vk::kShift},
    {0xffe2, vk::kShift},
    {0xffe3, vk::kControl}, {0xffe4, vk::kControl},
};

constexpr unsigned kMbTypeMask = 0x0F;

}  // namespace

BaseUnits BaseUnitsFromMetrics(int widthOf52Letters, int lineHeight) {
    return BaseUnits{(widthOf52Letters / 26 + 1) / 2, lineHeight};
}

Rect DialogUnitsToPixels(BaseUnits units, int x, int y, int cx, int cy) {
    const int left = MulDiv(x, units.x, 4), top = MulDiv(y, units.y, 8);
    return Rect{left, top, left + MulDiv(cx, units.x, 4), top + MulDiv(cy, units.y, 8)};
}

std::string GtkMnemonic(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            } else if (i + 1 < text.size()) {
                out += '_';
            }
        } else if (c == '_') {
            out += "__";
        } else {
            out += c;
        }
    }
    return out;
}

std::string WindowsMnemonic(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            if (i + 1 < text.size() && text[i + 1] == '_') {
                out += '_';
                ++i;
            } else {
                out += '&';
            }
        } else if (c == '&') {
            out += "&&";
        } else {
            out += c;
        }
    }
    return out;
}

std::string WithoutMnemonic(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    return out;
}

int VirtualKeyFromKeyval(unsigned keyval) {
    if (keyval >= 'a' && keyval <= 'z') return static_cast<int>(keyval - 'a' + 'A');
    if ((keyval >= 'A' && keyval <= 'Z') || (keyval >= '0' && keyval <= '9')) {
        return static_cast<int>(keyval);
    }
    for (const KeyPair& pair : kKeys) {
        if (pair.keyval == keyval) return pair.virtualKey;
    }
    return 0;
}

std::vector<std::string> FilterPatterns(std::string_view pattern) {
    std::vector<std::string> patterns;
    size_t start = 0;
    while (start <= pattern.size()) {
        size_t end = pattern.find(';', start);
        if (end == std::string_view::npos) end = pattern.size();
        std::string_view part = pattern.substr(start, end - start);
        while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
        while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
        if (!part.empty()) patterns.emplace_back(part);
        start = end + 1;
    }
    return patterns;
}

AdjustmentRange AdjustmentFromScrollInfo(const ScrollInfo& info) {
    AdjustmentRange range;
    range.lower = info.min;
    range.upper = std::max(info.max + 1, info.min);
    range.page = std::min<double>(info.page, range.upper - range.lower);
    range.value = ScrollPosFromValue(info, info.pos);
    return range;
}

int ScrollPosFromValue(const ScrollInfo& info, double value) {
    // The last position shows the last page whole: max - page + 1 (max with no page).
    const int page = static_cast<int>(info.page);
    const int last = std::max(info.min, page > 0 ? info.max - page + 1 : info.max);
    return std::clamp(static_cast<int>(std::lround(value)), info.min, last);
}

int ScrollPosForCode(const ScrollInfo& info, int code, int thumb) {
    const int page = std::max(1, static_cast<int>(info.page));
    switch (code) {
        case sb::kLineLeft: return ScrollPosFromValue(info, info.pos - 1);
        case sb::kLineRight: return ScrollPosFromValue(info, info.pos + 1);
        case sb::kPageLeft: return ScrollPosFromValue(info, info.pos - page);
        case sb::kPageRight: return ScrollPosFromValue(info, info.pos + page);
        case sb::kThumbPosition:
        case sb::kThumbTrack: return ScrollPosFromValue(info, thumb);
        case sb::kLeft: return ScrollPosFromValue(info, info.min);
        case sb::kRight: return ScrollPosFromValue(info, info.max);
        default: return info.pos;
    }
}

int LabelFor(const Rect& control, const std::vector<Rect>& labels) {
    constexpr int kReach = 16;  // dialog units: a label further away names something else
    int best = -1, bestDistance = kReach + 1;
    for (size_t i = 0; i < labels.size(); ++i) {
        const Rect& label = labels[i];
        const bool overlaps = label.left < control.right && control.left < label.right;
        const int distance = control.top - label.bottom;
        if (overlaps && distance >= 0 && distance < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = distance;
        }
    }
    if (best >= 0) return best;
    for (size_t i = 0; i < labels.size(); ++i) {
        const Rect& label = labels[i];
        const bool sameRow = label.top < control.bottom && control.top < label.bottom;
        const int distance = control.left - label.right;
        if (sameRow && distance >= 0 && distance < bestDistance) {
            best = static_cast<int>(i);
            bestDistance = distance;
        }
    }
    return best;
}

MessageButtons ButtonsFor(unsigned style, uint16_t language) {
    const bool german = (language & 0x3FF) == 0x07;
    const std::string ok = "OK", cancel = german ? "Abbrechen" : "Cancel",
                      yes = german ? "&Ja" : "&Yes", no = german ? "&Nein" : "&No";
    MessageButtons result;
    switch (style & kMbTypeMask) {
        case kMbYesNoCancel:
            result.buttons = {{yes, kIdYes}, {no, kIdNo}, {cancel, kIdCancel}};
            result.escapeAnswer = kIdCancel;
            break;
        case kMbYesNo:
            result.buttons = {{yes, kIdYes}, {no, kIdNo}};
            break;
        case 0x01:  // OK, Cancel
            result.buttons = {{ok, kIdOk}, {cancel, kIdCancel}};
            result.escapeAnswer = kIdCancel;
            break;
        default:
            result.buttons = {{ok, kIdOk}};
            result.escapeAnswer = kIdOk;
            break;
    }
    result.defaultAnswer = result.buttons.front().answer;
    return result;
}

}  // namespace tavix::platform::gtk
