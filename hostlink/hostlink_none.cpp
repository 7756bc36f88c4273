#include "hostlink/hostlink.h"

// A platform without a message link: the utility still runs, driven by its indicator.

void RegisterHostMessage() {}

bool HookHostMessages(QWidget *, HostRequestHandler)
{
    return false;
}
