// Page commands and key bindings.
#pragma once

struct Item;

extern Item help_item;
extern const char help_text[];

// Reads keys on page until one names another item: the highlighted item,
// the page's parent, help_item, or nullptr (quit).
Item* browse_page(Item* page);
void search_page(const char* pattern, Item* page, int direction);
void show_uri(const Item& item);

// What the yank keys do with the page or the highlighted item; nullptr
// (the default) does nothing. The driver sets it: starting programs is
// above the page view.
void set_yank_hook(void (*hook)(const Item& item));
