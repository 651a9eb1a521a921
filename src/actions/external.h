// Programs started by tolm besides the pager.
#pragma once

struct Item;

inline constexpr const char* plumber_program = "xdg-open";

// Starts program with argument in the background, output discarded, never
// waited for; confirms with "Plumbed".
void plumb(const char* program, const char* argument);

// Pipes the item's URI into "xclip" and confirms with "Yanked".
void yank_uri(const Item& item);
