#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// XML-RPC as flrig's server speaks it: the calls its clients post, and answers written as
// flrig's XmlRpc++ writes them (a string bare inside <value>, which Hamlib's backend reads, an
// int as <i4>), so every client reads them as it reads flrig's.
namespace Xmlrpc {

struct Value
{
    enum class Type { Empty, Int, Double, Bool, String, Array };
    Type type = Type::Empty;
    qint64 integer = 0;
    double real = 0.0;
    QString text;
    QList<Value> items;

    static Value of(int value) { return {Type::Int, value, 0.0, {}, {}}; }
    static Value of(const QString &value) { return {Type::String, 0, 0.0, value, {}}; }
    static Value of(const QList<Value> &values) { return {Type::Array, 0, 0.0, {}, values}; }
    // A number, whichever way a client wrote it (flrig's clients send a frequency as a double,
    // an int or a string); nothing for one that is not.
    std::optional<double> number() const;
    // Text, a string as it is and a number written out.
    QString string() const;
};

struct Call
{
    QString method;
    QList<Value> params;
};

// A methodCall; nothing, with the reason, for a body that is not one. The line fldigi and Hamlib
// put before or after the XML declaration (<?clientid="..."?>) is passed over.
std::optional<Call> parseCall(const QByteArray &body, QString *why);

QByteArray response(const Value &value);
// flrig's fault: code -1 and a text such as "rig.foo: unknown method name".
QByteArray fault(const QString &text);

} // namespace Xmlrpc
