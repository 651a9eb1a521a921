// Splitting a received menu in place into a Dir.
#pragma once

struct Item;

// Parses item->raw into item->dir. Returns the item's type, or 0 after
// reporting "Couldn't parse dir item" when raw holds no newline.
int parse_menu(Item* item);

// Cuts one field off the text at *cursor, ending at a character of
// separators (overwritten with NUL, cursor moved past it), at NUL, or
// before a newline (left in place). Returns the field's start.
char* next_field(char** cursor, const char* separators);
