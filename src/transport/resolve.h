// Name resolution that an ending signal can interrupt.
#pragma once

struct addrinfo;

// getaddrinfo(host, port, hints) with its result codes. Numeric addresses
// are resolved in place; names are looked up in a child process, so that
// the wait for the answer can be cut short by a signal. The list is freed
// with free_resolved.
int resolve_host(const char* host, const char* port, const addrinfo* hints, addrinfo** out);
void free_resolved(addrinfo* list);
