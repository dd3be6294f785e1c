// The library's resources as the dialogs and the string loader read them, the German resource
// library, and the readers on damaged input.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "frame/library_context.h"
#include "platform/module.h"
#include "resources/dialog_template.h"
#include "resources/resource_reader.h"

namespace tavix {
namespace {

std::u16string U16(WStringView text) { return {text.begin(), text.end()}; }

// A dialog as its template must read: the kinds of its controls in tab order as letters
// (Button, Edit, Static, List box, Combo box, N a named class), their ids and their texts.
struct Dialog {
    uint32_t id;
    bool extended;
    const char16_t* caption;
    int16_t cx, cy;
    const char* kinds;
    std::vector<int32_t> ids;
    std::vector<std::u16string> texts;
};

const std::vector<Dialog>& EnglishDialogs() {
    static const std::vector<Dialog> dialogs = {
        {100, false, u"Change Icon", 217, 118, "EBLBBSS", {8, 4, 7, 1, 2, -1, -1},
         {u"", u"&Browse...", u"", u"OK", u"Cancel", u"&File Name:", u"&Current Icon:"}},
        {200, true, u"Connections", 313, 141, "NBBBBBBSS", {5, 12, 3, 14, 13, 1, 2, -1, 11},
         {u"List2", u"&New...", u"&Save", u"&Delete", u"&Properties...", u"&Connect", u"Cancel", u"",
          u"connection string"}},
        {300, false, u"Connection Properties", 209, 126, "SEESESBSEBBBSC",
         {-1, 15, 16, -1, 17, -1, 6, -1, 18, 9, 1, 2, -1, 10},
         {u"&Connection Name:", u"", u"", u"&Namespace:", u"", u"&Icon...", u"&Icon...", u"&Port:",
          u"", u"&List Namespaces", u"OK", u"Cancel", u"&Server:", u""}},
    };
    return dialogs;
}

void ExpectLayout(const resources::DialogTemplate& got, const Dialog& want, bool texts) {
    using resources::ControlClass;
    EXPECT_EQ(got.extended, want.extended);
    EXPECT_EQ((std::array{got.cx, got.cy}), (std::array{want.cx, want.cy}));
    EXPECT_EQ(U16(got.fontName), u"MS Sans Serif");
    EXPECT_EQ(got.fontSize, 8);
    if (texts) {
        EXPECT_EQ(U16(got.caption), want.caption);
    }
    const std::map<ControlClass, char> letters = {
        {ControlClass::Button, 'B'}, {ControlClass::Edit, 'E'},     {ControlClass::Static, 'S'},
        {ControlClass::ListBox, 'L'}, {ControlClass::ComboBox, 'C'}, {ControlClass::Named, 'N'}};
    ASSERT_EQ(got.controls.size(), want.ids.size());
    for (size_t i = 0; i < want.ids.size(); ++i) {
        const auto& c = got.controls[i];
        SCOPED_TRACE("dialog " + std::to_string(want.id) + ", control " + std::to_string(i));
        EXPECT_EQ(c.id, want.ids[i]);
        EXPECT_EQ(letters.at(c.kind), want.kinds[i]);
        if (texts) {
            EXPECT_EQ(U16(c.text), want.texts[i]);
        }
    }
}

TEST(LibraryResources, DialogTemplatesHoldEveryControl) {
    ContextGuard guard;
    for (const Dialog& want : EnglishDialogs()) {
        const auto got = LoadDialogTemplate(want.id);
        ASSERT_TRUE(got) << want.id;
        ExpectLayout(*got, want, true);
    }
    // The list view by its class name; the two namespace controls hidden.
    const auto connections = LoadDialogTemplate(200), properties = LoadDialogTemplate(300);
    std::u16string className = U16(connections->controls[0].className);  // in any case
    for (char16_t& c : className) c = c >= u'a' && c <= u'z' ? char16_t(c - 32) : c;
    EXPECT_EQ(className, u"SYSLISTVIEW32");
    for (const size_t hidden : {9, 13}) {
        EXPECT_EQ(properties->controls[hidden].style & 0x10000000u, 0u);  // WS_VISIBLE
    }
    EXPECT_FALSE(LoadDialogTemplate(400));
    EXPECT_FALSE(LoadDialogTemplate(0x10000 + 100));
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

    SetLibraryResourceModule(german);
    {
        ContextGuard guard;
        EXPECT_EQ(Library().resourceModule, german);
        EXPECT_EQ(LoadString(2012), "Namenlos");
        EXPECT_EQ(LoadString(2009), "USER");
        EXPECT_EQ(LoadString(2015), "Do you want to save your changes?");  // own
        EXPECT_EQ(LoadString(2003), "Software\\Vantorin\\Connections");   // own
        const char16_t* captions[] = {u"Symbol ändern", u"Verbindungen", u"Verbindungseigenschaften"};
        for (size_t i = 0; i < EnglishDialogs().size(); ++i) {
            const auto got = LoadDialogTemplate(EnglishDialogs()[i].id);
            ASSERT_TRUE(got);
            EXPECT_EQ(U16(got->caption), captions[i]);
            ExpectLayout(*got, EnglishDialogs()[i], false);
        }
    }
    SetLibraryResourceModule(platform::OwnModule());
    EXPECT_EQ(Library().resourceModule, Library().module);
    ContextGuard guard;
    EXPECT_EQ(LoadString(2012), "Nameless");
    platform::FreeResourceLibrary(german);
}

// Every cut of a template, a string block or a PE file reads as missing, never past its end.
TEST(ResourceReaders, TruncatedInputReadsAsMissing) {
    const std::vector<uint8_t> dll = ReadFile(kGermanLibrary);
    const auto set = resources::ResourceSet::FromPe(dll);
    ASSERT_TRUE(set);
    for (const uint16_t id : {100, 200, 300}) {
        const auto bytes = set->Find(resources::kRtDialog, id);
        ASSERT_TRUE(bytes && resources::ParseDialogTemplate(*bytes));
        // The last control ends with its creation-data count.
        for (size_t cut = 0; cut + 2 <= bytes->size() - 2; ++cut) {
            // An exact-size copy, so that reading past it is caught.
            const std::vector<uint8_t> part(bytes->begin(), bytes->begin() + ptrdiff_t(cut));
            EXPECT_FALSE(resources::ParseDialogTemplate(part)) << id << " cut at " << cut;
        }
    }
    const auto block = set->Find(resources::kRtString, resources::StringBlockId(2012));
    ASSERT_TRUE(block);
    EXPECT_EQ((*resources::ReadStringBlock(*block))[2012 % 16], u"Namenlos");
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
    const auto found = set->Find(resources::kRtVersion, 1);
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
