// The German resource library as the library's resource source: its strings and dialog
// templates, read as the dialogs read them.
#include <gtest/gtest.h>

#include <array>
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

}  // namespace
}  // namespace tavix
