// Streaming an item's data into a descriptor.
// Results: 1 when the whole item was copied, 0 after a reported failure
// (errno ECANCELED when the user cancelled).
#pragma once

struct Item;

// Copies the item's data (from the file named by extra when set, otherwise
// from its server) into fd, which stays open: the caller syncs it where a
// rename depends on it, and closes it. Returns 1 when the
// whole source was copied, 0 otherwise: reported through show_status, or,
// when the user cancelled the fetch, unreported with errno ECANCELED.
// copied, unless nullptr, receives the bytes written into fd either way.
[[nodiscard]] int download_item(const Item* item, int fd, long long* copied = nullptr);
