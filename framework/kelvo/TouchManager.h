#pragma once
// TouchManager: where every pointer contact (Qt mouse, TUIO finger, board pen,
// extra mouse) is filtered and given a small contact id before it becomes a
// framework event.
//
// Two jobs:
//  1. Contact tracking for the callers that deliver contacts themselves (the
//     view's mouse paths, the board callbacks, the extra mice): duplicate
//     presses, jitter on moves, trailing moves after a lift, and the small
//     contact ids (0, 1, ...) the gestures see.
//  2. The pending TUIO item. TUIO contacts arrive from the receiver in
//     bursts; the view picks them up one at a time from the public fields
//     below and clears the flag it handled. Items wait in arrival order, the
//     oldest one is the one shown, and the next one is shown once the view has
//     cleared the flag of the current one. Nothing here is locked: the
//     receiver and the view both run on the GUI thread.
//
// Positions are view pixels with the origin at the lower left.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>

class KelvoVis;
class QTimer;

struct TouchPos {
    float x;
    float y;
    int32_t id;
};

class TouchManager {
public:
    // The pending TUIO item, read and cleared by the view directly.
    uint32_t touchX = 0;
    uint32_t touchY = 0;
    int32_t touchId = 0;
    bool movePending = false;
    bool pressPending = false;
    bool releasePending = false;

    static TouchManager* Instance();
    static void Destroy();

    void setManager(KelvoVis* manager);
    KelvoVis* getManager() const { return manager; }

    // True when a press of contact `id` is a duplicate of one already down,
    // so the caller treats it as a move. Changes no contact; asked about the
    // pending TUIO press, it notes that the view has examined that press.
    bool filteringEvents(int x, int y, int id);
    // False when a move of contact `id` is jitter: closer than
    // kJitterPixels to the last position let through for that contact.
    bool filteringMoveEvents(int x, int y, int id);

    // Mouse-like pointers (Qt mouse, TUIO contacts, extra mice), id = pointer.
    void MousePressEvent(int x, int y, int id);
    // False when pointer `id` has no accepted press (nothing to drag).
    bool MouseMoveEvent(int x, int y, int id);
    // False when pointer `id` has no accepted press (nothing to release).
    bool MouseReleaseEvent(int x, int y, int id);

    // Board contacts, `id` = the board's pointer bit. The returned id is the
    // contact id the gestures see: the smallest one free when the contact
    // began, so 0 or 1 while at most two contacts are down.
    void TouchPressEvent(int x, int y, int id);
    // (-1, -1, id) for a trailing move right after the contact lifted.
    TouchPos TouchMoveEvent(int x, int y, int id);
    TouchPos TouchReleaseEvent(int x, int y, int id);

    // Size of the view in pixels; TUIO positions are scaled to it. Until the
    // view sets it, the study framework's view size is used.
    void SetViewSize(int width, int height);
    int ViewWidth() const;
    int ViewHeight() const;
    // Where the view lies on its screen: the screen's size and the view's
    // top left corner from the screen's, in pixels. TUIO positions are
    // fractions of the whole touch surface, the screen, once it is set.
    void SetScreenFrame(int screenWidth, int screenHeight, int viewLeft, int viewTop);
    bool HasScreenFrame() const { return screenWidth > 0 && screenHeight > 0; }
    int ScreenWidth() const { return screenWidth; }
    int ScreenHeight() const { return screenHeight; }
    int ViewLeft() const { return viewLeft; }
    int ViewTop() const { return viewTop; }

    // Queue of TUIO items, fed by the TUIO receiver (view pixels, origin
    // lower left). Consecutive moves of one contact are merged into the
    // latest position while SetMergeMoves allows it; presses and releases are never merged or dropped
    // (except as described at Pump).
    enum class ItemKind { Press, Move, Release };
    struct Item {
        ItemKind kind;
        uint32_t x;
        uint32_t y;
        int32_t id;
    };
    // Moves are merged only while this is on (touch strokes rotate); a
    // lasso needs every sample.
    void SetMergeMoves(bool merge) { mergeMoves = merge; }
    bool MergesMoves() const { return mergeMoves; }
    void QueuePress(uint32_t x, uint32_t y, int32_t id);
    void QueueMove(uint32_t x, uint32_t y, int32_t id);
    void QueueRelease(uint32_t x, uint32_t y, int32_t id);

    // Retires the shown item once the view cleared its flag and shows the
    // next. The queue calls run it themselves; a timer runs it while items
    // wait, so the view only ever clears flags.
    // An item the view keeps back while others wait is resolved so that it
    // cannot block them:
    //  - a press the view looked at (it calls filteringEvents with the
    //    pending position first) and left pending found no component: it is
    //    withdrawn, with the later items of that contact;
    //  - a move MouseMoveEvent refused is dropped;
    //  - a release the view holds back (no press counted) gives no sign, so
    //    after the grace period and three turns of the event loop the next
    //    queued press is shown beside it; the view counts that press and then
    //    lets the release go, with the values of that moment.
    // Beyond kMaxQueued items, waiting moves are dropped.
    void Pump();
    void SetGraceMilliseconds(int ms) { graceMs = ms; }
    // Items waiting, the shown one included.
    size_t PendingCount() const { return queue.size(); }
    // Drops every item and clears the flags.
    void ClearPending();

    // Smallest TUIO contact id not in use; Release frees it.
    int32_t AcquireTuioId();
    void ReleaseTuioId(int32_t id);

    static constexpr float kJitterPixels = 1.5f;
    // A move this close to a lift, this soon after it, belongs to that lift.
    static constexpr float kTrailPixels = 12.0f;
    static constexpr int kTrailMilliseconds = 80;
    static constexpr size_t kMaxQueued = 1024;

private:
    TouchManager();
    ~TouchManager();
    TouchManager(const TouchManager&) = delete;
    TouchManager& operator=(const TouchManager&) = delete;

    struct Contact {
        bool down = false;
        bool hasLast = false;     // lastX/lastY hold a position of this contact
        int lastX = 0, lastY = 0; // last position let through
        int32_t assigned = -1;    // contact id the gestures see
        int64_t liftedAt = -1;    // ms of the last lift, -1 none
        int liftX = 0, liftY = 0;
    };

    void Show();
    void Bound();
    void Advance();
    void StartTimerIfWaiting();
    int32_t AssignBoardId(Contact& c);
    int64_t NowMs() const;

    static TouchManager* instance;

    KelvoVis* manager = nullptr;
    int viewWidth = 0;
    int viewHeight = 0;
    int screenWidth = 0, screenHeight = 0, viewLeft = 0, viewTop = 0;

    std::map<int, Contact> boardContacts;
    std::map<int, bool> mouseDown;
    std::map<int32_t, bool> tuioIds;

    std::deque<Item> queue;
    bool shown = false;          // queue.front() is on the flags
    bool pressBeside = false;    // queue[1] (a press) shown beside a held release
    int64_t shownAt = 0;
    int shownTicks = 0;          // Pump calls from outside since shown
    bool pressLooked = false;    // the view examined the shown press
    bool moveRefused = false;    // MouseMoveEvent refused the shown move
    int graceMs = 200;
    bool mergeMoves = true;
    std::map<int32_t, bool> withdrawn; // TUIO contacts whose press was withdrawn
    QTimer* timer = nullptr;
};
