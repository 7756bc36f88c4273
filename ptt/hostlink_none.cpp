#include "ptt/hostlink.h"

// A platform without a message link: the utility still runs, driven by its indicator.
std::uint32_t PttMessageId = 0;

void RegisterHostMessage() {}

bool HookHostMessages(QWidget *, HostRequestHandler)
{
    return false;
}
