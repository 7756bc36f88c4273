// What a program writes to the serial FT-847 port, in pieces: only the radio's frames come out,
// and a key only from the PTT-on frame with nothing but its opcode.
#include "catport/catframes.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CatFrames frames;
    qint64 now = 0;
    std::size_t at = 0;
    while (at < size) {
        // The first byte of each piece: its length and the time since the last one.
        const std::size_t length = std::min<std::size_t>(data[at] % 16, size - at - 1);
        now += data[at] >> 4 ? 1 : CatFrames::StaleMs + 1;
        const QByteArray piece(reinterpret_cast<const char *>(data + at + 1), qsizetype(length));
        at += length + 1;
        for (const QByteArray &frame : frames.feed(piece, now)) {
            if (frame.size() != 5 || !CatFrames::isFrame(frame))
                std::abort();
            if (frame.at(4) == '\x08' && frame.left(4) != QByteArray(4, '\0'))
                std::abort();
        }
    }
    return 0;
}
