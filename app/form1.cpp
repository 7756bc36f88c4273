#include "app/form1.h"

#include "app/clicklabel.h"
#include "app/doorcontrol.h"
#include "app/indicator.h"
#include "app/listcombobox.h"
#include "app/valuecheckbox.h"
#include "app/windowframe.h"
#include "ft847/ft847radio.h"
#include "hostlink/pttswitch.h"
#include "serial/portfailure.h"
#include "serial/portmap.h"
#include "serial/resumenext.h"
#include "settings/options.h"
#include "settings/storelocation.h"
#include "settings/textconv.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

Form1::Form1(PortBackendFactory portFactory, QWidget *parent)
    : QWidget(parent)
    , m_comport(std::move(portFactory),
                [this](int port) { return deviceForPort(portMapping(port), port); })
{
    // A child by name like the controls; as a member it is gone before the window's children.
    m_comport.setParent(this);
    m_comport.setObjectName(QStringLiteral("comport"));
    setWindowTitle(Caption);
    // A fixed frame: only the program changes the width.
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    // The layout was drawn for an 8-point interface font; larger fonts clip the captions.
    QFont small = font();
    small.setPointSizeF(8.0);
    setFont(small);
    buildControls();
    setFixedSize(toPixels(LaidOutInnerWidthTwips), toPixels(InnerHeightTwips));
}

// The doors go before the radio they ask, whatever order the children were made in.
Form1::~Form1()
{
    delete m_listener;
    delete m_catPort;
    delete m_flrig;
}

int Form1::toPixels(double twips) const
{
    return qRound(twips * logicalDpiX() / 1440.0);
}

double Form1::toTwips(int pixels) const
{
    return pixels * 1440.0 / logicalDpiX();
}

void Form1::placeTwips(QWidget *control, int left, int top, int width, int height)
{
    control->setGeometry(toPixels(left), toPixels(top), toPixels(width), toPixels(height));
}

void Form1::buildControls()
{
    m_Shape1 = new Indicator(this);
    m_Shape1->setObjectName(QStringLiteral("Shape1"));
    placeTwips(m_Shape1, 285, 240, 615, 495);

    m_Command1 = new QPushButton(MoreCaption, this);
    m_Command1->setObjectName(QStringLiteral("Command1"));
    placeTwips(m_Command1, 105, 1080, 975, 375);
    m_Command1->setToolTip(QStringLiteral("Click to set options"));

    m_Label1 = new QLabel(QStringLiteral("Com &Port:"), this);
    m_Label1->setObjectName(QStringLiteral("Label1"));
    m_Label1->move(toPixels(1560), toPixels(0));
    m_Label1->adjustSize();

    m_Combo1 = new ListComboBox(this);
    m_Combo1->setObjectName(QStringLiteral("Combo1"));
    m_Combo1->addItems({QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                        QStringLiteral("COM4")});
    m_Combo1->setCurrentIndex(-1);
    placeTwips(m_Combo1, 1560, 240, 1215, 315);
    m_Combo1->setToolTip(QStringLiteral("Set COM port for radio"));
    // Which device or address each COM port stands for.
    m_Combo1->setItemToolTips([this](int index) { return m_comport.deviceFor(index + 1); });
    m_Combo1->setEnabled(false);
    m_Label1->setBuddy(m_Combo1);

    m_Label2 = new QLabel(QStringLiteral("&Settings: (9600,n,8,1)"), this);
    m_Label2->setObjectName(QStringLiteral("Label2"));
    m_Label2->move(toPixels(1560), toPixels(600));
    m_Label2->adjustSize();

    m_Text1 = new QLineEdit(QStringLiteral("Text1"), this);
    m_Text1->setObjectName(QStringLiteral("Text1"));
    placeTwips(m_Text1, 1560, 840, 2295, 285);
    m_Text1->setToolTip(QStringLiteral("Enter baud rate, parity, bits, stop bits"));
    m_Text1->setEnabled(false);
    m_Label2->setBuddy(m_Text1);

    m_Check1 = new ValueCheckBox(QStringLiteral("Run Mi&nimized"), this);
    m_Check1->setObjectName(QStringLiteral("Check1"));
    placeTwips(m_Check1, 1560, 1200, 1335, 255);
    m_Check1->setToolTip(QStringLiteral("Always run minimized"));
    m_Check1->setEnabled(false);

    m_Check2 = new ValueCheckBox(QStringLiteral("&Top"), this);
    m_Check2->setObjectName(QStringLiteral("Check2"));
    placeTwips(m_Check2, 3120, 1200, 615, 255);
    m_Check2->setToolTip(QStringLiteral("Always on top of other windows"));
    m_Check2->setEnabled(false);

    // This machine's fonts may need more room for "Run Minimized" than the layout gives; the
    // box may grow up to the on-top box but never over it.
    const int roomForCheck1 = m_Check2->x() - m_Check1->x();
    if (m_Check1->sizeHint().width() > m_Check1->width())
        m_Check1->resize(qMin(m_Check1->sizeHint().width(), roomForCheck1), m_Check1->height());

    // Created last so that it lies above the indicator once start-up moves it there.
    m_Label3 = new ClickLabel(this);
    m_Label3->setObjectName(QStringLiteral("Label3"));
    placeTwips(m_Label3, 120, 360, 855, 495);
    m_Label3->setToolTip(IndicatorTip);
    m_Label3->raise();

    // Focus order: port list, settings, minimized, button, on top.
    setTabOrder(m_Combo1, m_Text1);
    setTabOrder(m_Text1, m_Check1);
    setTabOrder(m_Check1, m_Command1);
    setTabOrder(m_Command1, m_Check2);

    m_Timer1 = new QTimer(this);
    m_Timer1->setObjectName(QStringLiteral("Timer1"));
    // The one radio on the port, which every door asks, for the whole run.
    m_radio = new Ft847Radio(m_comport, this);
    m_radio->setObjectName(QStringLiteral("radio"));
    m_ptt = new PttSwitch(*m_radio, m_Timer1, static_cast<PttWindow &>(*this), this);
    m_ptt->setObjectName(QStringLiteral("ptt"));

    makeDoors();
    // A right-click sets things up; only a left click on the indicator ever keys.
    m_Combo1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_Combo1, &QWidget::customContextMenuRequested, this, &Form1::showPortMenu);
    m_Label3->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_Label3, &QWidget::customContextMenuRequested, this, &Form1::showIndicatorMenu);

    connect(m_Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(m_Label3, &ClickLabel::clicked, m_ptt, &PttSwitch::Label3_Click);
    connect(m_radio, &Ft847Radio::transmitTimedOut, this, [this](int seconds) {
        showNotice(QStringLiteral("TransmitTimeoutBox"),
                   QStringLiteral("Transmit timed out after %1 seconds: the radio is back in "
                                  "receive")
                       .arg(seconds));
    });
    connect(&m_comport, &CommControl::portLost, this, &Form1::portLost);
    connect(&m_comport, &CommControl::openFailed, this, &Form1::portLost);
    // The utility reopened a lost port by itself: the notice of the loss has had its day.
    connect(&m_comport, &CommControl::portBack, this, [this] {
        if (m_portErrorBox)
            m_portErrorBox->close();
    });
    // A port opened (again) has both lines low: the radio is in receive, whatever it was in.
    connect(&m_comport, &CommControl::portOpened, this, [this] {
        m_portFailureReported = false;
        m_Shape1->setFillColor(PttSwitch::Green);
        showPortState();
    });
    connect(m_Combo1, &ListComboBox::clicked, this, &Form1::Combo1_Click);
    connect(m_Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    m_Text1->installEventFilter(this);
    connect(m_Check1, &QCheckBox::stateChanged, this, &Form1::Check1_Click);
    connect(m_Check2, &QCheckBox::stateChanged, this, &Form1::Check2_Click);
}

float Form1::Width() const
{
    return static_cast<float>(toTwips(width() + windowFrameWidth(this)));
}

float Form1::ScaleWidth() const
{
    return static_cast<float>(toTwips(width()));
}

// The frame is taken as the border width measured at start-up, so the two panel widths stay the
// same whether or not the window manager has framed the window yet.
void Form1::setWidth(float outerTwips)
{
    const int inner = qMax(1, toPixels(outerTwips - m_BorderWidth));
    setFixedSize(inner, toPixels(InnerHeightTwips));
}

float Form1::collapsedWidth() const
{
    const float left = static_cast<float>(toTwips(m_Command1->x()));
    const float width = static_cast<float>(toTwips(m_Command1->width()));
    return 2.0f * left + width + m_BorderWidth;
}

float Form1::expandedWidth() const
{
    const float width = static_cast<float>(toTwips(m_Text1->width()));
    const float left = static_cast<float>(toTwips(m_Text1->x()));
    return left + width + 2.0f * m_BorderWidth;
}

void Form1::Command1_Click()
{
    if (m_Command1->text() == MoreCaption) {
        m_Command1->setText(LessCaption);
        m_Combo1->setEnabled(true);
        m_Text1->setEnabled(true);
        m_Check1->setEnabled(true);
        m_Check2->setEnabled(true);
        setWidth(expandedWidth());
    } else {
        m_Command1->setText(MoreCaption);
        m_Combo1->setEnabled(false);
        m_Text1->setEnabled(false);
        m_Check1->setEnabled(false);
        m_Check2->setEnabled(false);
        setWidth(collapsedWidth());
    }
}

QString Form1::startRigctlListener(const QString &address, const QString &allow)
{
    if (!allow.isNull())
        m_allow = allow;
    return m_listener->start(address);
}

QString Form1::startCatPort(const QString &path)
{
    return m_catPort->start(path);
}

QString Form1::startFlrig(const QString &address, const QString &allow)
{
    if (!allow.isNull())
        m_allow = allow;
    return m_flrig->start(address);
}

// The running utility keeps serving with what it has: changing doors or the time-out under the
// programs using them, because another start asked, would surprise more than it helps.
void Form1::optionsNotApplied(const QStringList &options)
{
    const QString given = options.join(QLatin1Char(' ')).left(400);
    qWarning("zolvek-ptt: a second start's options were not applied: %s", qUtf8Printable(given));
    showNotice(QStringLiteral("OptionsNotAppliedBox"),
               QStringLiteral("Options of a second start not applied"),
               QStringLiteral("zolvek-ptt was started again with %1 while running. This run keeps "
                              "its own options: close it and start again with them, or set them "
                              "from the menus of the indicator and the port list.")
                   .arg(given));
}

void Form1::setTransmitTimeout(int seconds)
{
    m_radio->setTransmitTimeout(seconds);
}

// A safety option that does not make sense is not guessed at: off, and said where the operator
// looks (a start from the desktop shows no standard error).
void Form1::setTransmitTimeout(const QString &text, const QString &from)
{
    if (text.trimmed().isEmpty())
        return;
    if (const auto seconds = textToWholeNumber(text, Ft847Radio::MaxTransmitTimeout)) {
        setTransmitTimeout(*seconds);
        return;
    }
    QString why = QStringLiteral("%1 \"%2\" is not a whole number of seconds from 0 to %3")
                      .arg(from, text.left(40))
                      .arg(Ft847Radio::MaxTransmitTimeout);
    if (from.startsWith(QLatin1Char('['))) // a stored value: say where it is stored
        why += QStringLiteral(" (%1)").arg(settingsLocation(Options::App));
    qWarning("zolvek-ptt: no transmit time-out: %s", qUtf8Printable(why));
    showNotice(QStringLiteral("TimeoutRefusedBox"), QStringLiteral("No transmit time-out"),
               why + QStringLiteral(".\nA transmit lasts until the host ends it."));
}

void Form1::ptt(const std::int32_t &command, const std::int32_t &state)
{
    m_ptt->ptt(command, state);
}

QColor Form1::indicatorColor() const
{
    return m_Shape1->FillColor();
}

void Form1::setIndicatorColor(const QColor &color)
{
    m_Shape1->setFillColor(color);
}

void Form1::unload()
{
    close();
}

// One box for each failure of the port, with the port's own words beneath.
void Form1::reportPortError(const QStringList &why)
{
    showPortState(why);
    if (m_portErrorBox || m_portFailureReported)
        return;
    m_portFailureReported = true;
    m_portErrorBox =
        showNotice(QStringLiteral("PortErrorBox"), PortErrorText, portFailureText(why));
}

// The port's own words and what they mean, and where the port's mapping is kept.
QString Form1::portFailureText(const QStringList &why) const
{
    return explainPortFailures(why)
           + QStringLiteral("\nThe COM ports' devices ([Ports]) and the options are kept in %1.")
                 .arg(settingsLocation(Options::App));
}

QMessageBox *Form1::showNotice(const QString &name, const QString &text, const QString &reason)
{
    auto *box = new QMessageBox(QMessageBox::NoIcon, ProgramTitle, text, QMessageBox::Ok, this);
    box->setObjectName(name);
    box->setInformativeText(reason);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
    return box;
}

// Every change of what the port is (its number, settings or device): the port closes with its
// lines dropped first, `apply` runs, and it opens again with the lines low and the radio's CAT
// interface on.
void Form1::reopenPort(ResumeNext &step, const std::function<void()> &apply)
{
    if (step.condition([&] { return m_comport.PortOpen(); }))
        m_radio->closePort(step);
    apply();
    m_radio->openPort(step);
    showPortState(step.errors());
}

// The port closes with the window. The lines are dropped first, so closing the utility while
// transmitting never leaves the radio keyed.
void Form1::closeEvent(QCloseEvent *event)
{
    savePosition();
    if (m_comport.PortOpen()) {
        ResumeNext step;
        m_radio->closePort(step);
        logPortFailures("closing", step.errors());
    }
    if (m_portErrorBox)
        m_portErrorBox->close();
    QWidget::closeEvent(event);
}

// Qt 6.4 on X11 shows a window as normal when it was minimized before its size last changed, as
// start-up does (the width is set after the minimized state). Applying the state again once the
// window is being shown brings it up iconified, with no flash of the normal window.
void Form1::showAfterLoad()
{
    restorePosition();
    const Qt::WindowStates loaded = windowState();
    if (!(loaded & Qt::WindowMinimized)) {
        show();
        return;
    }
    setWindowState(loaded & ~Qt::WindowMinimized);
    show();
    setWindowState(loaded);
}

// The radio is no longer reached (or, for a slow port, never was): its lines are down, so the
// indicator must not go on claiming transmit.
void Form1::portLost(const QString &why)
{
    logPortFailures("the port failed by itself", {why});
    m_Shape1->setFillColor(PttSwitch::Green);
    reportPortError({why}); // the indicator shows the port's state from there
}
