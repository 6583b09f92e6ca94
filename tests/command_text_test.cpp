// How a command read from a full box is cut: after its last whole character, in any code page.
#include <string.h>

#include <string>

#include "command_text.h"
#include "gtest/gtest.h"
#include "settings.h"

namespace {

struct CutCase {
    int line;
    UINT codePage;
    std::string read;  // as GetDlgItemTextA leaves it, at most 255 bytes
    size_t kept;       // bytes left before the NUL
};

std::string Times(int count, const std::string& text) {
    std::string out;
    for (int i = 0; i < count; ++i) out += text;
    return out;
}

const std::string kNi = "\x93\xfa";     // a double-byte character in code page 932
const std::string kTrail81 = "\x81\x81"; // one whose trail byte is also a lead byte
const std::string kKatakanaA = "\xb1";  // half-width katakana: one byte in 932
const std::string kEAcute = "\xc3\xa9", kEuro = "\xe2\x82\xac", kEmoji = "\xf0\x9f\x98\x80";  // UTF-8

TEST(CommandText, KeepsWholeCharactersOnly) {
    const CutCase cases[] = {
        {__LINE__, 932, "NOTEPAD.EXE", 11},
        {__LINE__, 932, Times(127, kNi), 254},
        {__LINE__, 932, Times(127, kNi) + "\x93", 254},         // cut at 255: half a character
        {__LINE__, 932, "A" + Times(127, kNi), 255},            // a character ends at 255
        {__LINE__, 932, "A" + Times(126, kNi) + "\x93", 253},   // cut at 254
        {__LINE__, 932, "A" + Times(127, kTrail81), 255},       // the last byte is a trail byte
        {__LINE__, 932, Times(127, kTrail81) + "\x81", 254},
        {__LINE__, 932, Times(255, kKatakanaA), 255},
        {__LINE__, 932, Times(254, kKatakanaA) + "\x93", 254},
        {__LINE__, 1252, Times(255, "\xe9"), 255},               // single-byte: nothing is cut
        {__LINE__, 1252, Times(127, kTrail81) + "\x81", 255},
        {__LINE__, 1252, "", 0},
        {__LINE__, 65001, Times(63, kEmoji) + kEuro, 255},      // whole to the last byte
        {__LINE__, 65001, Times(63, kEmoji) + "\xf0\x9f\x98", 252},  // cut inside a 4-byte one
        {__LINE__, 65001, Times(84, kEuro) + "\xe2\x82", 252},
        {__LINE__, 65001, "A" + Times(127, kEAcute), 255},
        {__LINE__, 65001, Times(127, kEAcute) + "\xc3", 254},
        {__LINE__, 65001, Times(255, "a"), 255},
    };
    for (const CutCase& c : cases) {
        char buffer[kCommandBufferSize];
        memset(buffer, 0, sizeof buffer);
        ASSERT_LE(c.read.size(), kCommandBufferSize - 1u) << "case at line " << c.line;
        memcpy(buffer, c.read.data(), c.read.size());
        CutAfterWholeCharacter(buffer, c.codePage);
        EXPECT_EQ(c.read.substr(0, c.kept), std::string(buffer)) << "case at line " << c.line;
    }
}

}  // namespace
