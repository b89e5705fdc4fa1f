#pragma once
// QTKelvoWidgetGL: the OpenGL view that fills the main window.
//
// It renders the visualization whenever the event loop is idle and turns
// every kind of pointer input into framework events (OmbraEvent, type looked
// up by name): the Qt mouse with the selection keys Q W E (lasso plus, minus,
// intersection) and A S D (the same with the cylinder technique), TUIO
// contacts picked up from TouchManager, whiteboard contacts (OnXY callbacks)
// and the extra mice of the two-mice mode. What a press, drag or release
// means is the framework's business; the view only fixes what is sent, with
// which values and in which order. Positions sent are view pixels with the
// origin at the lower left.
//
// Every event goes to the visualization's OmbraManager side; tests may put a
// recording manager there instead (setEventManager).
//
// Rendering is continuous by default. On demand (configuration or
// setRenderOnDemand), frames are drawn only for a short while after something
// changed: input to the view, a TUIO item, an extra-mouse event, the
// framework's change notice, a resize or an expose; a pending density estimate
// keeps them going. While resting, a 15 ms timer looks for touch and
// extra-mouse input, which costs next to nothing.
#include "app/KelvoVisBuildDirector.h"
#include "framework/board/CSBSDK2EventHandler.h"

#include <QElapsedTimer>
#include <QOpenGLWidget>
#include <QWheelEvent>
#include <QSurfaceFormat>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class CSBSDK2;
class CSBSDKWnd;
class Configuration;
class KelvoVis;
class KelvoVisBuilder;
class OmbraManager;
class QTimer;
class VisComponent;

class QTKelvoWidgetGL : public QOpenGLWidget, public KelvoVisBuildDirector, public CSBSDK2EventHandler {
    Q_OBJECT
public:
    // Selection modifier of the Qt mouse (keyMode).
    enum KeyMode { NoKey = 0, KeyA = 3, KeyS = 4, KeyD = 5, KeyQ = 9, KeyW = 10, KeyE = 11 };

    // The selection keys: held while the Qt mouse drags in the 3D area. The
    // key handling reads this table, and so does the help.
    struct LassoKey {
        int key;        // Qt::Key
        KeyMode mode;
        bool cylinder;  // else density-aware
        const char* operation;
    };
    static const LassoKey LassoKeys[6];
    // The mouse's part of the help: rows of what to press and what it does.
    static std::vector<std::pair<std::string, std::string>> KeyHelp();

    QTKelvoWidgetGL(const QSurfaceFormat& format, Configuration* configuration, QWidget* parent);
    ~QTKelvoWidgetGL() override;

    // Whiteboard contacts, board pixels with the origin at the upper left;
    // bit 8 of pointer tells the two contacts apart.
    void OnXYDown(int x, int y, int z, int pointer) override;
    void OnXYMove(int x, int y, int z, int pointer) override;
    void OnXYUp(int x, int y, int z, int pointer) override;

    KelvoVis* getVis() const { return vis; }
    // Where events go: the visualization, or a stand-in (tests).
    void setEventManager(OmbraManager* manager) { events = manager; }
    int getKeyMode() const { return keyMode; }
    int getMouseButtonsDown() const { return mouseButtonsDown; }
    bool isMouseEnabled() const { return mouseEnabled; }
    bool isTwoMiceEnabled() const { return twoMiceEnabled; }
    int getSharedPressCount() const { return sharedPressCount; }
    int getViewWidth() const { return viewWidth; }
    int getViewHeight() const { return viewHeight; }
    // Frames painted with a visualization so far.
    unsigned long getFramesPainted() const { return framesPainted; }
    void setRenderOnDemand(bool onDemand);
    // Test hook: every frame takes at least this long (a slow renderer).
    void setMinimumFrameMilliseconds(int ms) { minimumFrameMs = ms; }
    bool rendersOnDemand() const { return onDemand; }
    // False while an on-demand view rests (draws no frames).
    bool isAwake() const;

    // After the last change, an on-demand view keeps drawing for at least
    // this many frames and milliseconds: a finished lasso needs a frame to be
    // captured and another to be built.
    static constexpr unsigned kAwakeFrames = 4;
    static constexpr int kAwakeMilliseconds = 400;
    static constexpr int kRestingPollMilliseconds = 15;

signals:
    // The Qt mouse or the two-mice mode was switched (Ctrl+C, Ctrl+T).
    void pointersSwitched();

public slots:
    void toggleCursor();
    void toggleTwomice();
    // Repaints at once (the framework reports a change).
    void mypaintGL();
    // Starts drawing frames again (on-demand mode); harmless otherwise.
    void wake();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

    bool event(QEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    // Zooms towards the pointer where the view allows zoom.
    void wheelEvent(QWheelEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    // The board posts a message when contacts wait; they are handed out
    // through the OnXY callbacks. Always false: the event goes on as usual.
    bool winEvent(QEvent* message);

private:
    void attachBoard();
    void buildVisualization();
    // Hands waiting touch or extra-mouse input to the framework; true when
    // any was there.
    bool drainPointers();
    void pollWhileResting();
    void restIfIdle();
    void pollTouch();
    void tuioPress();
    void tuioRelease();
    void tuioMove();
    // Creates the event, hands it over and deletes it: the framework keeps
    // no pointer to it.
    // `keyboard`: the Qt mouse, whose lasso modes come from its keys.
    // `source` names the device for the study's trial rows; the mouse is
    // the one with the keyboard.
    void send(uint32_t type, int id, double x, double y, VisComponent* component, bool keyboard = false,
              const char* source = "touch");
    // Hands every waiting TUIO item to the framework (a lasso needs them all
    // before the frame that draws it).
    void drainTouch();
    uint32_t pressType() const;
    uint32_t moveType() const;
    uint32_t releaseType() const;

    int viewWidth;
    int viewHeight;
    CSBSDK2* board = nullptr;        // never freed: attached for the whole run
    CSBSDKWnd* boardWindow = nullptr; // never freed

    uint32_t PRESS, DRAG, RELEASE, SCROLL, RELEASEICON;
    uint32_t SPLUS, SMINUS, SINT, SPLUSS, SMINUSS, SINTS, SPLUSE, SMINUSE, SINTE;
    uint32_t CYSPLUS, CYSMINUS, CYSINT, CYSPLUSS, CYSMINUSS, CYSINTS, CYSPLUSE, CYSMINUSE, CYSINTE;

    int keyMode = NoKey;
    int mouseButtonsDown = 0;
    KelvoVis* vis = nullptr;              // owned
    KelvoVisBuilder* builder = nullptr;   // never freed
    bool mouseEnabled = true;
    bool twoMiceEnabled = false;
    int sharedPressCount = 0;

    OmbraManager* events = nullptr;
    QTimer* repaintTimer = nullptr;
    bool onDemand = false;
    QTimer* restingPoll = nullptr;
    QElapsedTimer sinceWake;
    unsigned framesSinceWake = 0;
    unsigned long eventsSent = 0;
    bool painting = false;
    bool repainting = false; // inside mypaintGL's repaint()
    unsigned long framesPainted = 0;
    int minimumFrameMs = 0;
    bool pollingTouch = false; // inside pollTouch
    // A TUIO press over no component stays pending and is looked at again at
    // every event; it is counted once, and the count is taken back if the
    // press disappears without having been sent.
    bool tuioPressCounted = false;
    uint32_t countedX = 0, countedY = 0;
    int32_t countedId = 0;
};
