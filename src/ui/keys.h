// The page commands and the key loop. One table holds, for each command,
// its keys, its help line and what it does: the decoder, the loop and the
// help page all read it.
#pragma once

#include <cstddef>
#include <span>

#include "ui/keydecode.h"

struct Item;
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

// Every command, in the order of the help page.
extern const std::span<const KeyBinding> key_table;

// The help page's item: type '0', its raw the help text, its parent set to
// the page on which help was asked for. Outside the item tree.
extern Item help_item;

// Reads keys on page until one names another item: the highlighted item,
// the page's parent, help_item, or nullptr (quit, end of input, or a page
// without a menu). The item returned is never the caller's to free.
Item* browse_page(Item* page);

// A command above the page view (it starts programs, fetches or writes
// files), which the driver supplies: run on the page, it returns the item
// to open next, or nullptr to stay on the page.
using CommandHook = Item* (*)(Item* page);

// Sets the hook of a command whose table entry runs the driver's hook (the
// yank commands); nullptr, the default, makes the command do nothing.
void set_command_hook(Command command, CommandHook hook);
