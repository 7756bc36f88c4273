#include "flrig/httprequests.h"

#include <QList>

std::optional<HttpRequests::Request> HttpRequests::next(QByteArray *bad)
{
    const qsizetype headEnd = m_input.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (m_input.size() > MaxHead)
            *bad = "431 Request Header Fields Too Large";
        return std::nullopt;
    }
    if (headEnd > MaxHead) {
        *bad = "431 Request Header Fields Too Large";
        return std::nullopt;
    }
    const QList<QByteArray> lines = m_input.left(headEnd).split('\n');
    const QList<QByteArray> start = lines.first().trimmed().split(' ');
    if (start.size() != 3 || !start.at(2).startsWith("HTTP/1.")) {
        *bad = "400 Bad Request";
        return std::nullopt;
    }
    Request request;
    request.method = start.at(0);
    request.path = start.at(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) {
            *bad = "400 Bad Request";
            return std::nullopt;
        }
        request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    if (request.headers.contains("transfer-encoding")) {
        *bad = "411 Length Required"; // no XML-RPC client sends a chunked call
        return std::nullopt;
    }
    bool ok = true;
    const QByteArray length = request.header("content-length");
    const qint64 size = length.isEmpty() ? 0 : length.toLongLong(&ok);
    if (!ok || size < 0 || size > MaxBody) {
        *bad = ok ? "413 Content Too Large" : "400 Bad Request";
        return std::nullopt;
    }
    const qsizetype bodyStart = headEnd + 4;
    if (m_input.size() - bodyStart < size)
        return std::nullopt;
    request.body = m_input.mid(bodyStart, qsizetype(size));
    m_input.remove(0, bodyStart + qsizetype(size));
    const QByteArray connection = request.header("connection").toLower();
    request.keepAlive = start.at(2) == "HTTP/1.1" ? connection != "close" : connection == "keep-alive";
    return request;
}
