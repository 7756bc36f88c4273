#pragma once

#include <QComboBox>

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

Q_SIGNALS:
    void clicked();
};
