#pragma once

#include "app/clicklabel.h"
#include "app/form1.h"
#include "app/indicator.h"
#include "app/listcombobox.h"
#include "app/valuecheckbox.h"
#include "ft847/ft847radio.h"
#include "hostlink/pttswitch.h"
#include "serial/commcontrol.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

// The window's controls, port object and notices, found by the names the window gives them.
template <typename Child> Child *namedChild(const Form1 &form, const char *name)
{
    return form.findChild<Child *>(QLatin1String(name));
}

inline Indicator *Shape1(const Form1 &form)
{
    return namedChild<Indicator>(form, "Shape1");
}
inline ClickLabel *Label3(const Form1 &form)
{
    return namedChild<ClickLabel>(form, "Label3");
}
inline QPushButton *Command1(const Form1 &form)
{
    return namedChild<QPushButton>(form, "Command1");
}
inline QLabel *Label1(const Form1 &form)
{
    return namedChild<QLabel>(form, "Label1");
}
inline ListComboBox *Combo1(const Form1 &form)
{
    return namedChild<ListComboBox>(form, "Combo1");
}
inline QLabel *Label2(const Form1 &form)
{
    return namedChild<QLabel>(form, "Label2");
}
inline QLineEdit *Text1(const Form1 &form)
{
    return namedChild<QLineEdit>(form, "Text1");
}
inline ValueCheckBox *Check1(const Form1 &form)
{
    return namedChild<ValueCheckBox>(form, "Check1");
}
inline ValueCheckBox *Check2(const Form1 &form)
{
    return namedChild<ValueCheckBox>(form, "Check2");
}
inline CommControl &comport(const Form1 &form)
{
    return *namedChild<CommControl>(form, "comport");
}
inline PttSwitch &switching(const Form1 &form)
{
    return *namedChild<PttSwitch>(form, "ptt");
}
inline Ft847Radio &radio(const Form1 &form)
{
    return *namedChild<Ft847Radio>(form, "radio");
}
// The open "Com port error" box, if one is showing.
inline QMessageBox *portErrorBox(const Form1 &form)
{
    return namedChild<QMessageBox>(form, "PortErrorBox");
}
// The notice that an option could not be stored, if one is showing.
inline QMessageBox *saveFailedBox(const Form1 &form)
{
    return namedChild<QMessageBox>(form, "SaveFailedBox");
}
