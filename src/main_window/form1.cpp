#include "main_window/form1.h"

#include "forms/common_dialog.h"
#include "forms/error_policy.h"
#include "forms/rnd.h"
#include "forms/title_font.h"
#include "forms/twips.h"
#include "forms/window_frame.h"
#include "main_window/playlist_tips.h"
#include "transport/engine_loader.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include <cmath>
#include <utility>

namespace Marlet::MainWindow {

using Forms::twips;
using Forms::twipsRect;

namespace {

constexpr int clientWidthTwips = 5070;
constexpr int initialClientHeightTwips = 2715;
constexpr int statusBarHeightTwips = 255;

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text,
                        const QRect& geometry)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

// Return and Enter press the focused button, as Space does: outside a dialog, Qt's push
// buttons take Space only.
class EnterPressesButton final : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        static_cast<QPushButton*>(watched)->click();
        return true;
    }
};

} // namespace

Form1::Form1(Transport::EngineFactory engineFactory)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quendel's Marlet"));
    QPalette background = palette();
    background.setColor(QPalette::Window, background.color(QPalette::Button));
    setPalette(background);
    setAutoFillBackground(true);
    setAcceptDrops(true);

    Forms::requestFixedFrame(this, Forms::FrameRole::Main);
    createControls(std::move(engineFactory));
    connect(m_abt, &QPushButton::clicked, this, &Form1::abt_Click);
    setClientHeightTwips(initialClientHeightTwips);
    m_mmc->setFocus();
}

Form1::~Form1() = default;

// Back to front: a control created later lies in front of those created before it.
void Form1::createControls(Transport::EngineFactory engineFactory)
{
    const QFont title = Forms::titleFont(21.75);

    m_label2 = makeLabel(this, "Label2", QStringLiteral("MARLET"), twipsRect(465, 105, 3735, 495));
    m_label2->setFont(title);
    QPalette white = m_label2->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    m_label2->setPalette(white);

    m_label1 = makeLabel(this, "Label1", QStringLiteral("MARLET"), twipsRect(480, 120, 3735, 495));
    m_label1->setFont(title);

    m_label3 = makeLabel(this, "Label3", QStringLiteral("List:"), twipsRect(240, 2160, 375, 255));

    m_mmc = new Transport::TransportControl(this, std::move(engineFactory));
    m_mmc->setObjectName(QStringLiteral("mmc"));
    m_mmc->setGeometry(twipsRect(360, 840, 4095, 495));

    m_command1 =
        makeButton(this, "Command1", QStringLiteral("Open File"), twipsRect(360, 1680, 1215, 375));
    m_command2 = makeButton(this, "Command2", QStringLiteral("Select Folder"),
                            twipsRect(1680, 1680, 1215, 375));

    m_cd = new Forms::CommonDialog(this);
    m_cd->setObjectName(QStringLiteral("cd"));
    m_cd->setFilter(QStringLiteral("All Supported|*.mp3;*.wav;*.amr"));

    m_flist = new QListWidget(this);
    m_flist->setObjectName(QStringLiteral("flist"));
    m_flist->setGeometry(twipsRect(120, 2640, 4815, 3180));
    m_flist->setSelectionMode(QAbstractItemView::SingleSelection);
    m_flist->setSortingEnabled(false);
    // Every entry is one line of text: rows of one height keep appending a long list cheap.
    m_flist->setUniformItemSizes(true);
    new PlaylistTips(m_flist, &Transport::readTrackTags); // each entry's title, as a tooltip

    m_command3 =
        makeButton(this, "Command3", QStringLiteral("Exit"), twipsRect(3000, 1680, 1215, 375));
    m_command4 =
        makeButton(this, "Command4", QStringLiteral("Show"), twipsRect(840, 2160, 615, 255));
    m_command5 =
        makeButton(this, "Command5", QStringLiteral("Hide"), twipsRect(1440, 2160, 615, 255));

    m_tim = new QTimer(this);
    m_tim->setObjectName(QStringLiteral("tim"));
    m_tim->setInterval(0);

    m_abt = makeButton(this, "abt", QStringLiteral("*"), twipsRect(4800, 0, 255, 255));

    m_sb = new QStatusBar(this);
    m_sb->setObjectName(QStringLiteral("sb"));
    m_sb->setSizeGripEnabled(false);
    m_sb->setAutoFillBackground(true);
    m_sbText = new QLabel(m_sb);
    m_sb->addWidget(m_sbText, 1);

    setTabOrder(m_mmc, m_command1);
    setTabOrder(m_command1, m_command2);
    setTabOrder(m_command2, m_flist);
    setTabOrder(m_flist, m_command3);
    setTabOrder(m_command3, m_command4);
    setTabOrder(m_command4, m_command5);
    setTabOrder(m_command5, m_abt);

    auto* enterPresses = new EnterPressesButton(this);
    for (QPushButton* button : {m_command1, m_command2, m_command3, m_command4, m_command5, m_abt})
        button->installEventFilter(enterPresses);

    connect(m_command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(m_command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connectPanel();
    connectPlaylist();
}

void Form1::setClientHeightTwips(int height)
{
    m_clientHeightTwips = height;
    setFixedSize(twips(clientWidthTwips), twips(height));
    layOutStatusBar();
}

// The status bar is docked to the bottom edge, across the full width.
void Form1::layOutStatusBar()
{
    const int barHeight = twips(statusBarHeightTwips);
    m_sb->setGeometry(0, height() - barHeight, width(), barHeight);
}

QString Form1::statusText() const
{
    return m_sbText->text();
}

void Form1::setStatusText(const QString& text)
{
    m_sbText->setText(text);
    m_sb->setToolTip(QString()); // a quiet failure's reason holds until the next text
}

void Form1::Form_Load()
{
    const Forms::ResumeNext resume;

    restorePicker(resume);
    resume.run([&] { setMmcUpdateInterval(0); });
    // Rounded to nearest, ties to even (the default rounding mode): 0 or 1.
    resume.run([&] { setMmcShareable(static_cast<qint16>(std::lrint(Forms::rnd()))); });
    resume.run([&] { setMmcCommand(QStringLiteral("OPEN")); });
}

void Form1::Form_Unload()
{
    m_unloaded = true;
    Forms::runReporting(QStringLiteral("Form_Unload"), [&] {
        setMmcFileName(QString());
        setMmcCommand(QStringLiteral("STOP"));
        setMmcCommand(QStringLiteral("CLOSE"));
        setMmcCommand(QStringLiteral("EXIT"));
        setMmcCommand(QStringLiteral("END"));
    });
    QApplication::closeAllWindows();
    QCoreApplication::exit(0);
}

void Form1::Command3_Click()
{
    m_exiting = true;
    QCoreApplication::exit(0);
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (!m_exiting && !m_unloaded)
        Form_Unload();
    event->accept();
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    layOutStatusBar();
    if (auto answered = std::exchange(m_resizeAnswered, nullptr)) {
        m_resizeDeadline->stop();
        answered();
    } else if (std::exchange(m_growthAwaitsLateResize, false)) {
        m_tim->start(); // "Show" goes on from the height that took after all
    }
}

void Form1::setMmcFileName(const QString& fileName)
{
    traceMmc(QStringLiteral("FileName"), fileName);
    m_mmc->setFileName(fileName);
}

void Form1::setMmcCommand(const QString& command)
{
    traceMmc(QStringLiteral("Command"), command);
    m_mmc->setCommand(command);
}

void Form1::setMmcUpdateInterval(qint32 ms)
{
    traceMmc(QStringLiteral("UpdateInterval"), ms);
    m_mmc->setUpdateInterval(ms);
}

void Form1::setMmcShareable(qint16 value)
{
    traceMmc(QStringLiteral("Shareable"), QVariant::fromValue(value));
    m_mmc->setShareable(value);
}

void Form1::traceMmc(const QString& member, const QVariant& value) const
{
    if (m_transportTrace)
        m_transportTrace(member, value);
}

} // namespace Marlet::MainWindow
