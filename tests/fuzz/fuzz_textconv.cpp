// Conversions of stored text to numbers: a number or a conversion error, never a crash, and
// never a value outside the 16-bit range.
#include "settings/textconv.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const double value = textToDouble(text);
        if (!std::isfinite(value))
            std::abort();
        const std::int16_t rounded = textToInt16(text);
        if (std::abs(double(rounded) - value) > 0.5)
            std::abort();
    } catch (const ConversionError &) {
    }
    return 0;
}
