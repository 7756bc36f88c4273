#pragma once

#include "hostlink/pttwindow.h"
#include "serial/commcontrol.h"
#include "settings/hostcontract.h"
#include "settings/settingkey.h"

#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>

class ClickLabel;
class Ft847Radio;
class Indicator;
class DoorControl;
class ListComboBox;
class QLabel;
class PttSwitch;
class QLineEdit;
class QPushButton;
class QTimer;
class ResumeNext;
class ValueCheckBox;

// The utility's only window: the transmit/receive indicator, the "&More>>" button and the
// options panel that the button reveals to the right. Geometry is kept in twips (1440 to the
// inch) and converted with the screen's logical resolution.
//
// The controls, the port object (`comport`), the switching and the open notices are children
// named as the window's code names them ("Combo1", "comport", "PortErrorBox"), so whoever looks
// at the window finds them by name.
class Form1 : public QWidget, private PttWindow
{
    Q_OBJECT
public:
    // The title of the utility's message boxes.
    static inline const QString ProgramTitle = QStringLiteral("zolvek-ptt");
    static inline const QString PortErrorText = QStringLiteral("Com port error");
    static inline const QString InvalidSettingsText = QStringLiteral("Invalid comport settings");
    static inline const QString Caption = QString::fromLatin1(HostContract::WindowTitle);
    static inline const QString MoreCaption = QStringLiteral("&More>>");
    static inline const QString LessCaption = QStringLiteral("&Less<<");
    static inline const QString IndicatorTip =
        QStringLiteral("Turns red on TX; Click to toggle TX state");
    static constexpr int InnerHeightTwips = 1605;
    static constexpr int LaidOutInnerWidthTwips = 4005;

    explicit Form1(PortBackendFactory portFactory = createPortBackend, QWidget *parent = nullptr);
    ~Form1() override;

    // Brings the window, the port and the radio to their running state; runs once, before the
    // window is first shown.
    void Form_Load();

    // Shows the window once start-up is done: minimized if start-up said so.
    void showAfterLoad();

    void Command1_Click();

    // Serves Hamlib's NET rigctl protocol on ADDR (PORT, HOST:PORT or [IPV6]:PORT) beside the
    // host message, to this computer and those `allow` names (ADDR[/BITS],...). A port that
    // cannot be listened on, or an address open to other computers without an allow list, is
    // said (standard error and a notice); the utility goes on without it. Returns the address
    // listened on, or empty.
    QString startRigctlListener(const QString &address, const QString &allow = QString());
    // Makes the serial FT-847 port at PATH (see CatPort), said as the listener's is; returns
    // what programs open, or empty.
    QString startCatPort(const QString &path);
    // Serves flrig's XML-RPC on ADDR, as the listener serves rigctl (the same allow list).
    QString startFlrig(const QString &address, const QString &allow = QString());

    // A later start was given `options` (each "--name value"), which this run does not take up:
    // said in a notice and on standard error.
    void optionsNotApplied(const QStringList &options);

    // Ends a transmit that lasts longer than `seconds` (0: never) and says so in a notice.
    void setTransmitTimeout(int seconds);
    // The same from the operator's text, `from` naming where it was written: text that is not a
    // whole number of seconds in range leaves the time-out off, and a notice says so.
    void setTransmitTimeout(const QString &text, const QString &from);

    // Switches the radio: command 0 with state 1 transmits, with state 0 receives; command 1
    // closes the utility. The two values are read, never written.
    void ptt(const std::int32_t &command, const std::int32_t &state);

    bool FormReady() const { return m_FormReady; }
    float BorderWidth() const { return m_BorderWidth; }

    // Window geometry in twips: outer width (frame included) and inner width.
    float Width() const;
    float ScaleWidth() const;
    void setWidth(float outerTwips);

    int toPixels(double twips) const;
    double toTwips(int pixels) const;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QColor indicatorColor() const override;
    void setIndicatorColor(const QColor &color) override;
    void unload() override;
    void reportPortError(const QStringList &why) override;
    void portLost(const QString &why);
    // The indicator and its tool tip follow whether a port is open, and if not, why not.
    void showPortState(const QStringList &why = {});

    // Setting up from the window: the port list's and the indicator's context menus.
    void showPortMenu(const QPoint &at);
    void showIndicatorMenu(const QPoint &at);
    void mapPort(int port, const QString &device);
    // What COM<port> is mapped to: the stored entry, or the one the store refused this run.
    QString portMapping(int port) const;
    void mapNetworkRadio(int port, const QString &typed);
    void reopenPort(ResumeNext &step, const std::function<void()> &apply);
    void makeDoors();
    void showIndicatorTip();
    void restorePosition();
    void savePosition();

    void buildControls();
    void placeTwips(QWidget *control, int left, int top, int width, int height);
    float collapsedWidth() const;
    float expandedWidth() const;

    void Combo1_Click();
    void Combo1_Change();
    void Text1_Change();
    void Text1_LostFocus();
    void Check1_Click();
    void Check2_Click();
    void ApplyTopmost();
    void showMessage(const QString &text, const QStringList &why);
    QString portFailureText(const QStringList &why) const;
    // A message that does not wait for OK: the window keeps serving the host while it shows.
    QMessageBox *showNotice(const QString &name, const QString &text,
                            const QString &reason = QString());
    void saveOption(const SettingKey &setting, const QString &value);
    void reportSaveFailure();

    Indicator *m_Shape1 = nullptr;
    ClickLabel *m_Label3 = nullptr;
    QPushButton *m_Command1 = nullptr;
    QLabel *m_Label1 = nullptr;
    ListComboBox *m_Combo1 = nullptr;
    QLabel *m_Label2 = nullptr;
    QLineEdit *m_Text1 = nullptr;
    ValueCheckBox *m_Check1 = nullptr;
    ValueCheckBox *m_Check2 = nullptr;
    QTimer *m_Timer1 = nullptr;
    CommControl m_comport;
    Ft847Radio *m_radio = nullptr;
    PttSwitch *m_ptt = nullptr;
    // The doors other programs reach the radio by, beside the window message.
    DoorControl *m_listener = nullptr;
    DoorControl *m_catPort = nullptr;
    DoorControl *m_flrig = nullptr;
    // Who besides this computer may reach the network doors; null: the stored list.
    QString m_allow;
    QPointer<QMessageBox> m_portErrorBox;
    // A port failure is reported once, until the port has been opened again.
    bool m_portFailureReported = false;
    bool m_saveFailureReported = false;
    // Mappings made from the window that the store refused: they hold until the utility closes.
    QHash<int, QString> m_unsavedMappings;
    // Why the port is not open, the port's own words.
    QString m_portTrouble;

    bool m_FormReady = false;
    float m_BorderWidth = 0.0f;
};
