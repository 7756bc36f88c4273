#pragma once

#include <QHostAddress>
#include <QString>
#include <optional>

// HOST:PORT as every part of the utility reads it (network radios, the listener, the virtual
// radio): a host name or IPv4 address, or an IPv6 address in brackets ([::1]:4532), a colon and
// a port number 1-65535, or 0 (any free port) where `anyPort`. White space around it is ignored.
struct HostPort
{
    QString host; // without brackets
    quint16 port = 0;

    // As it is written back: an IPv6 host in brackets.
    QString text() const;
    // The host as an address to listen on: "localhost" is 127.0.0.1; a name is none.
    std::optional<QHostAddress> address() const;
};

std::optional<HostPort> parseHostPort(const QString &text, bool anyPort = false);
