// Dialog templates as the resources hold them (DIALOG and DIALOGEX), read into plain data.
//
// The Windows dialog manager reads templates itself; everything else that builds a dialog
// from a template number (the headless window system, the tests) reads them through here, from
// the library's own resources or from a localized resource library.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frame/context/wide.h"

namespace tavix::resources {

// The predefined window classes of the dialog manager, by their atom in a template.
enum class ControlClass : uint16_t {
    Button = 0x0080,
    Edit = 0x0081,
    Static = 0x0082,
    ListBox = 0x0083,
    ScrollBar = 0x0084,
    ComboBox = 0x0085,
    Named = 0,  // any other class, named in DialogControl::className (e.g. "SysListView32")
};

struct DialogControl {
    int32_t id = 0;  // -1 (0xFFFF in a DIALOG template) for controls without an id
    ControlClass kind = ControlClass::Named;
    WString className;  // the class name as the template gives it; empty for predefined atoms
    WString text;       // the title; empty when the template gives an ordinal
    int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    uint32_t style = 0;
    uint32_t exStyle = 0;
    uint32_t helpId = 0;  // DIALOGEX only
};

struct DialogTemplate {
    bool extended = false;  // DIALOGEX
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    WString caption;
    WString fontName;     // empty when the template names no font (no DS_SETFONT)
    uint16_t fontSize = 0;  // points
    std::vector<DialogControl> controls;  // in template (tab) order
};

// Reads a template from the bytes of an RT_DIALOG resource; nullopt when the bytes are not a
// whole template (truncated, counts or strings running past the end).
std::optional<DialogTemplate> ParseDialogTemplate(std::span<const uint8_t> bytes);

}  // namespace tavix::resources
