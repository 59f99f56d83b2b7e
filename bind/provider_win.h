// The module as a layered provider of the socket layer. The system calls WSPStartup once for each
// protocol chain of ours a process uses; it loads the next provider of that chain (by the full
// path the catalog names, environment strings expanded), starts it and hands back its dispatch
// table with entries of ours in it for socket creation and accepting (so the sockets' calls come
// to this table), connect, the extension-function ioctl (so ConnectEx is ours too) and send-to. Everything else is the next provider's own entry, so
// it runs exactly as without us. Our entries steer (steering.h) and then call the next
// provider's; anything of ours that fails leaves the call to go on unchanged.
#pragma once

#include <winsock2.h>
#include <ws2spi.h>

int WSPAPI StartLayeredProvider(WORD version, LPWSPDATA data, LPWSAPROTOCOL_INFOW protocol,
                                WSPUPCALLTABLE upcalls, LPWSPPROC_TABLE table);

// For tests and test tools in a system that does not load providers itself: the catalog this
// process's start-ups read instead of the system's (`count` entries, each with the provider path
// as the catalog would hold it), and a fresh start of the steering decisions. A count of 0 goes
// back to the system's catalog.
void UseTestCatalog(const WSAPROTOCOL_INFOW* entries, const wchar_t* const* paths, int count);
