// The published binding state (bind_state.h) on Windows: a named section in the global
// namespace, so that only a process holding the privilege to create global objects (an elevated
// client, a service) can make one, with a descriptor that lets administrators and the system
// write it and everyone, low integrity and application containers included, read it.
#pragma once

#include <cstdint>

#include "bind_state.h"

// In the client: publishes "binding on" with the tunnel's address and this process as the
// client, replacing what it published before. False when the section cannot be made ours.
bool PublishBindState(uint32_t tunnelAddress);
// In the client: binding off. Harmless when nothing is published.
void WithdrawBindState();

// In any process: what is published now; off when nothing is, or when the section is not owned
// by the administrators or the system.
BindState ReadPublishedBindState();
