// The page commands and the key loop. One table holds, for each command,
// its keys, its help line and what it does: the decoder, the loop and the
// help page all read it. Results: items are borrowed, never the caller's
// to free.
#pragma once

#include <cstddef>
#include <span>

#include "ui/bindings.h"

struct Item;

// Every command, in the order of the help page.
extern const std::span<const KeyBinding> key_table;

// The help page's item: type '0', its raw the help text, its parent set to
// the page on which help was asked for. Outside the item tree.
extern Item help_item;

// Reads keys on page until one names another item: the highlighted item,
// the page's parent, help_item, or nullptr (quit, end of input, or a page
// without a menu).
[[nodiscard]] Item* browse_page(Item* page);
