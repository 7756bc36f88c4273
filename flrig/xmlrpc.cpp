#include "flrig/xmlrpc.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace Xmlrpc {

namespace {

// Nested arrays deeper than any flrig call has are refused, so a hostile body cannot recurse
// without end.
constexpr int MaxDepth = 8;

std::optional<Value> readValue(QXmlStreamReader &xml, int depth);

// Inside <array>: <data> and its <value>s.
std::optional<Value> readArray(QXmlStreamReader &xml, int depth)
{
    Value array;
    array.type = Value::Type::Array;
    while (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("data"))
            return std::nullopt;
        while (xml.readNextStartElement()) {
            if (xml.name() != QLatin1String("value"))
                return std::nullopt;
            const auto item = readValue(xml, depth + 1);
            if (!item)
                return std::nullopt;
            array.items << *item;
        }
    }
    return array;
}

// At <value>: reads to its end. Text with no type is a string.
std::optional<Value> readValue(QXmlStreamReader &xml, int depth)
{
    if (depth > MaxDepth)
        return std::nullopt;
    Value value;
    value.type = Value::Type::String;
    QString text;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::Characters) {
            text += xml.text();
        } else if (token == QXmlStreamReader::EndElement) {
            value.text = text;
            return value;
        } else if (token == QXmlStreamReader::StartElement) {
            const QString type = xml.name().toString();
            if (type == QLatin1String("array")) {
                auto array = readArray(xml, depth);
                if (!array)
                    return std::nullopt;
                xml.skipCurrentElement(); // </value>
                return array;
            }
            const QString inner = xml.readElementText();
            if (xml.hasError())
                return std::nullopt;
            bool ok = true;
            if (type == QLatin1String("i4") || type == QLatin1String("int")) {
                value = {Value::Type::Int, inner.trimmed().toLongLong(&ok), 0.0, {}, {}};
            } else if (type == QLatin1String("double")) {
                value = {Value::Type::Double, 0, inner.trimmed().toDouble(&ok), {}, {}};
            } else if (type == QLatin1String("boolean")) {
                value = {Value::Type::Bool, inner.trimmed() == QLatin1String("1"), 0.0, {}, {}};
            } else if (type == QLatin1String("string")) {
                value = Value::of(inner);
            } else {
                return std::nullopt; // a type no flrig call carries
            }
            if (!ok)
                return std::nullopt;
            xml.skipCurrentElement(); // </value>
            return value;
        }
    }
    return std::nullopt;
}

QString escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QByteArray write(const Value &value)
{
    switch (value.type) {
    case Value::Type::Int:
        return "<value><i4>" + QByteArray::number(value.integer) + "</i4></value>";
    case Value::Type::Double:
        return "<value><double>" + QByteArray::number(value.real, 'f', 6) + "</double></value>";
    case Value::Type::Bool:
        return "<value><boolean>" + QByteArray(value.integer ? "1" : "0") + "</boolean></value>";
    case Value::Type::String:
        return "<value>" + escaped(value.text).toUtf8() + "</value>";
    case Value::Type::Array: {
        QByteArray out = "<value><array><data>";
        for (const Value &item : value.items)
            out += write(item);
        return out + "</data></array></value>";
    }
    case Value::Type::Empty:
        break;
    }
    return "<value></value>";
}

} // namespace

std::optional<double> Value::number() const
{
    switch (type) {
    case Type::Int:
    case Type::Bool:
        return double(integer);
    case Type::Double:
        return real;
    case Type::String: {
        bool ok = false;
        const double read = text.trimmed().toDouble(&ok);
        return ok ? std::optional<double>(read) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

QString Value::string() const
{
    switch (type) {
    case Type::String:
        return text;
    case Type::Int:
    case Type::Bool:
        return QString::number(integer);
    case Type::Double:
        return QString::number(real, 'f', 0);
    default:
        return QString();
    }
}

std::optional<Call> parseCall(const QByteArray &body, QString *why)
{
    static const QRegularExpression clientId(QStringLiteral("<\\?clientid[^>]*\\?>"));
    QString text = QString::fromUtf8(body);
    text.remove(clientId);
    QXmlStreamReader xml(text.trimmed());
    Call call;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("methodCall")) {
        *why = QStringLiteral("not an XML-RPC methodCall");
        return std::nullopt;
    }
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("methodName")) {
            call.method = xml.readElementText().trimmed();
        } else if (xml.name() == QLatin1String("params")) {
            while (xml.readNextStartElement()) {
                if (xml.name() != QLatin1String("param") || !xml.readNextStartElement()
                    || xml.name() != QLatin1String("value")) {
                    *why = QStringLiteral("a param without its value");
                    return std::nullopt;
                }
                const auto value = readValue(xml, 0);
                if (!value) {
                    *why = QStringLiteral("a value that cannot be read");
                    return std::nullopt;
                }
                call.params << *value;
                xml.skipCurrentElement(); // </param>
            }
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError() || call.method.isEmpty()) {
        *why = xml.hasError() ? xml.errorString() : QStringLiteral("no methodName");
        return std::nullopt;
    }
    return call;
}

QByteArray response(const Value &value)
{
    return "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t" + write(value)
           + "\r\n</param></params></methodResponse>\r\n";
}

QByteArray fault(const QString &text)
{
    return "<?xml version=\"1.0\"?>\r\n<methodResponse><fault>\r\n\t<value><struct><member>"
           "<name>faultCode</name><value><i4>-1</i4></value></member><member><name>faultString"
           "</name>"
           + write(Value::of(text))
           + "</member></struct></value>\r\n</fault></methodResponse>\r\n";
}

} // namespace Xmlrpc
