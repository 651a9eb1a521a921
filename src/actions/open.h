// What opening an item of each type does.
#pragma once

struct Item;

// Opens item, chosen on opener (nullptr for the root). Returns the item's
// own type when its response is in raw (for menus: parsed into dir), 0
// otherwise (failure, or an action of its own such as saving).
int open_item(Item* opener, Item* item);
