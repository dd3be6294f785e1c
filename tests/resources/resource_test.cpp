// The library's resources as the dialogs and the string loader read them, the German resource
// library, and the readers on damaged input.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <fstream>
#include <iterator>
#include <vector>

#include "frame/library_context.h"
#include "platform/module.h"
#include "resources/dialog_template.h"
#include "resources/resource_reader.h"

namespace tavix {
namespace {

using resources::ControlClass;

std::string Utf8(WStringView text) {
    std::string out;
    for (const WChar c : text) {
        const auto u = static_cast<uint32_t>(c);
        if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | u >> 6);
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | u >> 12);
            out += static_cast<char>(0x80 | (u >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

constexpr uint32_t kVisible = 0x10000000, kTabStop = 0x00010000, kGroup = 0x00020000;
constexpr uint32_t kBorder = 0x00800000, kHScroll = 0x00100000, kVScroll = 0x00200000;
constexpr uint32_t kDialogStyle = 0x80000000 | 0x00C00000 | 0x00080000 | 0x80 | 0x40;

struct Control {
    int32_t id;
    ControlClass kind;
    const char* className;
    const char* text;
    int16_t x, y, cx, cy;
    uint32_t style;  // the bits that must be set (WS_CHILD and WS_VISIBLE aside)
    bool visible;
    uint32_t exStyle;
};

struct Dialog {
    uint32_t id;
    bool extended;
    const char* caption;
    int16_t cx, cy;
    std::vector<Control> controls;
};

const ControlClass B = ControlClass::Button, E = ControlClass::Edit, S = ControlClass::Static;

const std::vector<Dialog>& EnglishDialogs() {
    static const std::vector<Dialog> dialogs = {
        {100, false, "Change Icon", 217, 118, {
            {8, E, "", "", 4, 17, 206, 14, 0x80 | kBorder | kTabStop, true, 0},
            {4, B, "", "&Browse...", 161, 36, 50, 14, kTabStop, true, 0},
            {7, ControlClass::ListBox, "", "", 4, 55, 206, 26,
             0x1 | 0x2 | 0x20 | 0x100 | 0x400 | 0x1000 | kBorder | kHScroll | kTabStop, true, 0},
            {1, B, "", "OK", 104, 97, 50, 14, 0x1 | kTabStop, true, 0},
            {2, B, "", "Cancel", 161, 97, 50, 14, kTabStop, true, 0},
            {-1, S, "", "&File Name:", 4, 5, 157, 8, kGroup, true, 0},
            {-1, S, "", "&Current Icon:", 4, 42, 38, 8, kGroup, true, 0},
        }},
        {200, true, "Connections", 313, 141, {
            {5, ControlClass::Named, "SysListView32", "List2", 4, 4, 240, 92,
             0x200 | 0x100 | 0x8 | 0x40 | kTabStop, true, 0x200},
            {12, B, "", "&New...", 251, 4, 58, 14, kTabStop, true, 0},
            {3, B, "", "&Save", 251, 24, 58, 14, kTabStop, true, 0},
            {14, B, "", "&Delete", 251, 43, 58, 14, kTabStop, true, 0},
            {13, B, "", "&Properties...", 251, 81, 58, 14, kTabStop, true, 0},
            {1, B, "", "&Connect", 185, 101, 58, 14, 0x1 | kTabStop, true, 0},
            {2, B, "", "Cancel", 251, 101, 58, 14, kTabStop, true, 0},
            {-1, S, "", "", 4, 120, 305, 1, 0x9 | 0x1000, true, 0},
            {11, S, "", "connection string", 19, 128, 290, 10, 0x200, true, 0},
        }},
        {300, false, "Connection Properties", 209, 126, {
            {-1, S, "", "&Connection Name:", 7, 6, 124, 8, kGroup, true, 0},
            {15, E, "", "", 7, 15, 122, 12, 0x80 | kBorder | kTabStop, true, 0},
            {16, E, "", "", 7, 46, 122, 12, 0x80 | kBorder | kTabStop, true, 0},
            {-1, S, "", "&Namespace:", 7, 68, 129, 8, kGroup, true, 0},
            {17, E, "", "", 7, 78, 122, 12, 0x80 | kBorder | kTabStop, true, 0},
            {-1, S, "", "&Icon...", 141, 17, 33, 8, kGroup, true, 0},
            {6, B, "", "&Icon...", 179, 13, 21, 18, 0x40 | kTabStop, true, 0},
            {-1, S, "", "&Port:", 141, 37, 59, 8, kGroup, true, 0},
            {18, E, "", "", 141, 46, 62, 12, 0x80 | kBorder | kTabStop, true, 0},
            {9, B, "", "&List Namespaces", 141, 77, 62, 14, kTabStop, false, 0},
            {1, B, "", "OK", 90, 104, 52, 14, 0x1 | kTabStop, true, 0},
            {2, B, "", "Cancel", 150, 104, 52, 14, kTabStop, true, 0},
            {-1, S, "", "&Server:", 7, 37, 121, 8, kGroup, true, 0},
            {10, ControlClass::ComboBox, "", "", 7, 78, 134, 39, 0x2 | 0x100 | kVScroll | kTabStop,
             false, 0},
        }},
    };
    return dialogs;
}

void ExpectLayout(const resources::DialogTemplate& got, const Dialog& want, bool texts) {
    EXPECT_EQ(got.extended, want.extended);
    EXPECT_EQ(got.style & kDialogStyle, kDialogStyle);
    EXPECT_EQ(got.cx, want.cx);
    EXPECT_EQ(got.cy, want.cy);
    EXPECT_EQ(Utf8(got.fontName), "MS Sans Serif");
    EXPECT_EQ(got.fontSize, 8);
    if (texts) {
        EXPECT_EQ(Utf8(got.caption), want.caption);
    }
    ASSERT_EQ(got.controls.size(), want.controls.size());
    for (size_t i = 0; i < want.controls.size(); ++i) {
        const auto& c = got.controls[i];
        const Control& w = want.controls[i];
        SCOPED_TRACE("dialog " + std::to_string(want.id) + ", control " + std::to_string(i));
        EXPECT_EQ(c.id, w.id);
        EXPECT_EQ(c.kind, w.kind);
        // Class names compare without regard to case (the resource compiler writes them in
        // capitals).
        std::string className = Utf8(c.className), wanted = w.className;
        for (std::string* name : {&className, &wanted}) {
            for (char& ch : *name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        }
        EXPECT_EQ(className, wanted);
        if (texts) {
            EXPECT_EQ(Utf8(c.text), w.text);
        }
        EXPECT_EQ((std::array{c.x, c.y, c.cx, c.cy}), (std::array{w.x, w.y, w.cx, w.cy}));
        EXPECT_EQ(c.style & w.style, w.style);
        EXPECT_EQ((c.style & kVisible) != 0, w.visible);
        EXPECT_EQ(c.exStyle, w.exStyle);
    }
}

TEST(LibraryResources, DialogTemplatesHoldEveryControl) {
    ContextGuard guard;
    for (const Dialog& want : EnglishDialogs()) {
        const auto got = LoadDialogTemplate(want.id);
        ASSERT_TRUE(got) << want.id;
        ExpectLayout(*got, want, true);
    }
    EXPECT_FALSE(LoadDialogTemplate(400));
    EXPECT_FALSE(LoadDialogTemplate(0x10000 + 100));
}

TEST(LibraryResources, StringTable) {
    const std::pair<uint32_t, const char*> strings[] = {
        {2000, "Properties"}, {2001, "New Connection"}, {2002, "Delete Connection"},
        {2003, "Software\\Vantorin\\Connections"}, {2004, "Icon"}, {2005, "Index"},
        {2006, "FileName"}, {2007, ""}, {2008, "Local"}, {2009, "USER"},
        {2010, "No icons found in the chosen file."},
        {2011, "Icon files (*.ico;*.dll;*.exe;*.ocx)|*.ico;*.dll;*.exe;*.ocx|Icons (*.ico)|*.ico|"
               "Libraries (*.dll)|*.dll|Programs (*.exe)|*.exe|Controls (*.ocx)|*.ocx|"
               "All Files (*.*)|*.*||"},
        {2012, "Nameless"}, {2013, ""},
        {2014, "Warning - multiple connection entries in registry with same name."},
        {2015, "Do you want to save your changes?"}, {2016, "Save"}, {2017, ""},
    };
    ContextGuard guard;
    for (const auto& [id, text] : strings) EXPECT_EQ(LoadString(id), text) << id;
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
    ASSERT_TRUE(ownVersion);
    EXPECT_EQ(*ownVersion, "1.0.0.0");
    EXPECT_EQ(platform::FileProductVersion(platform::ModulePath(german)), ownVersion);

    SetLibraryResourceModule(german);
    {
        ContextGuard guard;
        EXPECT_EQ(Library().resourceModule, german);
        EXPECT_EQ(LoadString(2012), "Namenlos");
        EXPECT_EQ(LoadString(2009), "USER");
        EXPECT_EQ(LoadString(2015), "Do you want to save your changes?");  // own
        EXPECT_EQ(LoadString(2003), "Software\\Vantorin\\Connections");   // own
        const char* captions[] = {"Symbol ändern", "Verbindungen", "Verbindungseigenschaften"};
        for (size_t i = 0; i < EnglishDialogs().size(); ++i) {
            const auto got = LoadDialogTemplate(EnglishDialogs()[i].id);
            ASSERT_TRUE(got);
            EXPECT_EQ(Utf8(got->caption), captions[i]);
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
    ASSERT_GT(dll.size(), 1024u);
    const auto set = resources::ResourceSet::FromPe(dll);
    ASSERT_TRUE(set);
    for (const uint16_t id : {100, 200, 300}) {
        const auto bytes = set->Find(resources::kRtDialog, id);
        ASSERT_TRUE(bytes);
        ASSERT_TRUE(resources::ParseDialogTemplate(*bytes));
        // The last control ends with its creation-data count.
        for (size_t cut = 0; cut + 2 <= bytes->size() - 2; ++cut) {
            const std::vector<uint8_t> part(bytes->begin(), bytes->begin() + cut);
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

    // Offsets of the nodes on the way to ProductVersion: each node's header starts 6 bytes
    // before its key.
    const auto keyAt = [&](std::u16string_view key) {
        for (size_t at = 0; at + key.size() * 2 <= info.size(); at += 2) {
            bool same = true;
            for (size_t i = 0; i < key.size() && same; ++i) {
                same = info[at + 2 * i] == (key[i] & 0xFF) && info[at + 2 * i + 1] == (key[i] >> 8);
            }
            if (same) return at - 6;
        }
        return size_t{0};
    };
    for (const std::u16string_view key : {u"VS_VERSION_INFO", u"StringFileInfo", u"040904B0", u"ProductVersion"}) {
        for (const uint16_t length : {uint16_t{0xFFFF}, uint16_t{4}}) {
            std::vector<uint8_t> lie = info;
            const size_t node = keyAt(key);
            lie[node] = static_cast<uint8_t>(length);
            lie[node + 1] = static_cast<uint8_t>(length >> 8);
            EXPECT_FALSE(resources::ProductVersion(lie)) << Utf8(WideFromUtf16(key)) << " " << length;
        }
    }
    EXPECT_FALSE(resources::ProductVersion(std::span(info).first(info.size() / 2)));
}

}  // namespace
}  // namespace tavix
