#include "platform/case_table.h"

#include <gtest/gtest.h>

#include <string>

namespace tavix::platform {
namespace {

// Names fold unit by unit with the registry's simple mappings: no unit becomes two (ß stays),
// none maps by context or locale (ı, µ and ſ stay), surrogates stay as they are.
TEST(CaseTable, FoldNameUpperCasesEachUnitAsTheRegistryDoes) {
    struct Case { std::u16string name; std::u16string fold; };
    const Case cases[] = {
        {u"", u""},
        {u"Local db_1", u"LOCAL DB_1"},
        {u"\u00E9t\u00E9 \u00FF \u01C6 \u03C9 \u0444 \uFF5A", u"\u00C9T\u00C9 \u0178 \u01C4 \u03A9 \u0424 \uFF3A"},
        {u"\u00DF \u0131 \u00B5 \u017F \u01C5", u"\u00DF \u0131 \u00B5 \u017F \u01C5"},
        {u"\u0101\u0102\u0103", u"\u0100\u0102\u0102"},  // a range of every second unit
        {std::u16string{u'\xD801', u'\xDC28', u'\xDBFF'}, std::u16string{u'\xD801', u'\xDC28', u'\xDBFF'}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FoldName(c.name), c.fold);
        EXPECT_EQ(FoldName(c.fold), c.fold) << "a fold folds to itself";
    }
}

}  // namespace
}  // namespace tavix::platform
