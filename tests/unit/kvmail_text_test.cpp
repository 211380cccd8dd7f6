#include <gtest/gtest.h>

#include "text.h"

using namespace kvmail;

namespace {

TEST(KvmailText, EscapedTextsAndSafeFileNames) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"Re: plain \xC3\xA4 text", "Re: plain \xC3\xA4 text"},
        {"\x1b]0;owned\x07\x1b[2J", "\\x1b]0;owned\\x07\\x1b[2J"},
        {"a\r\nb\tc\x7f", "a\\x0d\\x0ab\\x09c\\x7f"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        // C1 as UTF-8 (a CSI for some terminals) and as a lone 8-bit byte.
        {"\xC2\x9B" "31m \xC2\xA0", "\\u009b31m \xC2\xA0"},
        {"\x9B" "31m \xC3", "\\x9b31m \\xc3"},
        {"\xE0\x80\xAF", "\\xe0\\x80\\xaf"},
    };
    for (const auto &c : cases) EXPECT_EQ(EscapeText(c.in), c.out) << c.in;
    const std::string longStem(300, 'a');
    const struct {
        std::string in, out;
    } names[] = {
        {"report.pdf", "report.pdf"},
        {"../../.bashrc", "bashrc"},
        {"C:\\Users\\x\\run.bat", "run.bat"},
        {"/etc/passwd", "passwd"},
        {"..", "attachment"},
        {"", "attachment"},
        {" . .hidden. ", "hidden"},
        {"a\x1b[2Jb\r\n.txt", "a_[2Jb__.txt"},
        {"q<>:\"|?*.txt", "q_______.txt"},
        {"\xC2\x9B" "x\xFF.txt", "_x_.txt"},
        {longStem + ".pdf", std::string(kMaxFileName - 4, 'a') + ".pdf"},
        // A cut inside a two-byte character keeps it whole or leaves it out.
        {"\xC3\xA4" + std::string(kMaxFileName - 3, 'b') + "\xC3\xA4\xC3\xA4",
         "\xC3\xA4" + std::string(kMaxFileName - 3, 'b')},
    };
    for (const auto &c : names) EXPECT_EQ(SafeFileName(c.in), c.out) << c.in;
    EXPECT_EQ(NumberedName("data.bin", 0), "data.bin");
    EXPECT_EQ(NumberedName("data.bin", 1), "data-1.bin");
    EXPECT_EQ(NumberedName("bashrc", 12), "bashrc-12");
    EXPECT_EQ(NumberedName("a.tar.gz", 2), "a.tar-2.gz");
}

} // namespace
