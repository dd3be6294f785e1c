// The library's resources as the dialogs and the string loader read them, the German resource
// library, and the readers on damaged input.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <vector>

#include "frame/context/library_context.h"
#include "platform/module.h"
#include "resources/dialog_template.h"
#include "resources/resource.h"
#include "resources/resource_reader.h"

namespace tavix {
namespace {

std::u16string U16(WStringView text) { return {text.begin(), text.end()}; }

constexpr uint32_t kDialogs[] = {IDD_CHANGE_ICON, IDD_CONNECTIONS, IDD_CONNECTION_PROPERTIES};

const resources::DialogControl* Control(const resources::DialogTemplate& dialog, int32_t id) {
    for (const auto& control : dialog.controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

// Both template formats read whole: fonts, styles, a named class, a missing template.
TEST(LibraryResources, DialogTemplatesReadWhole) {
    ContextGuard guard;
    for (const uint32_t id : kDialogs) {
        const auto got = LoadDialogTemplate(id);
        ASSERT_TRUE(got) << id;
        EXPECT_EQ(got->extended, id == IDD_CONNECTIONS) << id;
        EXPECT_EQ(U16(got->fontName), u"MS Sans Serif");
        EXPECT_EQ(got->fontSize, 8);
        EXPECT_FALSE(got->caption.empty());
        ASSERT_TRUE(Control(*got, IDOK) && Control(*got, IDCANCEL)) << id;
        EXPECT_NE(Control(*got, IDOK)->style & WS_VISIBLE, 0u) << id;
    }
    const auto connections = LoadDialogTemplate(IDD_CONNECTIONS);
    const auto* list = Control(*connections, IDC_CONNECTION_LIST);
    ASSERT_NE(list, nullptr);
    std::u16string className = U16(list->className);  // in any case
    for (char16_t& c : className) c = c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
    EXPECT_EQ(className, u"SYSLISTVIEW32");
    EXPECT_EQ(list->exStyle & WS_EX_CLIENTEDGE, unsigned{WS_EX_CLIENTEDGE});
    EXPECT_FALSE(LoadDialogTemplate(IDD_CONNECTION_PROPERTIES + 100));
    EXPECT_FALSE(LoadDialogTemplate(0x10000 + IDD_CHANGE_ICON));
}

// Two templates of one dialog have the same layout: size, font, and each control's kind, id,
// place and style in the same order.
void ExpectSameLayout(const resources::DialogTemplate& got, const resources::DialogTemplate& want) {
    EXPECT_EQ(got.extended, want.extended);
    EXPECT_EQ((std::array<uint32_t, 3>{uint16_t(got.cx), uint16_t(got.cy), got.style}),
              (std::array<uint32_t, 3>{uint16_t(want.cx), uint16_t(want.cy), want.style}));
    EXPECT_EQ(U16(got.fontName), U16(want.fontName));
    ASSERT_EQ(got.controls.size(), want.controls.size());
    for (size_t i = 0; i < want.controls.size(); ++i) {
        const auto &a = got.controls[i], &b = want.controls[i];
        SCOPED_TRACE("control " + std::to_string(i));
        using Row = std::array<int64_t, 7>;
        EXPECT_EQ((Row{a.id, int64_t(a.kind), a.style, a.x, a.y, a.cx, a.cy}),
                  (Row{b.id, int64_t(b.kind), b.style, b.x, b.y, b.cx, b.cy}));
    }
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const std::string kGermanLibrary = std::string(TAVIX_BINARY_DIR) + "/TavixConnectDEU.DLL";

// The German library as the library's resource source: the current strings and the dialogs
// come from it, with the same layout; own strings and the version stay the library's.
TEST(GermanResourceLibrary, ReplacesCurrentStringsAndDialogTexts) {
    const platform::ModuleHandle german = platform::LoadResourceLibrary(kGermanLibrary);
    ASSERT_NE(german, nullptr) << kGermanLibrary;
    const auto ownVersion = platform::FileProductVersion(platform::ModulePath(platform::OwnModule()));
    EXPECT_EQ(ownVersion, "1.0.0.0");
    EXPECT_EQ(platform::FileProductVersion(platform::ModulePath(german)), ownVersion);

    std::vector<resources::DialogTemplate> english;
    {
        ContextGuard guard;
        for (const uint32_t id : kDialogs) english.push_back(LoadDialogTemplate(id).value());
    }
    SetLibraryResourceModule(german);
    {
        ContextGuard guard;
        EXPECT_EQ(Library().resourceModule, german);
        EXPECT_EQ(LoadString(IDS_NAMELESS), "Namenlos");
        EXPECT_EQ(LoadString(IDS_DEFAULT_NAMESPACE), "USER");
        EXPECT_EQ(LoadString(IDS_SAVE_PROMPT), "Do you want to save your changes?");  // own
        EXPECT_EQ(LoadString(IDS_CONNECTIONS_KEY), "Software\\Vantorin\\Connections");   // own
        for (size_t i = 0; i < english.size(); ++i) {
            SCOPED_TRACE("dialog " + std::to_string(kDialogs[i]));
            const auto got = LoadDialogTemplate(kDialogs[i]);
            ASSERT_TRUE(got);
            EXPECT_NE(U16(got->caption), U16(english[i].caption));
            ExpectSameLayout(*got, english[i]);
        }
    }
    SetLibraryResourceModule(platform::OwnModule());
    EXPECT_EQ(Library().resourceModule, Library().module);
    ContextGuard guard;
    EXPECT_EQ(LoadString(IDS_NAMELESS), "Nameless");
    platform::FreeResourceLibrary(german);
}

// Every cut of a template, a string block or a PE file reads as missing, never past its end.
TEST(ResourceReaders, TruncatedInputReadsAsMissing) {
    const std::vector<uint8_t> dll = ReadFile(kGermanLibrary);
    const auto set = resources::ResourceSet::FromPe(dll);
    ASSERT_TRUE(set);
    for (const uint32_t id : kDialogs) {
        const auto bytes = set->Find(resources::kRtDialog, static_cast<uint16_t>(id));
        ASSERT_TRUE(bytes && resources::ParseDialogTemplate(*bytes));
        // The last control ends with its creation-data count.
        for (size_t cut = 0; cut + 2 <= bytes->size() - 2; ++cut) {
            // An exact-size copy, so that reading past it is caught.
            const std::vector<uint8_t> part(bytes->begin(), bytes->begin() + ptrdiff_t(cut));
            EXPECT_FALSE(resources::ParseDialogTemplate(part)) << id << " cut at " << cut;
        }
    }
    const auto block = set->Find(resources::kRtString, resources::StringBlockId(IDS_NAMELESS));
    ASSERT_TRUE(block);
    EXPECT_EQ((*resources::ReadStringBlock(*block))[IDS_NAMELESS % 16], u"Namenlos");
    EXPECT_FALSE(resources::ReadStringBlock(block->first(block->size() - 1)));
    // A PE file whose sections run past its end is not one a loader maps.
    for (const size_t cut : {size_t{0}, size_t{64}, size_t{512}, dll.size() / 2}) {
        EXPECT_FALSE(resources::ResourceSet::FromPe(std::span(dll).first(cut))) << cut;
    }
    const std::string text = "MZ is how this text starts, but it is no program";
    EXPECT_FALSE(resources::ResourceSet::FromPe(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
}

// Version records whose nodes claim more room than their parent give no version.
TEST(ResourceReaders, VersionRecordsThatLieGiveNoVersion) {
    const std::vector<uint8_t> dll = ReadFile(kGermanLibrary);
    const auto set = resources::ResourceSet::FromPe(dll);
    ASSERT_TRUE(set);
    const auto found = set->Find(resources::kRtVersion, VS_VERSION_INFO);
    ASSERT_TRUE(found);
    const std::vector<uint8_t> info(found->begin(), found->end());
    EXPECT_EQ(resources::ProductVersion(info), u"1.0.0.0");
    // Each node on the way to ProductVersion: its header starts 6 bytes before its key.
    for (const std::u16string_view key : {u"VS_VERSION_INFO", u"StringFileInfo", u"040904B0", u"ProductVersion"}) {
        const std::string bytes(reinterpret_cast<const char*>(key.data()), key.size() * 2);  // little-endian
        const size_t node = std::string(info.begin(), info.end()).find(bytes) - 6;
        for (const uint16_t length : {uint16_t{0xFFFF}, uint16_t{4}}) {
            std::vector<uint8_t> lie = info;
            lie.at(node) = static_cast<uint8_t>(length);
            lie.at(node + 1) = static_cast<uint8_t>(length >> 8);
            EXPECT_FALSE(resources::ProductVersion(lie)) << node << " " << length;
        }
    }
    EXPECT_FALSE(resources::ProductVersion(std::span(info).first(info.size() / 2)));
}

}  // namespace
}  // namespace tavix
