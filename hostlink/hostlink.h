#pragma once

#include "settings/hostcontract.h"

#include <cstdint>
#include <functional>

class QWidget;

// The host program's way in: the registered message "ZOLVEKFUNC" with two signed 32-bit values,
// command and state, sent to the utility's main window. Every message, the host's included,
// keeps the window's normal handling.
using HostRequestHandler =
    std::function<void(const std::int32_t &command, const std::int32_t &state)>;

// Registers the message name; the windowing system gives every program that registers it the
// same id, which the link keeps for itself.
void RegisterHostMessage();
// Routes the message, addressed to `window`, into `handler` for as long as the window lives.
// Returns false where the platform offers no link (no X connection, for example).
bool HookHostMessages(QWidget *window, HostRequestHandler handler);
