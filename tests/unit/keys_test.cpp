// The key table against what describes it: every key's name fits its
// bytes, and the manual page names every key.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "ui/keys.h"

namespace {

// What a terminal sends for its named keys (the "ESC [" forms).
const std::map<std::string, std::string> named_keys = {
    {"\x1b[A", "Up"},   {"\x1b[B", "Down"},    {"\x1b[C", "Right"}, {"\x1b[D", "Left"},
    {"\x1b[H", "Home"}, {"\x1b[4~", "End"},    {"\x1b[5~", "PgUp"}, {"\x1b[6~", "PgDown"},
    {"\n", "Enter"},    {"\x7f", "Backspace"},
};

// The name a key's bytes call for: 'c' for a printable byte, ^X for a
// control byte, a named key by its name, other sequences spelled out.
std::string name_of(const std::string& bytes) {
    if (auto it = named_keys.find(bytes); it != named_keys.end()) return it->second;
    if (bytes.size() == 1 && bytes[0] >= ' ') return "'" + bytes + "'";
    if (bytes.size() == 1) return std::string("^") + static_cast<char>(bytes[0] + '@');
    std::string spelled;
    for (char c : bytes)
        spelled +=
            (spelled.empty() ? "" : " ") + (c == '\x1b' ? std::string("ESC") : std::string(1, c));
    return spelled;
}

// The names in the manual's KEYS section: the items of its .It lines and
// the sequences quoted on its .Li lines.
std::set<std::string> manual_key_names() {
    std::ifstream in(TOLM_SOURCE_DIR "/man/tolm.1");
    std::set<std::string> names;
    bool in_keys = false;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(".Sh ")) in_keys = line == ".Sh KEYS";
        if (!in_keys) continue;
        for (size_t at; (at = line.find("\\&")) != std::string::npos;)
            line.erase(at, 2);
        if (line.starts_with(".It ")) {
            std::string_view rest = std::string_view(line).substr(4);
            for (;;) {
                size_t comma = rest.find(" , ");
                std::string_view item = rest.substr(0, comma);
                if (item.starts_with("Ic ")) item.remove_prefix(3);
                names.emplace(item);
                if (comma == std::string_view::npos) break;
                rest.remove_prefix(comma + 3);
            }
        } else if (line.starts_with(".Li \"")) {
            names.insert(line.substr(5, line.find('"', 5) - 5));
        }
    }
    return names;
}

// As the manual writes a key the help page quotes: 'j' is "j", ' ' "space".
std::string manual_name(const std::string& name) {
    if (name == "' '") return "space";
    if (name.size() == 3 && name[0] == '\'') return name.substr(1, 1);
    return name;
}

TEST(KeysTest, EveryKeyIsNamedForItsBytes) {
    for (const KeyBinding& b : key_table) {
        for (const Key& k : b.keys) {
            if (!k.bytes) continue;
            EXPECT_EQ(k.name, name_of(k.bytes)) << "help line: " << b.help;
        }
    }
}

TEST(KeysTest, TheManualNamesEveryKey) {
    const std::set<std::string> names = manual_key_names();
    ASSERT_FALSE(names.empty()) << "no KEYS section in man/tolm.1";
    for (const KeyBinding& b : key_table) {
        for (const Key& k : b.keys) {
            if (!k.bytes) continue;
            EXPECT_TRUE(names.contains(manual_name(k.name))) << k.name;
        }
    }
}

} // namespace
