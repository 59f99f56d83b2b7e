// The published binding state (bind_state.h) on Windows: a named section in the program's private
// namespace (base/own_namespace_win.h), where only administrators and the system can make it,
// with a descriptor that lets them write it and everyone, low integrity and application
// containers included, read it. Where the system has no private namespaces it is in the global
// namespace, and readers trust it only when the administrators or the system own it.
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
