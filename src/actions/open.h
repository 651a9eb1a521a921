// What opening an item of each type does.
// Results: open_item keeps its fixed int convention: the item's type when
// there is a response to show, else 0.
#pragma once

struct Item;

// Opens item, chosen on opener (nullptr for the root). Returns the item's
// own type when its response is in raw; a menu's dir may still be absent
// (its response held no line), so the caller checks it. 0 means nothing to
// show: a failure, reported, or an action that ended here (a save, a
// plumbed item, an info line); every caller then goes back alike.
int open_item(Item* opener, Item* item);
