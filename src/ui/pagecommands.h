// What the page view asks of the layers above it: the commands that fetch,
// write files or start programs. Every upward call of the page view is a
// member here; the driver provides the implementation once, at start.
#pragma once

struct Item;

class PageCommands {
  public:
    virtual ~PageCommands() = default;

    // Each runs on page, a page with a menu (the *_item ones on its
    // highlighted item); failures are reported where they happen. Those
    // that may lead elsewhere return the item to open next, or nullptr to
    // stay on the page; the others always stay.

    // Asks for a URL and returns its item, opened from page.
    virtual Item* go_to_url(Item& page) = 0;
    // Returns the bookmarks page.
    virtual Item* show_bookmarks(Item& page) = 0;
    // On the bookmarks page: removes the highlighted bookmark; returns the
    // page to go to when none is left.
    virtual Item* remove_bookmark(Item& page) = 0;
    // Returns the history page: the pages shown in this run.
    virtual Item* show_history(Item& page) = 0;

    // Fetches page again and draws it.
    virtual void reload(Item& page) = 0;
    virtual void bookmark_item(Item& page) = 0;
    virtual void bookmark_page(Item& page) = 0;
    // Hands the URI to the clipboard program.
    virtual void yank_item(Item& page) = 0;
    virtual void yank_page(Item& page) = 0;
    // Asks for a path and saves the item's data there, whatever its type.
    virtual void save_item(Item& page) = 0;
};

// The implementation the page view runs those commands through, borrowed
// for the rest of the run; until one is given they do nothing.
void provide_page_commands(PageCommands* commands);
