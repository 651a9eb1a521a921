// The programs tolm starts: the pager, the plumber and the clipboard
// program. Every exec and popen of tolm is here; the only other child, a
// name lookup's (transport/resolve), runs no program. Results: none; each
// reports its own failures on the status row.
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

// Writes text (up to its NUL) into "$PAGER" run through the shell, cleaned
// of escape sequences but colours and of control characters (PagerFilter),
// in a process group of its own that holds the terminal meanwhile; waits
// for the pager's end, an ending signal cutting the wait short. A ^C, ^Z
// or hang-up that reaches the pager reaches tolm too. Reports "Couldn't
// fork.".
void run_pager(const char* text);

// Ends the pager's process group, everything it started included, if one
// runs, and takes the terminal back; allocation-free, for the exit path.
void end_pager();
