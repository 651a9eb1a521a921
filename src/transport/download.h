// Streaming an item's data into a descriptor.
// Results: true when the whole item was copied, false after a failure
// reported through show_status (a cancelled fetch is not reported).
#pragma once

struct Item;

// Copies the item's data (from its saved copy when it has one, otherwise
// from its server) into fd, which stays open: the caller syncs it where a
// rename depends on it, and closes it. copied, unless nullptr, receives
// the bytes written into fd, whether or not the copy completed.
[[nodiscard]] bool download_item(const Item* item, int fd, long long* copied = nullptr);
