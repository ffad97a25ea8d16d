// The byte rules the COM server applies to Windows file names: the core's rules as the server's
// bridge applies them (built natively here; the server itself is built with wineg++).
#include <gtest/gtest.h>

#include <string>

#include "server/core_bridge.h"

namespace {

using zav::kMaxFileNameBytes;
using zavsrv::core::NormalizeFileName;

std::string Normalized(const std::string &name) {
    char out[kMaxFileNameBytes + 1];
    const int n = NormalizeFileName(name.c_str(), out);
    if (n < 0) {
        return "(refused)";
    }
    EXPECT_EQ(static_cast<size_t>(n), std::string(out).size());
    return std::string(out, static_cast<size_t>(n));
}

TEST(ServerFileNameRules, BackslashesBecomeSlashesAndOtherBytesStay) {
    EXPECT_EQ("c:/in/a.bmp", Normalized("c:\\in\\a.bmp"));
    EXPECT_EQ("c:/in/a b+c,d=e[f]'g~.bmp", Normalized("c:/in\\a b+c,d=e[f]'g~.bmp"));
    EXPECT_EQ("", Normalized(""));
}

TEST(ServerFileNameRules, RefusedCharacters) {
    for (char c : std::string("*?\"<>;|")) {
        EXPECT_EQ("(refused)", Normalized(std::string("c:\\a") + c + ".bmp")) << c;
    }
    EXPECT_EQ("(refused)", Normalized("a.bmp|"));
}

TEST(ServerFileNameRules, DoubleByteCharactersAreCheckedByteByByte) {
    // GBK lead bytes (0x80 and above) pass; a second byte below 0x80 is an ordinary byte.
    EXPECT_EQ("\xD6\xD0\xCE\xC4.bmp", Normalized("\xD6\xD0\xCE\xC4.bmp"));
    EXPECT_EQ("\x95/.bmp", Normalized("\x95\\.bmp"));
    EXPECT_EQ("(refused)", Normalized("\x81|.bmp"));
    EXPECT_EQ("\x80\xFF", Normalized("\x80\xFF"));
}

TEST(ServerFileNameRules, At259BytesTheNameIsUsedWhole) {
    const std::string name259 = "c:\\" + std::string(252, 'x') + ".bmp";
    ASSERT_EQ(259u, name259.size());
    const std::string normalized = Normalized(name259);
    EXPECT_EQ(259u, normalized.size());
    EXPECT_EQ("c:/", normalized.substr(0, 3));
    EXPECT_EQ("(refused)", Normalized(name259 + "p"));
    EXPECT_EQ("(refused)", Normalized(std::string(1000, '\xB7')));
}

}  // namespace
