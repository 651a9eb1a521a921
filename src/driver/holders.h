// The one owner of what points into the menus from outside them: the page
// last drawn, the navigation loop's pages, the help page's parent, the
// parents of the pages made outside the item tree, and the history of the
// pages shown. A menu is released or replaced only through here, which
// first re-points each of them (the history forgets its pages instead), so
// that nothing is left pointing into freed items. Nothing here fails: the
// only results are the history's.
#pragma once

#include <cstdint>
#include <vector>

struct Item;

// Registers slot, a pointer that may point into a menu, for as long as
// this lives: the releases below re-point it. Neither copied nor moved.
class Held {
  public:
    explicit Held(Item*& slot);
    ~Held();
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

  private:
    Item** slot_;
};

// Releases page's response and menu (release_item), after every pointer
// held into the menu went to heir (nullptr allowed, never an item inside
// the menu) and the pages in it, and page, left the history.
void release_menu(Item* page, Item* heir);
// As release_menu, and what pointed at page itself goes to heir too: for a
// page that cannot be opened again without its menu.
void release_page(Item* page, Item* heir);

// Gives page fresh's response (and its origin), menu and extra in place of
// its own, after every pointer held into the old menu went to heir and its
// pages left the history (as above; page stays); fresh is left empty. The
// view as keep_place leaves it.
void replace_menu(Item* page, Item* fresh, Item* heir);

// page (a page with a menu) was shown: it becomes the newest page of the
// history, which holds each page once.
void note_shown(Item* page);
// The history, oldest first.
const std::vector<Item*>& pages_shown();
// Changes whenever the history does.
uint64_t history_version();
