// The platform's resolver, one query at a time, for net_resolve.
#pragma once

struct addrinfo;

// Resolves host and port_text for a TCP peer of any address family. With
// literal_only the host is taken only as an address literal; otherwise it is
// looked up for the address families this host has configured. 0 and *list,
// or an error code of the error table.
int net_lookup(const char* host, const char* port_text, bool literal_only, addrinfo** list);
