// The URI of an item, as shown on the status row and yanked.
#pragma once

#include <cstddef>

struct Item;

// Writes item's URI into buf (at most size - 1 characters, NUL-terminated).
// Returns the summed full length of the pieces printed. An item without
// fields (type NUL) gets an empty URI.
int format_item_uri(const Item& item, char* buf, size_t size);
