// The system module's response callback, shared by every handler family of the module (login,
// users, ...): each family's handlers pass it to cgi_start_ipc, and system.cpp routes each
// response id to the family's answer builder.
#pragma once
#include <cstdint>

int on_system_ipc_callback(void *context, const uint32_t *header, const void *payload);
