// What a rigctl client may send the listener, in pieces of any size, with the radio answering
// each read with what the fuzzer gives or failing.
#include "rigctl/rigctlprotocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t piece = std::size_t(data[0] % 32) + 1;
    RigctlSession session;
    QByteArray splitVfo = "Sub";
    for (std::size_t at = 1; at < size; at += piece) {
        const QByteArray bytes(reinterpret_cast<const char *>(data + at),
                               qsizetype(std::min(piece, size - at)));
        for (const QByteArray &line : session.feed(bytes)) {
            if (line.size() > RigctlSession::MaxLine + 1)
                std::abort();
            session.take(line);
        }
        RigctlSession::Radio radio{at % 2 == 0, at % 5 == 0, {}, &splitVfo};
        while (const auto reply = session.next(radio)) {
            QList<QByteArray> answers;
            for (const RigctlSession::Step &step : reply->steps) {
                if (step.kind != RigctlSession::Step::Kind::Radio)
                    continue;
                const Ft847Radio::Request &request = step.request;
                // No frame for a frequency the radio cannot take.
                if ((request.opcode & 0x0f) == Ft847::Opcode::SetFrequency
                    && request.target != Ft847Radio::Target::None) {
                    const auto hz = Ft847::frequencyFromBcd(request.payload);
                    if (!hz || !Ft847::tunable(double(*hz)))
                        std::abort();
                }
                if (request.answerSize > 0)
                    answers << bytes.left(request.answerSize);
            }
            session.finish(*reply, at % 3 == 0 ? -6 : 0, answers);
        }
    }
    return 0;
}
