#pragma once

#include <QByteArray>
#include <QHash>
#include <optional>

// HTTP/1.1 requests as they come in on one connection, one after the other (keep-alive), each
// whole with its body. A head or body larger than any XML-RPC call needs, or bytes that are not
// HTTP, end the connection: the memory one client can hold is bounded.
class HttpRequests
{
public:
    static constexpr qsizetype MaxHead = 8 * 1024;
    static constexpr qsizetype MaxBody = 64 * 1024;

    struct Request
    {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
        bool keepAlive = true;
        QByteArray header(const char *name) const { return headers.value(name); }
    };

    void feed(const QByteArray &bytes) { m_input += bytes; }
    // The next whole request; nothing while it is not all in, or with `bad` set to the status
    // to answer before closing.
    std::optional<Request> next(QByteArray *bad);

private:
    QByteArray m_input;
};
