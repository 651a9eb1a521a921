// Programs started by tolm besides the pager.
#pragma once

struct Item;

// The program that opens saved files, telnet URIs and links.
inline constexpr const char* plumber_program = "xdg-open";

// Starts program with argument in the background (own session, input from
// /dev/null, output discarded), never waited for; confirms with "Plumbed",
// or reports a program that could not be started.
void plumb(const char* program, const char* argument);

// Pipes the item's whole URI into "xclip" and confirms with "Yanked", or
// reports "URI not Yanked" when the program could not run or failed. An
// item without a URI yanks nothing, silently.
void yank_uri(const Item& item);
