#include "app/form1.h"
#include "app/listcombobox.h"
#include "serial/portfailure.h"
#include "serial/resumenext.h"
#include "settings/options.h"
#include "settings/settingsstore.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QMessageBox>

// Each change of port or line settings takes effect on the open port at once: close, apply,
// store, reopen. Failures never end the program; the user is told what needs telling.

void Form1::Combo1_Click()
{
    Combo1_Change();
}

void Form1::Combo1_Change()
{
    // Start-up sets the list itself; that is loading, not a change.
    if (!m_FormReady)
        return;
    ResumeNext step;
    reopenPort(step, [&] {
        step([&] { m_comport.setCommPort(m_Combo1->ListIndex() + 1); });
        // What the port object holds now, which is not always the list position.
        step([&] { saveOption(Options::ComPort, QString::number(m_comport.CommPort())); });
    });
    logPortFailures("choosing a port", step.errors());
    if (step.failed())
        showMessage(PortErrorText, step.errors());
}

void Form1::Text1_Change()
{
    if (!m_FormReady)
        return;
    ResumeNext step;
    reopenPort(step, [&] {
        step([&] { m_comport.setSettings(m_Text1->text()); });
        // Stored as typed, even when the port refused it: the user is told on leaving the box.
        step([&] { saveOption(Options::Settings, m_Text1->text()); });
    });
    logPortFailures("typing settings", step.errors());
}

void Form1::Text1_LostFocus()
{
    ResumeNext step;
    // Only the close and the settings are reported, but the port is open again before the box
    // is: a host request while it shows reaches the radio.
    QStringList refused;
    reopenPort(step, [&] {
        // Read with the start-up default: untouched settings on a first run are not an error.
        step([&] {
            m_comport.setSettings(GetSetting(Options::Settings, Options::DefaultSettings));
        });
        refused = step.errors();
    });
    logPortFailures("leaving the settings", step.errors());
    if (!refused.isEmpty())
        showMessage(InvalidSettingsText, refused);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // Only focus moving to another control counts; the window losing activation does not.
    if (watched == m_Text1 && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            Text1_LostFocus();
    }
    return QWidget::eventFilter(watched, event);
}

// The editing handlers' messages wait for OK; the window keeps serving the host meanwhile.
void Form1::showMessage(const QString &text, const QStringList &why)
{
    QMessageBox box(QMessageBox::NoIcon, ProgramTitle, text, QMessageBox::Ok, this);
    box.setInformativeText(text == PortErrorText ? portFailureText(why) : explainPortFailures(why));
    box.exec();
}
