// The key bindings' types: what a command is, which keys it has and what
// names them. The key table (ui/keys) holds one binding per command; the
// decoder (ui/keydecode) reads a table of them.
#pragma once

#include <cstddef>

// The longest key, in bytes: the decoder holds a sequence up to this long.
inline constexpr size_t max_key_length = 8;

// The page commands; the key table (ui/keys.h) gives their keys and what
// each does.
enum class Command {
    none, // ignored, or a byte swallowed by an escape sequence
    quit,
    open,
    back,
    help,
    down,
    up,
    page_down,
    page_up,
    home,
    end,
    next_link,
    prev_link,
    search,
    search_next,
    search_prev,
    page_uri,
    item_uri,
    yank_page,
    yank_item,
    go_to_url,
    reload,
    bookmark_item,
    bookmark_page,
    bookmarks,
    remove_bookmark,
    history,
    save_item,
    cancel_fetch, // acts only while a fetch runs; on a page it does nothing
};

struct Browse;  // one run of browse_page on a page
struct Outcome; // what a command tells the key loop

// Whether the help line names a key; the manual page names every key.
enum class Named { in_help, in_manual_only };

// The most keys one command has.
inline constexpr size_t max_keys = 4;

struct Key {
    // One byte other than ESC, or an escape sequence written in its "ESC ["
    // form (the decoder reads "ESC O" alike); nullptr marks an unused slot.
    const char* bytes = nullptr;
    // As the help line and the manual page name it: "'j'", "Down", "^D".
    const char* name = nullptr;
    Named named = Named::in_help;
};

// The help page: "Commands:" and a line per command of the first part,
// then, after a blank line, a line per command appended since.
enum class HelpPart { first, appended };

struct KeyBinding {
    Command command;
    Key keys[max_keys];
    // The help line is the names of the keys named in help, ", " between
    // them, then ": " and this text.
    const char* help;
    HelpPart part;
    Outcome (*run)(Browse& browse);
};
