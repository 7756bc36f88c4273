#include "app/listcombobox.h"

#include "serial/porterror.h"

ListComboBox::ListComboBox(QWidget *parent)
    : QComboBox(parent)
{
    setEditable(false);
    connect(this, &QComboBox::activated, this, &ListComboBox::clicked);
}

void ListComboBox::setListIndex(int index)
{
    if (index < -1 || index >= count())
        throw PortError(PortError::InvalidPropertyValue,
                        QStringLiteral("Invalid property value: list index %1 (-1 to %2)")
                            .arg(index)
                            .arg(count() - 1));
    setCurrentIndex(index);
    Q_EMIT clicked();
}
