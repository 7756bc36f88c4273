#pragma once

#include <QComboBox>
#include <functional>

// A drop-down list that takes no typing, with a list index: -1 for no selection, otherwise the
// position of the selected item. It reports a click whenever the user picks an item, the one
// already shown included, and whenever the program sets the list index.
class ListComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit ListComboBox(QWidget *parent = nullptr);

    int ListIndex() const { return currentIndex(); }
    // Raises PortError (invalid property value) for an index below -1 or past the last item.
    void setListIndex(int index);
    // Each item's tool tip, asked again whenever the list opens (the mapping may have changed).
    void setItemToolTips(std::function<QString(int index)> toolTip);

protected:
    // A stray wheel over the closed list must not switch the radio's port.
    void wheelEvent(QWheelEvent *event) override;
    void showPopup() override;

Q_SIGNALS:
    void clicked();

private:
    void refreshToolTips();

    std::function<QString(int)> m_toolTip;
};
