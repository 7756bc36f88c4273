#pragma once

// The host side of the utility's message link on X11, with nothing but libxcb: find the
// utility's windows by their title and send them the "ZOLVEKFUNC" message.

#include "settings/hostcontract.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct xcb_connection_t;

class HostSender
{
public:
    static constexpr const char *MessageName = HostContract::MessageName;
    static constexpr const char *WindowTitle = HostContract::WindowTitle;

    // Opens the display (nullptr: $DISPLAY). isOpen() says whether that worked.
    explicit HostSender(const char *display = nullptr);
    ~HostSender();
    HostSender(const HostSender &) = delete;
    HostSender &operator=(const HostSender &) = delete;

    bool isOpen() const { return m_connection != nullptr; }
    // Every window, at any depth below the root, whose title is exactly `title`: a top-level
    // window is a child of the root without a window manager, and of a frame with one.
    std::vector<std::uint32_t> findWindows(const std::string &title = WindowTitle);
    // Sends a ClientMessage of type `messageName`, format 32, with (command, state) as
    // data32[0] and data32[1]. False when the server refused it (the window is gone).
    bool send(std::uint32_t window, std::int32_t command, std::int32_t state,
              const std::string &messageName = MessageName);
    // The same without waiting for the server's word on each message: as fast as one sender
    // can go. sync() afterwards.
    void post(std::uint32_t window, std::int32_t command, std::int32_t state);
    // Waits until the server has handled everything sent so far.
    void sync();

private:
    std::uint32_t atom(const std::string &name);
    std::string title(std::uint32_t window);

    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint32_t m_netWmName = 0;
    std::uint32_t m_utf8String = 0;
    std::map<std::string, std::uint32_t> m_atoms;
};
