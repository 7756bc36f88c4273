// What a client may send the virtual radio's RFC 2217 server, in pieces of any size.
#include "tools/ft847-sim/rfc2217server.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t piece = std::size_t(data[0] % 16) + 1;
    Rfc2217ServerSession server;
    server.start();
    for (std::size_t at = 1; at < size; at += piece) {
        const QByteArray bytes(reinterpret_cast<const char *>(data + at),
                               qsizetype(std::min(piece, size - at)));
        server.receive(bytes);
        const SimPortState &state = server.state();
        if (state.data < 5 || state.data > 8 || state.baud <= 0
            || !QByteArray("neoms").contains(state.parity))
            std::abort();
    }
    return 0;
}
