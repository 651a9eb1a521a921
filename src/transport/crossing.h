// Whether a page may send tolm to an address: a menu line that leads from
// a page of the wider network to this machine or a private network, or
// from a private network to this machine, is put to the user first, since
// its selector reaches whatever listens there (a page cannot otherwise
// make tolm talk to a local service that trusts its own network).
// Results: bools; nothing is reported.
#pragma once

#include "items/item.h"

struct sockaddr;

// The class of an IPv4 or IPv6 address (IPv4-mapped IPv6 counts as its
// IPv4 address); global for any other family.
[[nodiscard]] Reach reach_of(const sockaddr* addr);

// Whether a line of a page fetched from page needs the user's word before
// tolm connects to target: global to local or loopback, local to loopback.
[[nodiscard]] bool crossing_asks(Reach page, Reach target);

// Set by the interactive driver: asks question, returns true when the user
// agrees. Without a hook (batch mode) every such connection is declined.
void set_crossing_hook(bool (*ask)(const char* question));

// Whether fetching item from target needs the user's word: item is a line
// of its parent's menu and the crossing from that page's origin asks.
[[nodiscard]] bool crossing_needs_asking(const Item& item, const sockaddr* target);

// Asks whether to connect to target for item, naming the address, its
// class and the host of item's page. Returns true when the user agrees;
// false when not, or when there is nobody to ask.
[[nodiscard]] bool crossing_agreed(const Item& item, const sockaddr* target);
