// Splitting a received menu in place into items.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "items/item.h"
#include "items/menu.h"
#include "recorders.h"

namespace {

struct Expected {
    char type;
    char mirror_type;
    const char* display;
    const char* selector; // nullptr: the field stays absent
    const char* host;
    const char* port;
};

struct MenuCase {
    const char* name;
    std::string raw;
    std::vector<Expected> items;
};

std::optional<std::string> field(const char* text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

// A literal's bytes, NULs inside it included.
template <size_t N> std::string bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

const MenuCase menu_cases[] = {
    {"crlf", "1Title\tsel\thost\t70\r\n", {{'1', 0, "Title", "sel", "host", "70"}}},
    {"fifth field ignored",
     "1Title\tsel\thost\t70\t+\r\n",
     {{'1', 0, "Title", "sel", "host", "70"}}},
    {"lf alone", "1Title\tsel\thost\t70\n", {{'1', 0, "Title", "sel", "host", "70"}}},
    {"two tabs: not split",
     "1Title\tsel\thost\n",
     {{0, 0, "1Title\tsel\thost", nullptr, nullptr, nullptr}}},
    {"empty line", "\r\n", {{0, 0, "\r", nullptr, nullptr, nullptr}}},
    {"tab in type position", "\tX\tY\tZ\n", {{'\t', 0, "X", "Y", "Z", ""}}},
    {"empty fields", "0\t\t\t\r\n", {{'0', 0, "", "", "", ""}}},
    {"cr only ends the port", "1a\rb\ts\th\t70\rjunk\r\n", {{'1', 0, "a\rb", "s", "h", "70"}}},
    {"unterminated text is no item",
     "iinfo\t\tnull.host\t1\r\n0doc\t/d\th\t70\r\ntrailing\tx\ty\tz",
     {{'i', 0, "info", "", "null.host", "1"}, {'0', 0, "doc", "/d", "h", "70"}}},
    {"mirrors after a menu",
     "1a\ts\th\t70\r\n+b\ts\th\t71\r\n+c\ts\th\t72\r\n",
     {{'1', 0, "a", "s", "h", "70"},
      {'+', '1', "b", "s", "h", "71"},
      {'+', '1', "c", "s", "h", "72"}}},
    {"mirror after info",
     "iinfo\t\th\t1\r\n+m\ts\th\t70\r\n",
     {{'i', 0, "info", "", "h", "1"}, {'+', 'i', "m", "s", "h", "70"}}},
    {"mirror after unsplit line",
     "junk\r\n+m\ts\th\t70\r\n",
     {{0, 0, "junk\r", nullptr, nullptr, nullptr}, {'+', 0, "m", "s", "h", "70"}}},
    {"mirror first",
     "+m\ts\th\t70\r\n1a\ts\th\t70\r\n",
     {{'+', 0, "m", "s", "h", "70"}, {'1', 0, "a", "s", "h", "70"}}},
    {"nul ends the menu",
     bytes("1a\ts\th\t70\r\n\0"
           "1b\ts\th\t70\r\n"),
     {{'1', 0, "a", "s", "h", "70"}}},
};

// raw as receive_response leaves it: a malloc'ed, NUL-terminated buffer.
void set_raw(Item& item, const std::string& text) {
    char* buf = static_cast<char*>(malloc(text.size() + 1));
    memcpy(buf, text.data(), text.size());
    buf[text.size()] = '\0';
    item.raw.reset(buf);
}

// Each case also behind a line of 0 to 16 bytes, so that its TABs and
// newlines fall at every place of the blocks the parser scans them in.
TEST(MenuTest, ParseMenuSplitsLinesIntoItems) {
    for (const MenuCase& c : menu_cases)
        for (size_t shift = 0; shift <= 17; shift++) {
            SCOPED_TRACE(c.name + (" shifted " + std::to_string(shift)));
            const bool shifted = shift > 0;
            StatusRecorder status;
            Item page;
            page.type = '1';
            set_raw(page, shifted ? std::string(shift - 1, 'x') + "\n" + c.raw : c.raw);
            ASSERT_EQ(parse_menu(&page), '1');
            ASSERT_NE(page.dir, nullptr);
            EXPECT_TRUE(status.messages().empty());
            ASSERT_EQ(page.dir->count, c.items.size() + shifted);
            EXPECT_EQ(page.dir->top, 0u);
            EXPECT_EQ(page.dir->cursor, 0u);
            if (shifted) {
                EXPECT_EQ(field(page.dir->items[0].display), std::string(shift - 1, 'x'));
            }
            for (size_t i = 0; i < c.items.size(); i++) {
                SCOPED_TRACE(i);
                const Item& got = page.dir->items[i + shifted];
                const Expected& want = c.items[i];
                EXPECT_EQ(got.type, want.type);
                EXPECT_EQ(got.mirror_type, want.mirror_type);
                EXPECT_EQ(field(got.display), field(want.display));
                EXPECT_EQ(field(got.selector), field(want.selector));
                EXPECT_EQ(field(got.host), field(want.host));
                EXPECT_EQ(field(got.port), field(want.port));
                EXPECT_EQ(got.raw, nullptr);
                EXPECT_EQ(got.extra, nullptr);
                EXPECT_EQ(got.dir, nullptr);
                EXPECT_EQ(got.parent, nullptr);
            }
        }
}

TEST(MenuTest, ItemsBorrowTheOwnersText) {
    Item page;
    page.type = '7';
    set_raw(page, "0doc\t/d\th\t70\r\n");
    const char* begin = page.raw.get();
    ASSERT_EQ(parse_menu(&page), '7');
    const Item& item = page.dir->items[0];
    EXPECT_EQ(item.display, begin + 1);
    EXPECT_EQ(item.selector, begin + 5);
    EXPECT_EQ(item.host, begin + 8);
    EXPECT_EQ(item.port, begin + 10);
}

TEST(MenuTest, MirrorPageReturnsItsOwnType) {
    Item page;
    page.type = '+';
    page.mirror_type = '1';
    set_raw(page, "iinfo\t\th\t1\n");
    EXPECT_EQ(parse_menu(&page), '+');
    EXPECT_NE(page.dir, nullptr);
}

TEST(MenuTest, TextWithoutNewlineIsNoMenu) {
    for (const char* text : {"1a\ts\th\t70", "", "\r"}) {
        SCOPED_TRACE(text);
        StatusRecorder status;
        Item page;
        page.type = '1';
        set_raw(page, text);
        EXPECT_EQ(parse_menu(&page), 0);
        EXPECT_EQ(page.dir, nullptr);
        ASSERT_NE(page.raw, nullptr);
        EXPECT_STREQ(page.raw.get(), text);
        EXPECT_EQ(status.messages(), std::vector<std::string>{"Couldn't parse dir item"});
    }
}

} // namespace
