#pragma once

#include <cstdint>
#include <string>

// Sends the request (command, state) as the "ZOLVEKFUNC" message to every top-level window
// titled exactly as the utility's and returns how many took it; -1 when the desktop cannot be
// reached, with `why` saying so.
int sendToUtilities(std::int32_t command, std::int32_t state, std::string *why);
