// The end of every run: what the process releases on its way out. Kept
// apart from the process layer, which knows neither items nor the terminal.
#pragma once

struct Item;

// The item the URL names (allocated with new); owns every item reached
// from it. Only an interactive run frees it, in exit_cleanup.
extern Item* root_item;

// Registered with atexit: ends a pager still running; when interactive,
// releases the item tree (removing files kept in the temporary directory
// unless in a child); removes the directory; restores the terminal when
// interactive (never in a child).
void exit_cleanup();
