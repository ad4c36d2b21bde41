#include "traffic/lookup.h"
#include "traffic/socket.h"

#include <cstdio>

int net_resolve(const char* host, int port, addrinfo** list)
{
    char port_text[16];
    std::snprintf(port_text, sizeof port_text, "%d", port);
    // An address literal needs no lookup. Asking for it only among the
    // configured families would refuse "::1" on a host whose only IPv6
    // address is loopback.
    if (net_lookup(host, port_text, true, list) == 0)
        return 0;
    return net_lookup(host, port_text, false, list);
}
