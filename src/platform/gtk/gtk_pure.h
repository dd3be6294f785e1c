// The parts of the GTK window system that need no display: dialog units, mnemonics, key codes,
// file filters, scroll ranges and message-box buttons. No GTK header is included here, so the
// unit tests exercise them on every build.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_system.h"

namespace tavix::platform::gtk {

// A dialog font's base units: the average width of a letter and the line height, in pixels.
struct BaseUnits {
    int x = 0;
    int y = 0;
};

// The base units from the font's metrics: the width of the 52 letters A-Z a-z and the height
// of a line, as the dialog manager computes them (half the 26-letter width, rounded).
BaseUnits BaseUnitsFromMetrics(int widthOf52Letters, int lineHeight);

// A rectangle given in dialog units (4 per base-unit width, 8 per base-unit height) in pixels.
Rect DialogUnitsToPixels(BaseUnits units, int x, int y, int cx, int cy);

// A template's text with its mnemonic marker in GTK's form: "&Server" -> "_Server", "&&" -> "&",
// and a literal underscore doubled.
std::string GtkMnemonic(std::string_view text);

// GTK's mnemonic form back in the dialog manager's: "_Server" -> "&Server", "__" -> "_",
// "&" -> "&&".
std::string WindowsMnemonic(std::string_view text);

// The text a user reads: the marker dropped, "&&" -> "&" ("&Server:" -> "Server:").
std::string WithoutMnemonic(std::string_view text);

// A GDK key value as a Windows virtual key (letters and digits as their capitals); 0 for a key
// the dialogs have no use for.
int VirtualKeyFromKeyval(unsigned keyval);

// The patterns of a filter ("*.ico;*.exe; *.dll" -> "*.ico", "*.exe", "*.dll"); empty parts
// are dropped.
std::vector<std::string> FilterPatterns(std::string_view pattern);

// A scroll bar as an adjustment: [lower, upper) with a page, the value inside [lower, upper -
// page]. SetScrollInfo's fields become these and back.
struct AdjustmentRange {
    double lower = 0;
    double upper = 0;
    double page = 0;
    double value = 0;
};
AdjustmentRange AdjustmentFromScrollInfo(const ScrollInfo& info);
// The scroll position an adjustment value stands for, kept within the bar's range.
int ScrollPosFromValue(const ScrollInfo& info, double value);
// The new position for a scroll request (sb::kLineLeft ... sb::kRight) from pos, or pos
// unchanged for a code that moves nothing.
int ScrollPosForCode(const ScrollInfo& info, int code, int thumb);

// The label that names a control for assistive technologies: of the labels (static texts, in
// dialog units), the nearest one ending above the control and overlapping it horizontally, or
// failing that the nearest one on its row to its left; -1 for none. Returns an index into labels.
int LabelFor(const Rect& control, const std::vector<Rect>& labels);

// A message box's buttons in their order, with the answer each gives.
struct MessageButton {
    std::string text;  // with the mnemonic marker as the dialog manager writes it ("&Yes")
    int answer = 0;
};
struct MessageButtons {
    std::vector<MessageButton> buttons;
    int defaultAnswer = 0;  // the first button's
    int escapeAnswer = 0;   // 0: Escape and the close box do nothing
};
// The buttons of style (message_box.h) in the language of the buttons (0: the system's, taken as
// English here; German 0x0407 and its other regions: "&Ja", "&Nein", "Abbrechen").
MessageButtons ButtonsFor(unsigned style, uint16_t language);

}  // namespace tavix::platform::gtk
