// What comes back from the radio's port in answer to a read of its frequency and mode.
#include "ft847/ft847cat.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto status = Ft847::decodeStatus(bytes);
    // Only a well-formed answer decodes, and it says again exactly what it was given.
    if (status && Ft847::encodeStatus(*status) != bytes)
        std::abort();
    if (status && status->hz % 10 != 0)
        std::abort();
    return 0;
}
