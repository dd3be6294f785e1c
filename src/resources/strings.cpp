#include "resources/strings.h"

#include <array>

namespace tavix::resources {

namespace {

constexpr std::array kStrings{
    StringEntry{kStrProperties, StringSource::Current, u"Properties"},
    StringEntry{kStrNewConnection, StringSource::Current, u"New Connection"},
    StringEntry{kStrDeleteConnection, StringSource::Current, u"Delete Connection"},
    StringEntry{kStrConnectionsKey, StringSource::Own, u"Software\\Vantorin\\Connections"},
    StringEntry{kStrIconKey, StringSource::Own, u"Icon"},
    StringEntry{kStrIconIndexValue, StringSource::Own, u"Index"},
    StringEntry{kStrIconFileNameValue, StringSource::Own, u"FileName"},
    StringEntry{kStrLocal, StringSource::Current, u"Local"},
    StringEntry{kStrDefaultNamespace, StringSource::Current, u"USER"},
    StringEntry{kStrNoIconsFound, StringSource::Current, u"No icons found in the chosen file."},
    StringEntry{kStrIconFileFilter, StringSource::Current,
                u"Icon files (*.ico;*.dll;*.exe;*.ocx)|*.ico;*.dll;*.exe;*.ocx|Icons (*.ico)|*.ico|"
                u"Libraries (*.dll)|*.dll|Programs (*.exe)|*.exe|Controls (*.ocx)|*.ocx|"
                u"All Files (*.*)|*.*||"},
    StringEntry{kStrNameless, StringSource::Current, u"Nameless"},
    StringEntry{kStrDuplicateWarning, StringSource::Current,
                u"Warning - multiple connection entries in registry with same name."},
    StringEntry{kStrSavePrompt, StringSource::Own, u"Do you want to save your changes?"},
    StringEntry{kStrSaveCaption, StringSource::Own, u"Save"},
};

}  // namespace

std::span<const StringEntry> LibraryStrings() noexcept { return kStrings; }

}  // namespace tavix::resources
