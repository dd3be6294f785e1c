#include "resources/dialog_template.h"

#include <algorithm>

namespace tavix::resources {

namespace {

constexpr uint32_t kDsSetFont = 0x40;  // the template names a font (DS_SHELLFONT includes it)

// Reads the little-endian fields of a template, each checked against its end; the first read
// past the end makes the reader fail for good.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }

    uint8_t U8() {
        if (!Need(1)) return 0;
        return bytes_[at_++];
    }
    uint16_t U16() {
        if (!Need(2)) return 0;
        const auto value = static_cast<uint16_t>(bytes_[at_] | bytes_[at_ + 1] << 8);
        at_ += 2;
        return value;
    }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | uint32_t{U16()} << 16;
    }
    int16_t I16() { return static_cast<int16_t>(U16()); }

    // A zero-terminated UTF-16 string.
    WString String() {
        WString text;
        for (;;) {
            const uint16_t c = U16();
            if (!ok_ || c == 0) return text;
            text.push_back(static_cast<WChar>(c));
        }
    }

    // A field that is empty (0x0000), an ordinal (0xFFFF and a number) or a string.
    struct NameOrOrdinal {
        bool isOrdinal = false;
        uint16_t ordinal = 0;
        WString name;
    };
    NameOrOrdinal NameOrOrdinalField() {
        NameOrOrdinal field;
        const size_t start = at_;
        const uint16_t first = U16();
        if (!ok_ || first == 0) return field;
        if (first == 0xFFFF) {
            field.isOrdinal = true;
            field.ordinal = U16();
            return field;
        }
        at_ = start;
        field.name = String();
        return field;
    }

    void Skip(size_t count) {
        if (Need(count)) at_ += count;
    }

    // To the next multiple of four from the start of the template.
    void AlignToDword() {
        const size_t aligned = (at_ + 3) & ~size_t{3};
        // Padding after the last control may be missing: alignment alone never fails.
        at_ = aligned <= bytes_.size() ? aligned : bytes_.size();
    }

private:
    bool Need(size_t count) {
        if (ok_ && count <= bytes_.size() - at_) return true;
        ok_ = false;
        return false;
    }

    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

void ReadControlClassAndText(Reader& in, DialogControl& control) {
    const auto kind = in.NameOrOrdinalField();
    if (kind.isOrdinal) {
        control.kind = static_cast<ControlClass>(kind.ordinal);
    } else {
        control.kind = ControlClass::Named;
        control.className = kind.name;
    }
    const auto text = in.NameOrOrdinalField();
    if (!text.isOrdinal) control.text = text.name;
    // Creation data: a byte count and that many bytes, which the library does not use.
    in.Skip(in.U16());
}

}  // namespace

std::optional<DialogTemplate> ParseDialogTemplate(std::span<const uint8_t> bytes) {
    Reader in(bytes);
    DialogTemplate dialog;
    const uint16_t version = in.U16();
    const uint16_t signature = in.U16();
    dialog.extended = version == 1 && signature == 0xFFFF;
    uint16_t count = 0;
    if (dialog.extended) {
        in.U32();  // the dialog's help id
        dialog.exStyle = in.U32();
        dialog.style = in.U32();
    } else {
        dialog.style = uint32_t{version} | uint32_t{signature} << 16;
        dialog.exStyle = in.U32();
    }
    count = in.U16();
    dialog.x = in.I16();
    dialog.y = in.I16();
    dialog.cx = in.I16();
    dialog.cy = in.I16();
    in.NameOrOrdinalField();  // menu
    in.NameOrOrdinalField();  // window class
    dialog.caption = in.String();
    if (dialog.style & kDsSetFont) {
        dialog.fontSize = in.U16();
        if (dialog.extended) {
            in.U16();  // weight
            in.U8();   // italic
            in.U8();   // character set
        }
        dialog.fontName = in.String();
    }
    if (!in.ok()) return std::nullopt;

    // The smallest control takes 18 bytes in a DIALOG template and 24 in a DIALOGEX one.
    dialog.controls.reserve(std::min<size_t>(count, bytes.size() / 18));
    for (uint16_t i = 0; i < count; ++i) {
        in.AlignToDword();
        DialogControl control;
        if (dialog.extended) {
            control.helpId = in.U32();
            control.exStyle = in.U32();
            control.style = in.U32();
        } else {
            control.style = in.U32();
            control.exStyle = in.U32();
        }
        control.x = in.I16();
        control.y = in.I16();
        control.cx = in.I16();
        control.cy = in.I16();
        // A DIALOG template's id is 16 bits, 0xFFFF standing for "no id" (-1).
        control.id = dialog.extended ? static_cast<int32_t>(in.U32())
                                     : static_cast<int32_t>(static_cast<int16_t>(in.U16()));
        ReadControlClassAndText(in, control);
        if (!in.ok()) return std::nullopt;
        dialog.controls.push_back(std::move(control));
    }
    return dialog;
}

}  // namespace tavix::resources
