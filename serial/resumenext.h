#pragma once

#include <QString>
#include <QStringList>
#include <exception>
#include <utility>

// Runs a handler's statements so that one that fails is abandoned and the next one runs. The
// handler can ask afterwards whether anything failed.
//
//     ResumeNext step;
//     step([&] { port.setCommPort(3); });
//     if (step.condition([&] { return port.PortOpen(); }))
//         step([&] { port.setPortOpen(false); });
//     if (step.failed()) ...
class ResumeNext
{
public:
    template <typename Statement> void operator()(Statement &&statement) noexcept
    {
        try {
            std::forward<Statement>(statement)();
        } catch (const std::exception &error) {
            record(QString::fromStdString(error.what()));
        } catch (...) {
            record(QStringLiteral("Unknown error"));
        }
    }

    // The value of an if's condition. A condition that fails counts as true: the body runs.
    template <typename Test> bool condition(Test &&test) noexcept
    {
        try {
            return std::forward<Test>(test)();
        } catch (const std::exception &error) {
            record(QString::fromStdString(error.what()));
        } catch (...) {
            record(QStringLiteral("Unknown error"));
        }
        return true;
    }

    bool failed() const { return !m_errors.isEmpty(); }
    // The messages of the failures, oldest first.
    const QStringList &errors() const { return m_errors; }

private:
    void record(const QString &message) { m_errors.append(message); }

    QStringList m_errors;
};
