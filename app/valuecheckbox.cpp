#include "app/valuecheckbox.h"

#include "serial/porterror.h"

ValueCheckBox::ValueCheckBox(const QString &text, QWidget *parent)
    : QCheckBox(text, parent)
{
}

int ValueCheckBox::Value() const
{
    switch (checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

void ValueCheckBox::setValue(int value)
{
    switch (value) {
    case 0:
        setCheckState(Qt::Unchecked);
        return;
    case 1:
        setCheckState(Qt::Checked);
        return;
    case 2:
        setTristate(true);
        setCheckState(Qt::PartiallyChecked);
        return;
    default:
        throw PortError(
            PortError::InvalidPropertyValue,
            QStringLiteral("Invalid property value: check box value %1 (0, 1 or 2)").arg(value));
    }
}

void ValueCheckBox::nextCheckState()
{
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}
