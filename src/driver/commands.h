// The page commands that act above the page view: going to a typed URL,
// fetching a page again, and the bookmarks. The items they make outside
// the tree of the root item (a URL's item, a bookmarks page) are owned here
// until the end of the run.
// Results: an item, never a copy nor the caller's to free, or nullptr
// where each says; a bool answers what its name asks. Failures are
// reported where they happen.
#pragma once

struct Item;

// Asks for a URL on the status row: its new item, opened from page (its
// parent); nullptr after a cancelled prompt, a malformed URL or another
// scheme.
[[nodiscard]] Item* go_to_url(Item* page);

// Fetches page again. On success the new response replaces the old one:
// the cached sub-pages and their files go, the highlight stays on the same
// line number while that line exists. On failure (reported, or cancelled)
// the page stays as it was. True when the page was replaced.
[[nodiscard]] bool reload_page(Item* page);

// The bookmarks page, read from the file again: one page for the run.
// Its parent becomes page, unless going back from page leads to the
// bookmarks page (page is the bookmarks page or was reached from it): then
// it keeps the parent it has. nullptr when there are no bookmarks to show
// (the page then stays as it was).
[[nodiscard]] Item* bookmarks_page(Item* page);

// Whether item is a bookmarks page.
[[nodiscard]] bool is_bookmarks_page(const Item* item);

// On a bookmarks page: removes the highlighted bookmark from the file and
// draws the page again from the file. The page to go to when none is left
// (the page's parent), else nullptr: stay on the page.
[[nodiscard]] Item* remove_highlighted_bookmark(Item* page);

// The history page: an entry for each page shown in this run but the
// bookmarks and the history pages, newest first, the highlight on the
// first. One page for the run, made again each time it is asked for; its
// parent becomes page as for the bookmarks page. nullptr, saying nothing,
// when no page was shown yet.
[[nodiscard]] Item* history_page(Item* page);

// Whether item is the history page.
[[nodiscard]] bool is_history_page(const Item* item);

// Makes the history page again when the history changed since it was made
// (the highlight stays on its line number while that line exists).
void refresh_history_page();

// For an entry of the history page, the page it names (never a copy), or
// the history page itself, made again, when that page has gone since;
// nullptr for any other item.
[[nodiscard]] Item* page_named_by(const Item* item);

// Releases the items owned here (removing their files in the temporary
// directory); for the exit clean-up.
void release_detached_items();
