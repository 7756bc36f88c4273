// What a remote serial port server may send our client, in pieces of any size.
#include "serial/rfc2217.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t piece = std::size_t(data[0] % 16) + 1;
    Rfc2217::ClientProtocol client;
    client.start();
    client.configure(LineSettings());
    for (std::size_t at = 1; at < size; at += piece) {
        const QByteArray bytes(reinterpret_cast<const char *>(data + at),
                               qsizetype(std::min(piece, size - at)));
        client.receive(bytes);
    }
    client.data(QByteArray::fromHex("0300000007"));
    return 0;
}
