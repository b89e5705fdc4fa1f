#pragma once
// QTPravik: the program's only top-level window; the OpenGL view is its
// central widget. There is no menu and no tool bar: its six commands are
// window actions reached through application-wide shortcuts (Escape quits,
// Ctrl+F and Ctrl+M switch the two full-screen modes, Ctrl+C the cursor,
// Ctrl+T the two-mice mode). What each does, in words, is its action's
// whatsThis: the help panel lists it from there.
//
// Escape quits at once, except during a running study trial, where one
// stray key would lose the trial: there it shows a notice, and only a second
// Escape within QuitConfirmMs quits.
//
// Window states: normal, Qt full screen on one monitor, and the
// multi-monitor mode, a frameless window stretched over the union of all
// screens. Leaving the multi-monitor mode (also by closing the window) gives
// back the exact former geometry and window flags.
#include <QMainWindow>
#include <QRect>

class QLabel;
class QTConfiguration;
class QTKelvoWidgetGL;
class QTimer;

class QTPravik : public QMainWindow {
    Q_OBJECT
public:
    explicit QTPravik(QTConfiguration* configuration);
    ~QTPravik() override;

    static constexpr int QuitConfirmMs = 2000;

    QTKelvoWidgetGL* getView() const { return view; }
    bool isMultiMonitorActive() const { return multiMonitorActive; }
    // Sizes the window for a display of width x height: pixel for pixel when
    // that fits the available area of the screen the window opens on, else
    // scaled down uniformly to fit it (the view scales the layout with it),
    // with one console line. Returns the scale, 1 when it fits.
    double resizeToFit(int width, int height);
    // The notice asking for a second Escape is on screen, and where (window
    // pixels).
    bool isQuitNoticeShown() const;
    QRect quitNoticeRect() const;

public slots:
    // Escape: closes the window, or during a running trial asks first.
    void requestQuit();
    void about();
    void toggleFullscreen();
    void toggleMultiMonitorFullscreen();
    void toggleCursor();
    void toggleTwomice();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void hideBars();
    // Restores the saved geometry and flags; reshow is false while closing.
    void leaveMultiMonitor(bool reshow);
    // show() plus the keyboard, after the window flags changed.
    void showWithKeyboard();

    QTConfiguration* configuration; // not owned
    QTKelvoWidgetGL* view;          // owned
    bool multiMonitorActive = false;
    QLabel* quitNotice = nullptr;  // child of the window
    QTimer* quitWindow = nullptr;  // runs while a second Escape quits

    // Saved when the multi-monitor mode is entered.
    QRect savedGeometry;
    Qt::WindowFlags savedFlags;
};
