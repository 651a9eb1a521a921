// The end of every run: what the process releases on its way out. Kept
// apart from the process layer, which knows neither items nor the terminal.
#pragma once

#include <memory>

struct Item;

// The item the URL names; owns every item reached from it.
extern std::unique_ptr<Item> root_item;

// Registered with atexit: releases the item tree (removing files kept in
// the temporary directory unless in a child), removes the directory and
// restores the terminal when interactive (never in a child).
void exit_cleanup();
