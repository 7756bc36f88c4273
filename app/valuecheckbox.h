#pragma once

#include <QCheckBox>

// A check box with an integer value: 0 cleared, 1 ticked, 2 greyed. The program may set 2; a
// click by the user only ever ticks or clears it.
class ValueCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit ValueCheckBox(const QString &text, QWidget *parent = nullptr);

    int Value() const;
    // Raises PortError (invalid property value) for anything but 0, 1 or 2.
    void setValue(int value);

protected:
    void nextCheckState() override;
};
