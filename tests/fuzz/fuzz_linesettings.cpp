// The line-settings grammar: any text is accepted or refused, never crashes, and what is
// accepted reads back the same.
#include "serial/linesettings.h"
#include "serial/porterror.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const LineSettings settings = LineSettings::parse(text);
        if (!(LineSettings::parse(settings.toText()) == settings))
            std::abort();
        if (settings.dataBits < 5 || settings.dataBits > 8 || settings.baud < 110)
            std::abort();
    } catch (const PortError &) {
    }
    return 0;
}
