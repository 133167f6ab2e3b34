#pragma once

#include "transport/transport_control.h"

#include <QVariant>
#include <QWidget>

#include <functional>

class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QListWidget;
class QPushButton;
class QStatusBar;
class QTimer;

namespace Marlet::Forms {
class CommonDialog;
class ResumeNext;
} // namespace Marlet::Forms
namespace Marlet::FolderPicker {
class Form2;
}

namespace Marlet::MainWindow {

// The program's main window. Every control carries its name as objectName.
class Form1 final : public QWidget
{
    Q_OBJECT

public:
    // `engineFactory` goes to the transport control (empty: the audio module).
    explicit Form1(Transport::EngineFactory engineFactory = {});
    ~Form1() override;

    // Handlers. Form_Load runs once, before the window is first shown.
    void Form_Load();
    // Runs when the window closes by any way but "Exit"; ends the program.
    void Form_Unload();
    // "Exit": ends the event loop at once, without Form_Unload.
    void Command3_Click();

    // "Select Folder": shows the folder picker without blocking (form1_picker.cpp).
    void Command2_Click();

    // The folder picker, made on first use; its window loads when first used.
    FolderPicker::Form2* Form2();

    // "*": shows the about window, loading it when it is not loaded (form1_about.cpp).
    void abt_Click();

    // "Show" grows the window step by step, paced by tim, until the playlist is visible;
    // "Hide" shrinks it back in one loop (form1_panel.cpp).
    void Command4_Click();
    void Command5_Click();
    void tim_Timer();

    // "Open File", the double-click on a playlist entry, and mmc's play, advance, record
    // and status events (form1_playlist.cpp).
    void Command1_Click();
    void flist_DblClick();
    void mmc_PlayRequested();
    void mmc_NextRequested();
    void mmc_RecordRequested();
    void mmc_StatusUpdate();

    // Files from outside the window: the command line, a later launch, a drop.
    enum class StartPlaying {
        Now,
        WhenIdle, // only when nothing is playing, paused or recording
    };
    // Appends `files` at the end of the playlist; the first of them then plays as a
    // double-click on its entry would, as `start` says (form1_playlist.cpp).
    void appendFiles(const QStringList& files, StartPlaying start);
    // Appends what `names` (files and folders) add, as a drop on the window does: once the
    // caller has returned; the first file plays when nothing else does.
    void appendDropped(const QStringList& names);

    // The window's outer height in twips, frame included, as the window system reports it.
    int outerHeightTwips() const;
    // Sizes the client area so that the outer height becomes `height` (to the pixel grid);
    // the size stays fixed. Returns whether the height took: not while the window is
    // minimized, maximized or full screen, nor when the height read back is unchanged once
    // the window system has answered (it holds the thread until then, at most
    // resizeAnswerMs, handling no user input meanwhile).
    bool setOuterHeightTwips(int height);
    // How long a size request may go unanswered before it counts as refused.
    static constexpr int resizeAnswerMs = 3000;

    // The client height; the width is fixed. The user cannot resize the window.
    int clientHeightTwips() const { return m_clientHeightTwips; }
    void setClientHeightTwips(int height);

    QString statusText() const;
    void setStatusText(const QString& text);

    // Called before each assignment to a member of mmc with the member's name and the
    // value, and before each read of one with the name and an invalid value. What it
    // throws counts as that statement (or condition) failing.
    using TransportTrace = std::function<void(const QString& member, const QVariant& value)>;
    void setTransportTrace(TransportTrace trace) { m_transportTrace = std::move(trace); }

    QStatusBar* sb() const { return m_sb; }
    QPushButton* abt() const { return m_abt; }
    QTimer* tim() const { return m_tim; }
    QPushButton* Command5() const { return m_command5; }
    QPushButton* Command4() const { return m_command4; }
    QPushButton* Command3() const { return m_command3; }
    QListWidget* flist() const { return m_flist; }
    Forms::CommonDialog* cd() const { return m_cd; }
    QPushButton* Command2() const { return m_command2; }
    QPushButton* Command1() const { return m_command1; }
    Transport::TransportControl* mmc() const { return m_mmc; }
    QLabel* Label3() const { return m_label3; }
    QLabel* Label1() const { return m_label1; }
    QLabel* Label2() const { return m_label2; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Files and folders dropped on the window are appended as from the command line, once
    // the drop is over; the first file plays when nothing else does (form1_playlist.cpp).
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls(Transport::EngineFactory engineFactory);
    void layOutStatusBar();
    void connectPanel();
    void connectPlaylist();
    void restorePicker(const Forms::ResumeNext& resume);
    // Asks for the outer height without waiting for the answer; false when the window
    // system owns the size now or the height leaves no client area.
    bool requestOuterHeightTwips(int height);
    // Runs `answered` once the window system has answered the size request just made: a
    // resize arrived, or resizeAnswerMs went by.
    void awaitResize(std::function<void()> answered);

    void setMmcFileName(const QString& fileName);
    void setMmcCommand(const QString& command);
    void setMmcUpdateInterval(qint32 ms);
    void setMmcShareable(qint16 value);
    int mmcMode() const;
    bool mmcIsBusy() const;
    void traceMmc(const QString& member, const QVariant& value) const;

    // The playlist's selection by position: -1 for none. The setter throws RuntimeError
    // for a position outside the list.
    int flistListIndex() const;
    void setFlistListIndex(int index);
    // The selected entry's path (its Qt::UserRole data, else its text); empty text when
    // none is selected.
    QString flistText() const;

    QStatusBar* m_sb = nullptr;
    QLabel* m_sbText = nullptr;
    QPushButton* m_abt = nullptr;
    QTimer* m_tim = nullptr;
    QPushButton* m_command5 = nullptr;
    QPushButton* m_command4 = nullptr;
    QPushButton* m_command3 = nullptr;
    QListWidget* m_flist = nullptr;
    Forms::CommonDialog* m_cd = nullptr;
    QPushButton* m_command2 = nullptr;
    QPushButton* m_command1 = nullptr;
    Transport::TransportControl* m_mmc = nullptr;
    FolderPicker::Form2* m_form2 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label1 = nullptr;
    QLabel* m_label2 = nullptr;

    int m_clientHeightTwips = 0;
    std::function<void()> m_resizeAnswered; // set while a size request awaits its answer
    QTimer* m_resizeDeadline = nullptr;
    bool m_growthAwaitsLateResize = false; // "Show" stopped at a step not answered in time
    TransportTrace m_transportTrace;
    bool m_exiting = false;  // "Exit" ended the program: no Form_Unload
    bool m_unloaded = false; // Form_Unload has run
};

} // namespace Marlet::MainWindow
