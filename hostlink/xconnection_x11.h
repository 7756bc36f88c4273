#pragma once

#include <xcb/xcb.h>

// Qt's own connection to the X server, or nullptr where there is none (offscreen, Wayland).
xcb_connection_t *qtXConnection();

// The server's atom for `name`; XCB_ATOM_NONE when the server gives no answer.
xcb_atom_t internAtom(xcb_connection_t *connection, const char *name);
