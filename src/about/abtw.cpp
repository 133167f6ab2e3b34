#include "about/abtw.h"

#include "about/drawn_controls.h"
#include "forms/error_policy.h"
#include "forms/program_icon.h"
#include "forms/title_font.h"
#include "forms/twips.h"
#include "forms/window_frame.h"

#include <marlet/version.h>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace Marlet::About {

using Forms::twips;
using Forms::twipsRect;

namespace {

constexpr int clientWidthTwips = 5730;
constexpr int clientHeightTwips = 3480;
constexpr int clientLeftTwips = 2340; // from the screen's top-left corner
constexpr int clientTopTwips = 1935;
constexpr int iconSize = 48; // px

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// A line given by its end points in twips.
Line* makeLine(QWidget* parent, const char* name, int x1, int y1, int x2, int y2, int width,
               const QColor& color)
{
    auto* line =
        new Line(parent, QPoint(twips(x1), twips(y1)), QPoint(twips(x2), twips(y2)), width);
    line->setObjectName(QLatin1String(name));
    setForegroundColor(line, color);
    return line;
}

Shape* makeShape(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* shape = new Shape(parent, geometry);
    shape->setObjectName(QLatin1String(name));
    return shape;
}

// "Version <major>.<minor>.<revision>", each number in plain decimal.
QString versionText(int major, int minor, int revision)
{
    return QStringLiteral("Version %1.%2.%3").arg(major).arg(minor).arg(revision);
}

} // namespace

QString creditText()
{
    return QStringLiteral("Designed by the Marlet team");
}

QString noticeText()
{
    return QChar(0x00A9) + QStringLiteral(" %1 All rights reserved.")
                               .arg(QString::fromLatin1(Version::companyName));
}

AbtwWindow::AbtwWindow() : QWidget(nullptr, Forms::secondaryWindowFlags())
{
    setObjectName(QStringLiteral("abtw"));
    setWindowTitle(QStringLiteral("About Marlet"));
    Forms::requestFixedFrame(this, Forms::FrameRole::Secondary);
    setWindowIcon(programIcon());
    setAttribute(Qt::WA_DeleteOnClose);
    QPalette background = palette();
    background.setColor(QPalette::Window, background.color(QPalette::Button));
    setPalette(background);
    setAutoFillBackground(true);

    const QSize client(twips(clientWidthTwips), twips(clientHeightTwips));
    setFixedSize(client);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        setGeometry(Forms::placeClientArea(QPoint(twips(clientLeftTwips), twips(clientTopTwips)),
                                           client, screen->geometry(),
                                           screen->availableGeometry()));
    }

    createControls();
    m_cmdOK->setFocus();
}

// Back to front: a control created later lies in front of those created before it.
void AbtwWindow::createControls()
{
    m_lblVersion =
        makeLabel(this, "lblVersion", QStringLiteral("Version"), twipsRect(4080, 960, 1245, 225));

    m_line1[0] = makeLine(this, "Line1_0", 105, 2820, 5654, 2820, 2, Qt::white);

    m_lblTitle =
        makeLabel(this, "lblTitle", QStringLiteral("MARLET"), twipsRect(1080, 360, 4245, 480));
    m_lblTitle->setFont(Forms::titleFont(24));
    setForegroundColor(m_lblTitle, Qt::black);

    m_line1[1] = makeLine(this, "Line1_1", 90, 2805, 5654, 2805, 1, QColor(128, 128, 128));

    m_label1 = makeLabel(this, "Label1", creditText(), twipsRect(1200, 2280, 3525, 210));
    setForegroundColor(m_label1, Qt::black);

    m_shape1 = makeShape(this, "Shape1", twipsRect(1080, 2160, 3735, 495));
    m_shape2 = makeShape(this, "Shape2", twipsRect(120, 240, 5295, 975));
    m_shape3 = makeShape(this, "Shape3", twipsRect(107, 226, 5295, 975));
    setForegroundColor(m_shape3, Qt::white);

    m_label2 = makeLabel(this, "Label2", noticeText(), twipsRect(120, 3120, 3975, 255));

    m_cmdOK = new QPushButton(QStringLiteral("OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setGeometry(twipsRect(4245, 3000, 1260, 345));
    m_cmdOK->setAutoDefault(false);
    m_cmdOK->setDefault(true);

    // A picture box: takes the focus, shows the icon at its own size with no border.
    m_picIcon = makeLabel(this, "picIcon", QString(), twipsRect(240, 360, 720, 720));
    m_picIcon->setPixmap(programIcon().pixmap(QSize(iconSize, iconSize)));
    m_picIcon->setFocusPolicy(Qt::StrongFocus);

    setTabOrder(m_cmdOK, m_picIcon);
}

void AbtwWindow::closeEvent(QCloseEvent* event)
{
    Q_EMIT closing();
    event->accept();
}

void AbtwWindow::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if (modifiers == Qt::NoModifier &&
        (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)) {
        m_cmdOK->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

Abtw& Abtw::instance()
{
    Q_ASSERT(QCoreApplication::instance());
    static QPointer<Abtw> instance;
    if (!instance)
        instance = new Abtw(QCoreApplication::instance());
    return *instance;
}

Abtw::Abtw(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("abtw"));
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, &Abtw::unloadNow);
}

// The application object deletes the instance only once it is itself past use: a window
// still loaded then (the event loop never ran or never ended) is left to the process's end.
Abtw::~Abtw()
{
    if (QCoreApplication::instance())
        delete m_window;
}

void Abtw::Show()
{
    if (!isLoaded()) {
        load();
        if (!m_window) // Form_Load unloaded it
            return;
    }
    // A window manager gives a new utility window no focus of its own accord.
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void Abtw::load()
{
    auto* window = new AbtwWindow;
    m_window = window;
    connect(window, &AbtwWindow::closing, this, [this, window] {
        if (m_window == window)
            m_window = nullptr;
    });
    connect(window->cmdOK(), &QPushButton::clicked, this, [this] {
        Forms::runReporting(QStringLiteral("cmdOK_Click"), [this] { cmdOK_Click(); });
    });
    Forms::runReporting(QStringLiteral("Form_Load"), [this] { Form_Load(); });
}

void Abtw::Unload()
{
    if (m_window)
        m_window->close();
}

// The event loop has ended: nothing will delete the window later, so it goes now.
void Abtw::unloadNow()
{
    const QPointer<AbtwWindow> window = m_window;
    Unload();
    delete window;
}

void Abtw::Form_Load()
{
    ++m_loadCount;
    m_window->lblVersion()->setText(versionText(Version::major, Version::minor, Version::revision));
}

void Abtw::cmdOK_Click()
{
    Unload();
}

} // namespace Marlet::About
