// What opening an item of each type does.
// Results: open_item keeps its fixed int convention (the item's type, or 0
// after a reported failure).
#pragma once

struct Item;

// Opens item, chosen on opener (nullptr for the root). Returns the item's
// own type when its response is in raw (for menus: parsed into dir), 0
// otherwise (failure, or an action of its own such as saving).
int open_item(Item* opener, Item* item);
