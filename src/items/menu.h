// Splitting a received menu in place into a Dir.
// Results: parse_menu keeps its fixed int convention: the page's type, or 0
// after a reported failure.
#pragma once

struct Item;

// Parses item->raw into item->dir. Returns the item's type, or 0 after
// reporting "Couldn't parse dir item" when raw holds no newline.
[[nodiscard]] int parse_menu(Item* item);
