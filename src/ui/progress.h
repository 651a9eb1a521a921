// The status row during a fetch: what is fetched and how much of it has
// arrived, and the keys typed meanwhile, of which 'z' or ^G cancels it.
// Results: take_fetch_keys answers the key watch with a Keys value; the
// rest only draw.
#pragma once

#include "driver/process/wait.h"

struct Item;

// The progress hook of every fetch (set_progress_hook): "Connecting" at
// the start, then the bytes received, at most ten times a second; item
// nullptr ends the fetch.
void show_fetch_progress(const Item* item, long long received);
// The key watch's idle hook: draws a count that the rate limit held back.
void catch_up_fetch_progress();
// Draws the progress again while a fetch runs (after a redraw of the page).
void redraw_fetch_progress();

// The key watch's input hook: keeps the keys typed during a fetch for
// read_key, except the keys of Command::cancel_fetch ('z', ^G), which
// cancel the fetch and leave the note "Fetch cancelled" for the page drawn
// next.
Keys take_fetch_keys();
