#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>

class QLabel;
class QPushButton;

namespace Marlet::About {

class Line;
class Shape;

// The one-line texts of the credit (Label1) and of the legal notice (Label2).
QString creditText();
QString noticeText();

// The about window's on-screen window, named "abtw", and its controls. Every control
// carries its name as objectName; the two members of the line array Line1 are named
// "Line1_0" and "Line1_1". Enter and Esc press "OK" whichever control has the focus.
// Created and destroyed by Abtw only. GUI thread only.
class AbtwWindow final : public QWidget
{
    Q_OBJECT

public:
    AbtwWindow();

    QPushButton* cmdOK() const { return m_cmdOK; }
    QLabel* picIcon() const { return m_picIcon; }
    QLabel* lblTitle() const { return m_lblTitle; }
    QLabel* lblVersion() const { return m_lblVersion; }
    QLabel* Label1() const { return m_label1; }
    QLabel* Label2() const { return m_label2; }
    Shape* Shape1() const { return m_shape1; }
    Shape* Shape2() const { return m_shape2; }
    Shape* Shape3() const { return m_shape3; }
    // `index` is 0 or 1.
    Line* Line1(int index) const { return m_line1.at(index); }

Q_SIGNALS:
    // The window is closing, whatever closes it; it is deleted once control returns to
    // the event loop.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createControls();

    QLabel* m_lblVersion = nullptr;
    std::array<Line*, 2> m_line1 = {};
    QLabel* m_lblTitle = nullptr;
    QLabel* m_label1 = nullptr;
    Shape* m_shape1 = nullptr;
    Shape* m_shape2 = nullptr;
    Shape* m_shape3 = nullptr;
    QLabel* m_label2 = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QLabel* m_picIcon = nullptr;
};

// The about window's one program-wide instance. The instance lasts as long as the
// application; its window exists only while it is loaded. A load creates the window and
// its controls and runs Form_Load; an unload ("OK", Enter, Esc, the close button, the
// program's end) closes and destroys them, and the next Show loads afresh.
// GUI thread only.
class Abtw final : public QObject
{
    Q_OBJECT

public:
    // The instance, created on first use and owned by the application object, which must
    // exist. It unloads the window when the application's event loop ends.
    static Abtw& instance();

    ~Abtw() override;

    // Shows the window modeless and without an owner, loading it first when it is not
    // loaded (running Form_Load). A loaded window is only brought to the front.
    // A failing Form_Load is reported as a run-time error; the window shows all the same.
    void Show();
    // Closes the window; it is destroyed with its controls once control returns to the
    // event loop, and counts as not loaded at once. Nothing when not loaded.
    void Unload();
    bool isLoaded() const { return !m_window.isNull(); }

    // "OK". Does not handle failures: a RuntimeError leaves it.
    void cmdOK_Click();

    // How many times Form_Load has run since the program started.
    int loadCount() const { return m_loadCount; }

    // The window while loaded, else null.
    AbtwWindow* window() const { return m_window; }

private:
    explicit Abtw(QObject* parent);
    // Runs at each load, before the window shows. Does not handle failures.
    void Form_Load();
    void load();
    void unloadNow();

    QPointer<AbtwWindow> m_window;
    int m_loadCount = 0;
};

} // namespace Marlet::About
