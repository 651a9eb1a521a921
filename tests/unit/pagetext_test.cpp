// The pager's filter: what a hostile text loses on its way to the pager,
// what it keeps, and that chunk boundaries change nothing.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "locales.h"
#include "ui/pagetext.h"

namespace {

// The text fed in the given chunks, then ended.
std::string filtered(const std::vector<std::string>& chunks) {
    PagerFilter filter;
    std::string out;
    for (const std::string& chunk : chunks)
        filter.feed(chunk.data(), chunk.size(), out);
    filter.finish(out);
    return out;
}

class PagerFilterTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr); }
    void TearDown() override { setlocale(LC_CTYPE, "C"); }
};

TEST_F(PagerFilterTest, DropsWhatDrivesTheTerminalWhereverTheChunksEnd) {
    const struct {
        std::string in, out;
    } cases[] = {
        // A text that passed a colour ends with a reset, whatever it left on.
        {"a\x1b[1;31mred\x1b[m\x1b[0m b", "a\x1b[1;31mred\x1b[m\x1b[0m b\x1b[m"},
        {"\x1b[8m\x1b[30;40mhidden\n", "\x1b[8m\x1b[30;40mhidden\n\x1b[m"},
        {"\x1b[38:5:1ma\x1b[?25lb\x1b[2J\x1b[Hc\x1b[1;2Hd", "abcd"},
        {"\x1b[" + std::string(70, '1') + "mx", "x"},
        {"\x1b]2;PWNED\x07t\x1b]52;c;QUJD\x1b\\u", "tu"},
        {"\x1bP1$r\x07still\x1b\\a\x1b_apc\x1b\\b\x1b^pm\x1b\\c\x1bXsos\x1b\\d", "abcd"},
        {"\x1b"
         "c\x1b"
         "7x\x1b(Bz\x1b\x1b[2Jy",
         "xzy"},
        {"a\x01\x07\x0e\x1a\x7f\t\n\r\bb", "a\t\n\r\bb"},
        {"\x1b[3\nx\x1b]0;t\x1b[1mb", "\nx\x1b[1mb\x1b[m"},
        // A string sequence never closed loses the rest of its line only.
        {"a\x1b]0;t\nb\x1bPq\nc\x1b_x\x9c\nd\x1b^y\ne\x1bXz\nf", "a\nb\nc\nd\ne\nf"},
        {"a\xc2\x9b"
         "31m\xc2\x85\xc2\x80\xc2\x9f",
         "a31m"},
        {"a\u202Eb\u200Bc\u2066d\U000E0041e\u200Df\u200Cg", "abcde\u200Df\u200Cg"},
        {"\xe4\xb8\xad\xe6\x96\x87 \xc3\xa9", "\xe4\xb8\xad\xe6\x96\x87 \xc3\xa9"},
        {"a\xff\x9b\xe4\xb8 b\xed\xa0\x80\xc2", "a\xff\x9b\xe4\xb8 b\xed\xa0\x80\xc2"},
        // Bytes that meet once what lay between them is dropped must not
        // join into a character it drops (CSI, NEL, RLO); others may.
        {"a\xc2\x1b[2J\x9b"
         "2J\xc2\xc2\xc2\x85\x85\xe2\x80\x07\xae\xe4\xb8\xe2\x80\xae\xadx",
         "a\xc2"
         "2J\xc2\xc2\xe2\x80\xe4\xb8\xadx"},
        {"\xe4\x1b[1mx\xe4\xb8y", "\xe4\x1b[1mx\xe4\xb8y\x1b[m"},
        {"text\x1b]0;never ends", "text"},
        {"text\x1b[1;3", "text"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        EXPECT_EQ(filtered({c.in}), c.out);
        for (size_t cut = 1; cut < c.in.size(); cut++)
            ASSERT_EQ(filtered({c.in.substr(0, cut), c.in.substr(cut)}), c.out) << "cut " << cut;
        std::vector<std::string> bytes;
        for (char ch : c.in)
            bytes.emplace_back(1, ch);
        EXPECT_EQ(filtered(bytes), c.out) << "byte by byte";
    }
}

// An 8-bit terminal reads 0x80-0x9F as C1 controls (0x9B is CSI), whether
// or not the locale's character set has them.
TEST_F(PagerFilterTest, SingleByteLocaleDropsC1Bytes) {
    for (const char* locale : {"C", "POSIX"}) {
        ASSERT_NE(setlocale(LC_CTYPE, locale), nullptr);
        EXPECT_EQ(filtered({"a\x9b"
                            "2J\x85\xa0\xe9\xc2\x9d"}),
                  "a2J\xa0\xe9\xc2");
    }
    // Locales whose character set makes letters of those bytes: KOI8-R's
    // 0x9B is a sign, CP1252's 0x80 the euro.
    const struct {
        const char *source, *charmap, *in, *out;
    } made[] = {
        {"ru_RU", "KOI8-R",
         "a\x9b"
         "2J\x9d\x90\x9c\xc1\xa3",
         "a2J\xc1\xa3"},
        {"en_US", "CP1252",
         "\x9b"
         "1m\x80\x9d\xe9",
         "1m\xe9"},
    };
    for (const auto& m : made) {
        SCOPED_TRACE(m.charmap);
        if (!use_made_locale(m.source, m.charmap)) {
            ADD_FAILURE() << "localedef cannot make " << m.source << "." << m.charmap;
            continue;
        }
        EXPECT_EQ(filtered({m.in}), m.out);
    }
}

} // namespace
