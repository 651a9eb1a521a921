// Column-limited output: cutting, replacement characters and the promise
// that no server text reaches the terminal as a control sequence.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cwchar>
#include <string>

#include "locales.h"
#include "ui/fitted.h"

namespace {

class FittedTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr); }
    void TearDown() override { setlocale(LC_CTYPE, "C"); }

    // What print_fitted writes to standard output, and its result.
    static std::string fitted(const std::string& text, size_t limit, size_t* used) {
        fflush(stdout);
        testing::internal::CaptureStdout();
        *used = print_fitted(text.c_str(), limit);
        fflush(stdout);
        return testing::internal::GetCapturedStdout();
    }
};

#define WIDE "\xE4\xB8\xAD" // U+4E2D, two columns
#define ELLIPSIS "\xE2\x80\xA6"
#define REPLACEMENT "\xEF\xBF\xBD"

TEST_F(FittedTest, CutsAtTheLimit) {
    const struct {
        const char* text;
        size_t limit;
        const char* out;
        size_t used;
    } cases[] = {
        {"abc", 3, "abc", 3},
        {"abcd", 3, "ab" ELLIPSIS, 3},
        {"abc\n", 3, "ab" ELLIPSIS, 3},
        {"abc", 10, "abc", 3},
        {"abcd", 1, ELLIPSIS, 1},
        {"a\tb", 10, "ab", 2},
        {"a" WIDE "xyz", 3, "a" ELLIPSIS, 2},
        {"ab" WIDE "x", 3, "ab" ELLIPSIS, 3},
        {"a" WIDE, 3, "a" WIDE, 3},
        {WIDE, 1, ELLIPSIS, 1},
        {"a\xFF"
         "b",
         10, "a" REPLACEMENT "b", 3},
        {"ab\xE4\xB8", 10, "ab" REPLACEMENT REPLACEMENT, 4},
        {"\xFF\xFF\xFF", 2, REPLACEMENT ELLIPSIS, 2},
        // A combining mark takes no column but still follows the letter.
        {"e\xCC\x81", 2, "e\xCC\x81", 1},
        {"e\xCC\x81", 1, ELLIPSIS, 1},
        {"abc", 0, "", 0},
        {"", 5, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.text << "\" limit " << c.limit);
        size_t used = 99;
        EXPECT_EQ(fitted(c.text, c.limit, &used), c.out);
        EXPECT_EQ(used, c.used);
    }
}

// A byte string that a hostile server could put into a menu line.
const std::string hostile = "title\x1b[2J\x1b[H\x1b]0;owned\x07\x1b]52;c;QUJD\x1b\\"
                            "\x1b"
                            "c\x1bP1$r\x1b\\\b\b\bX\x7f\r\n\t\x0e\x0f"
                            "\xc2\x9b"
                            "31m\xc2\x85\xc2\x9d"
                            "8;;x\xc2\x9c"
                            "\x9b"
                            "1m\x9d\x90\x84\xc2\x80\xc2\x9f\x1b\x1b[[A"
                            "\xe2\x80\xae"
                            "rtl\xef\xbb\xbf"
                            "end";

// Where the output stops being valid UTF-8 or holds a C0 control, DEL or
// a C1 control (a raw 0x9B is CSI to an 8-bit terminal), or npos.
size_t first_control(const std::string& out) {
    mbstate_t state = {};
    for (size_t i = 0; i < out.size();) {
        wchar_t wc = 0;
        size_t n = mbrtowc(&wc, out.data() + i, out.size() - i, &state);
        if (n == 0 || n > out.size() - i) return i;
        if (wc < 0x20 || (wc >= 0x7f && wc <= 0x9f)) return i;
        i += n;
    }
    return std::string::npos;
}

TEST_F(FittedTest, ControlCharactersNeverReachTheTerminal) {
    for (size_t limit = 1; limit <= hostile.size() + 1; limit++) {
        SCOPED_TRACE(limit);
        size_t used = 0;
        const std::string out = fitted(hostile, limit, &used);
        EXPECT_EQ(first_control(out), std::string::npos) << out;
        EXPECT_LE(used, limit);
    }
}

// KOI8-R makes signs of 0x9B and 0x9D, which an 8-bit terminal obeys as
// CSI and OSC: they never reach it.
TEST_F(FittedTest, NoC1ByteInAnEightBitLocale) {
    ASSERT_TRUE(use_made_locale("ru_RU", "KOI8-R")) << "localedef cannot make ru_RU.KOI8-R";
    size_t used = 0;
    EXPECT_EQ(fitted("a\x9b"
                     "2J\x9d\x90\x9c\xc1\xa3",
                     10, &used),
              "a2J\xc1\xa3");
    EXPECT_EQ(used, 5u);
}

// Format characters print as nothing but reorder or hide the text around
// them ("txt.exe" shown as "exe.txt"): each is dropped, the letters stay.
TEST_F(FittedTest, FormatCharactersThatReorderOrHideTextAreDropped) {
    const char* format_chars[] = {
        "\u202A", "\u202B", "\u202C", "\u202D",     "\u202E",     "\u2066",
        "\u2067", "\u2068", "\u2069", "\u200E",     "\u200F",     "\u061C",
        "\u200B", "\u2060", "\uFEFF", "\U000E0000", "\U000E0041", "\U000E007F",
    };
    for (const char* fc : format_chars) {
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << static_cast<unsigned>([&] {
                         wchar_t wc = 0;
                         mbtowc(&wc, fc, 4);
                         return wc;
                     }()));
        size_t used = 0;
        EXPECT_EQ(fitted(std::string("a") + fc + "b", 10, &used), "ab");
        EXPECT_EQ(used, 2u);
    }
    // Neighbours of the ranges are ordinary characters.
    size_t used = 0;
    EXPECT_EQ(fitted("\u2010\u2070\u00E9", 10, &used), "\u2010\u2070\u00E9");
    // The joiners spell words and emoji: a Persian word keeps its ZWNJ, a
    // family emoji its ZWJ.
    const char* joined[] = {"\u0645\u06CC\u200C\u062E\u0648\u0627\u0647\u0645",
                            "\U0001F468\u200D\U0001F469"};
    for (const char* text : joined)
        EXPECT_EQ(fitted(text, 20, &used), text);
}

} // namespace
