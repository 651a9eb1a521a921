// The one owner of what points into the menus from outside them: the page
// last drawn, the navigation loop's pages, the help page's parent and the
// parents of the pages made outside the item tree. A menu is released or
// replaced only through here, which first re-points each of them, so that
// nothing is left pointing into freed items.
#pragma once

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
// the menu).
void release_menu(Item* page, Item* heir);

// Gives page fresh's response, menu and extra in place of its own, after
// every pointer held into the old menu went to heir (as above); fresh is
// left empty. The highlight stays on the same line number while that line
// exists, the view placed as after a resize.
void replace_menu(Item* page, Item* fresh, Item* heir);
