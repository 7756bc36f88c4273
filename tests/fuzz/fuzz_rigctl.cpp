// What a rigctl client may send the listener, in pieces of any size.
#include "ptt/rigctlprotocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t piece = std::size_t(data[0] % 32) + 1;
    RigctlSession session;
    for (std::size_t at = 1; at < size; at += piece) {
        const QByteArray bytes(reinterpret_cast<const char *>(data + at),
                               qsizetype(std::min(piece, size - at)));
        for (const QByteArray &line : session.feed(bytes)) {
            if (line.size() > RigctlSession::MaxLine)
                std::abort();
            const RigctlSession::Reply reply = session.handle(line, at % 2 == 0);
            if (reply.action == RigctlSession::Reply::Action::SetFrequency
                && !Ft847::tunable(double(reply.hz)))
                std::abort(); // no frame for a frequency the radio cannot take
            if (reply.action == RigctlSession::Reply::Action::ReadStatus)
                session.statusAnswer(reply, at % 3 == 0, {reply.hz, Ft847::Mode::FmNarrow});
            else if (reply.action != RigctlSession::Reply::Action::Answer)
                session.doneAnswer(at % 3 == 0);
        }
    }
    return 0;
}
