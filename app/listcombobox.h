#pragma once

#include <QComboBox>

// A drop-down list that takes no typing, with a list index: -1 for no selection, otherwise the
// position of the selected item.
class ListComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit ListComboBox(QWidget *parent = nullptr);

    int ListIndex() const { return currentIndex(); }
    // Raises ControlError for an index below -1 or past the last item.
    void setListIndex(int index);
};
