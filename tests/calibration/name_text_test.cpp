// Names are bytes: the printable form tells every name apart, the UTF-8
// form is always well-formed.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "calibration/name_text.h"

TEST(NameText, PrintableFormIsOneDistinctLineAndUtf8FormIsWellFormed) {
    // Latin-1, a line feed, a control, DEL, a C1 control, a line separator,
    // a cut character, a backslash and its own escape text, plain UTF-8.
    const std::string names[] = {"caf\xe9.pgm",  "a\nb.pgm",       "a\x01.pgm", "a\x7f.pgm",
                                 "a\xc2\x85.pgm", "a\xe2\x80\xa8.pgm", "a\xe2\x82", "a\\x0ab.pgm",
                                 "a\\nb.pgm",    "K\xc3\xbc" "che.pgm"};
    const std::string printable[] = {"caf\\xe9.pgm",  "a\\x0ab.pgm",   "a\\x01.pgm",    "a\\x7f.pgm",
                                     "a\\u0085.pgm", "a\\u2028.pgm",  "a\\xe2\\x82",   "a\\\\x0ab.pgm",
                                     "a\\\\nb.pgm",  "K\xc3\xbc" "che.pgm"};
    std::set<std::string> seen;
    for (std::size_t k = 0; k < std::size(names); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(printableName(names[k]), printable[k]);
        EXPECT_TRUE(seen.insert(printableName(names[k])).second);
        EXPECT_TRUE(isValidUtf8(utf8Text(names[k])));
    }
    EXPECT_EQ(utf8Text("caf\xe9.pgm"), "caf\xef\xbf\xbd.pgm");
    EXPECT_EQ(utf8Text("a\nK\xc3\xbc"), "a\nK\xc3\xbc");
}
