#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QStringList>

// Every port failure is written here at warning level, shown in a box or not, so a support case
// never starts blind.
Q_DECLARE_LOGGING_CATEGORY(lcPort)

// What a failure of the port means for the operator: the system's own words (the device or
// address included), then a hint for the common cases (no permission, busy, no such device,
// nobody answering). Empty for no failures.
QString explainPortFailure(const QString &message);
QString explainPortFailures(const QStringList &messages);

// Writes each failure to the zolvek.port category, with what the utility was doing.
void logPortFailures(const char *doing, const QStringList &messages);
