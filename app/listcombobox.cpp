#include "app/listcombobox.h"

#include "serial/porterror.h"

#include <QWheelEvent>

ListComboBox::ListComboBox(QWidget *parent)
    : QComboBox(parent)
{
    setEditable(false);
    // The wheel must not give the list the focus (Qt's default for a combo box): a notch over
    // it while another control has the focus would then switch the port after all.
    setFocusPolicy(Qt::StrongFocus);
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

void ListComboBox::setItemToolTips(std::function<QString(int)> toolTip)
{
    m_toolTip = std::move(toolTip);
    refreshToolTips();
}

void ListComboBox::refreshToolTips()
{
    if (!m_toolTip)
        return;
    for (int index = 0; index < count(); ++index)
        setItemData(index, m_toolTip(index), Qt::ToolTipRole);
}

void ListComboBox::showPopup()
{
    refreshToolTips();
    QComboBox::showPopup();
}

void ListComboBox::wheelEvent(QWheelEvent *event)
{
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    QComboBox::wheelEvent(event);
}
