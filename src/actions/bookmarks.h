// Bookmarks: a gopher menu file of the user's, at
// $XDG_DATA_HOME/tolm/bookmarks (by default ~/.local/share/tolm/bookmarks),
// holding the lines a server would send for the items. Every change leaves
// the old file or the new one whole, never a half-written one, and is made
// under a lock that other runs of tolm honour, held only while the file
// changes and never while a message waits for its key. A symbolic link there stays
// a link: the file it names is the one changed. Only a regular file of at
// most 64 MiB is read; the file is read as a menu is, up to its first NUL,
// and what follows a NUL is kept as it is.
// Results: a bool is true on success, false after the failure was
// reported; an empty string is none.
#pragma once

#include <string>

struct Item;

// The file's path; empty when neither XDG_DATA_HOME nor HOME is set.
std::string bookmarks_path();

// The menu line for item: type and display, TAB, selector, TAB, host, TAB,
// port, CR LF. A '+' item has the type it mirrors; an item without a
// display text has its URI as display; control characters in the display
// become blanks. Empty when the item cannot be written as one line (no
// fields, an information line, or a TAB or line end in another field).
std::string bookmark_line(const Item& item);

// Adds the item's line unless a line for the same type, selector, host and
// port is there: appended with one write (the directory made, mode 0700,
// when missing), or, when the file holds a NUL, written before it through
// a rewrite. Confirms or reports through show_status.
void add_bookmark(const Item& item);

// Reads the file into page->raw and parses it into page->dir (lines tolm
// cannot read are items without fields, shown as they are): a menu to
// show, or none (no file, an empty one, or one that cannot be read).
[[nodiscard]] bool load_bookmarks(Item* page);

// Removes line number index of the file as it was read for the page, by
// writing the new contents to a file in the same directory and renaming it
// over the old one. Refuses (reported) when the lines up to that one
// changed meanwhile; lines added after them since stay. Success: the file
// was rewritten.
[[nodiscard]] bool remove_bookmark(const Item& page, size_t index);
