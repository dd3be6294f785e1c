// SubkeyAtOrAfter with names that are not plain subkey names: a path, a zero inside, one
// past the length limit. A store that opens the name to find it (the Windows registry) must
// not answer with a key further down, nor with the key itself.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"

namespace tavix::platform {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

TEST(SubkeyLookup, ANameThatIsNoSubkeysNameGetsTheNextSubkeyByName) {
    Registry& reg = UserRegistry();
    const char* root = "Software\\TavixConnectSubkeyTest";
    const long cleared = reg.DeleteTree(kCurrentUser, root);
    ASSERT_TRUE(cleared == kRegOk || cleared == kRegNotFound) << cleared;
    const std::string longest(200, 'n');
    for (const std::string& path : {"A\\x"s, "alpha"s, "b\\c"s, longest}) {
        RegKey key = 0;
        ASSERT_EQ(reg.CreateKey(kCurrentUser, (root + "\\"s + path).c_str(), &key), kRegOk) << path;
        reg.CloseKey(key);
    }
    RegKey key = 0;
    ASSERT_EQ(reg.OpenKey(kCurrentUser, root, &key), kRegOk);
    struct Case { std::string name; const char* found; };
    const Case cases[] = {
        {"a", "A"},                   // the subkey itself
        {"a\\x", "b"},                // "A\X" sorts after "ALPHA": not the key below A
        {"b\\c", longest.c_str()},    // nor the one below b
        {"A\0"s, "alpha"},            // a zero ends no name
        {"x", nullptr},               // a name of A's subkey is no name of root's
        {std::string(200, 'N'), longest.c_str()},
        {std::string(256, 'n'), nullptr},
        {"\\", nullptr},
    };
    for (const Case& c : cases) {
        std::string found = "(untouched)";
        const long result = reg.SubkeyAtOrAfter(key, c.name, found);
        EXPECT_EQ(result, c.found ? kRegOk : kRegNoMoreItems) << c.name;
        if (c.found) {
            EXPECT_EQ(found, c.found) << c.name;
        }
    }
    reg.CloseKey(key);
    EXPECT_EQ(reg.DeleteTree(kCurrentUser, root), kRegOk);
}

}  // namespace
}  // namespace tavix::platform
