// Key bytes to page commands, escape sequences included.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/keydecode.h"
#include "ui/keys.h"

namespace {

using C = Command;

// The command of the binding that c completes, after checking that the
// binding is the table's own entry, the one whose action the loop runs.
Command fed(KeyDecoder& keys, unsigned char c) {
    const KeyBinding* b = keys.feed(c);
    if (!b) return C::none;
    // Pointers into different arrays are ordered only through std::less.
    const std::less<const KeyBinding*> before;
    EXPECT_TRUE(!before(b, key_table.data()) && before(b, key_table.data() + key_table.size()));
    return b->command;
}

std::vector<Command> decode(KeyDecoder& keys, const std::string& bytes) {
    std::vector<Command> out;
    for (char b : bytes)
        out.push_back(fed(keys, static_cast<unsigned char>(b)));
    return out;
}

TEST(KeydecodeTest, SingleKeys) {
    const struct {
        unsigned char key;
        Command command;
    } cases[] = {
        {4, C::quit},          {'q', C::quit},      {'\n', C::open},    {'l', C::open},
        {'h', C::back},        {'?', C::help},      {'j', C::down},     {'k', C::up},
        {' ', C::page_down},   {'b', C::page_up},   {'g', C::home},     {'G', C::end},
        {'J', C::next_link},   {'K', C::prev_link}, {'/', C::search},   {'n', C::search_next},
        {'N', C::search_prev}, {'U', C::page_uri},  {'u', C::item_uri}, {'Y', C::yank_page},
        {'y', C::yank_item},   {'~', C::none},      {'\r', C::none},    {'Q', C::none},
        {'[', C::none},        {0, C::none},        {0xFF, C::none},    {'H', C::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.key));
        KeyDecoder keys{key_table};
        EXPECT_EQ(fed(keys, c.key), c.command);
        // A plain key leaves no state behind.
        EXPECT_EQ(fed(keys, 'j'), C::down);
    }
}

TEST(KeydecodeTest, EscapeSequences) {
    const struct {
        const char* tail; // the bytes after ESC [ (or ESC O)
        Command command;
    } cases[] = {
        {"A", C::up},   {"B", C::down},     {"C", C::open},       {"D", C::back},
        {"H", C::home}, {"1~", C::home},    {"7~", C::home},      {"4~", C::end},
        {"8~", C::end}, {"5~", C::page_up}, {"6~", C::page_down}, {"\x1b", C::quit},
    };
    for (char intro : {'[', 'O'}) {
        for (const auto& c : cases) {
            const std::string bytes = std::string("\x1b") + intro + c.tail;
            SCOPED_TRACE(bytes.substr(1));
            KeyDecoder keys{key_table};
            std::vector<Command> want(bytes.size() - 1, C::none);
            want.push_back(c.command);
            EXPECT_EQ(decode(keys, bytes), want);
            EXPECT_EQ(fed(keys, 'k'), C::up);
        }
    }
}

TEST(KeydecodeTest, BytesThatEndASequenceAreSwallowed) {
    const struct {
        const char* bytes;
        std::vector<Command> commands;
    } cases[] = {
        {"\x1b\x1b", {C::none, C::quit}},
        {"\x1bqq", {C::none, C::none, C::quit}},
        {"\x1bjj", {C::none, C::none, C::down}},
        {"\x1b[5xj", {C::none, C::none, C::none, C::none, C::down}},
        {"\x1bO6jj", {C::none, C::none, C::none, C::none, C::down}},
        {"\x1b[5\x1bq", {C::none, C::none, C::none, C::none, C::quit}},
        {"\x1b[xj", {C::none, C::none, C::none, C::down}},
        {"\x1b[qq", {C::none, C::none, C::none, C::quit}},
        // Unbound digits end the sequence; the '~' is then a key of its own.
        {"\x1b[2~j", {C::none, C::none, C::none, C::none, C::down}},
        {"\x1b[3~", {C::none, C::none, C::none, C::none}},
        // The ESC that ends a sequence starts none: "[A" are plain keys.
        {"\x1b[1\x1b[l", {C::none, C::none, C::none, C::none, C::none, C::open}},
        {"\x1b\x1b\x1b[B", {C::none, C::quit, C::none, C::none, C::down}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.bytes).substr(1));
        KeyDecoder keys{key_table};
        EXPECT_EQ(decode(keys, c.bytes), c.commands);
    }
}

// Modified cursor keys and a console's function keys end in a letter the
// decoder reads as a key of its own: such a letter runs no command.
TEST(KeydecodeTest, KeysOfTerminalsWithMoreKeysRunNothing) {
    for (const char* bytes : {"\x1b[1;5A", "\x1b[1;3A", "\x1b[1;2B", "\x1b[1;5C", "\x1b[1;5D",
                              "\x1b[1;2F", "\x1b[1;2H", "\x1b[1;2P", "\x1b[1;5Q", "\x1b[1;5R",
                              "\x1b[1;2S", "\x1b[[A", "\x1b[[B", "\x1b[[E", "\x1b[15;5~"}) {
        SCOPED_TRACE(std::string(bytes).substr(1));
        KeyDecoder keys{key_table};
        std::string_view b(bytes);
        EXPECT_EQ(decode(keys, bytes), std::vector<Command>(b.size(), C::none));
        EXPECT_EQ(fed(keys, 'j'), C::down) << "the decoder is back at rest";
    }
}

} // namespace
