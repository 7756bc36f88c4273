// What a client sends the flrig door: HTTP requests with XML-RPC calls, as flrig's methods read
// them. Nothing crashes, a request never outgrows the bounds, and every call is answered or
// refused.
#include "flrig/flrigsession.h"
#include "flrig/httprequests.h"
#include "serial/commcontrol.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static CommControl port;
    static Ft847Radio radio(port);
    HttpRequests requests;
    FlrigSession session;
    requests.feed(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    for (;;) {
        QByteArray bad;
        const auto request = requests.next(&bad);
        if (!request)
            break;
        if (request->body.size() > HttpRequests::MaxBody)
            std::abort();
        QString why;
        if (const auto call = Xmlrpc::parseCall(request->body, &why)) {
            const FlrigSession::Reply reply = session.call(*call, radio);
            if (reply.fault.isEmpty() && !reply.output)
                std::abort();
            if (reply.fault.isEmpty() && reply.steps.isEmpty())
                Xmlrpc::response(reply.output({}));
        }
    }
    return 0;
}
