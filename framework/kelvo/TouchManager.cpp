#include "framework/kelvo/TouchManager.h"

#include "framework/kelvo/StudyManager.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cmath>

TouchManager* TouchManager::instance = nullptr;

namespace {

float Distance(int ax, int ay, int bx, int by)
{
    const float dx = static_cast<float>(ax - bx);
    const float dy = static_cast<float>(ay - by);
    return std::sqrt(dx * dx + dy * dy);
}

} // namespace

TouchManager* TouchManager::Instance()
{
    if (!instance) instance = new TouchManager();
    return instance;
}

void TouchManager::Destroy()
{
    delete instance;
    instance = nullptr;
}

TouchManager::TouchManager() = default;

TouchManager::~TouchManager()
{
    delete timer;
}

void TouchManager::setManager(KelvoVis* m)
{
    manager = m;
}

int64_t TouchManager::NowMs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void TouchManager::SetViewSize(int width, int height)
{
    viewWidth = width;
    viewHeight = height;
}

void TouchManager::SetScreenFrame(int width, int height, int left, int top)
{
    screenWidth = width;
    screenHeight = height;
    viewLeft = left;
    viewTop = top;
}

int TouchManager::ViewWidth() const
{
    return viewWidth > 0 ? viewWidth : StudyManager::Instance()->GetViewWidth();
}

int TouchManager::ViewHeight() const
{
    return viewHeight > 0 ? viewHeight : StudyManager::Instance()->GetViewHeight();
}

// ---- Board contacts --------------------------------------------------------

bool TouchManager::filteringEvents(int x, int y, int id)
{
    // The view asks this first about a pending press; asked again while the
    // press stays pending, it found no component there.
    if (shown && pressPending && !pressBeside && queue.front().kind == ItemKind::Press &&
        static_cast<uint32_t>(x) == touchX && static_cast<uint32_t>(y) == touchY)
        pressLooked = true;
    auto it = boardContacts.find(id);
    return it != boardContacts.end() && it->second.down;
}

bool TouchManager::filteringMoveEvents(int x, int y, int id)
{
    const Contact& c = boardContacts[id];
    if (c.hasLast && Distance(x, y, c.lastX, c.lastY) < kJitterPixels) return false;
    return true;
}

int32_t TouchManager::AssignBoardId(Contact& c)
{
    if (c.assigned >= 0) return c.assigned;
    int32_t candidate = 0;
    for (bool taken = true; taken; ) {
        taken = false;
        for (const auto& kv : boardContacts) {
            if (&kv.second != &c && kv.second.down && kv.second.assigned == candidate) {
                taken = true;
                ++candidate;
                break;
            }
        }
    }
    c.assigned = candidate;
    return candidate;
}

void TouchManager::TouchPressEvent(int x, int y, int id)
{
    Contact& c = boardContacts[id];
    AssignBoardId(c);
    c.down = true;
    c.hasLast = true;
    c.lastX = x;
    c.lastY = y;
    c.liftedAt = -1;
}

TouchPos TouchManager::TouchMoveEvent(int x, int y, int id)
{
    Contact& c = boardContacts[id];
    if (!c.down) {
        // Boards report the last position once more after the lift.
        if (c.liftedAt >= 0 && NowMs() - c.liftedAt <= kTrailMilliseconds &&
            Distance(x, y, c.liftX, c.liftY) <= kTrailPixels) {
            return TouchPos{-1.0f, -1.0f, c.assigned >= 0 ? c.assigned : id};
        }
        // A contact that began over no component: it gets its id now.
        AssignBoardId(c);
        c.down = true;
        c.liftedAt = -1;
    }
    c.hasLast = true;
    c.lastX = x;
    c.lastY = y;
    return TouchPos{static_cast<float>(x), static_cast<float>(y), c.assigned};
}

TouchPos TouchManager::TouchReleaseEvent(int x, int y, int id)
{
    Contact& c = boardContacts[id];
    // A lift without a known start still needs an id: the smallest free one.
    const int32_t assigned = AssignBoardId(c);
    c.down = false;
    c.hasLast = false;
    c.assigned = -1;
    c.liftedAt = NowMs();
    c.liftX = x;
    c.liftY = y;
    return TouchPos{static_cast<float>(x), static_cast<float>(y), assigned};
}

// ---- Mouse-like pointers ---------------------------------------------------

void TouchManager::MousePressEvent(int x, int y, int id)
{
    (void)x;
    (void)y;
    mouseDown[id] = true;
}

bool TouchManager::MouseMoveEvent(int x, int y, int id)
{
    auto it = mouseDown.find(id);
    const bool accepted = it != mouseDown.end() && it->second;
    if (!accepted && shown && movePending && queue.front().kind == ItemKind::Move && id == touchId &&
        static_cast<uint32_t>(x) == touchX && static_cast<uint32_t>(y) == touchY)
        moveRefused = true;
    return accepted;
}

bool TouchManager::MouseReleaseEvent(int x, int y, int id)
{
    (void)x;
    (void)y;
    auto it = mouseDown.find(id);
    if (it == mouseDown.end()) return false;
    const bool wasDown = it->second;
    mouseDown.erase(it);
    return wasDown;
}

// ---- TUIO contact ids ------------------------------------------------------

int32_t TouchManager::AcquireTuioId()
{
    int32_t id = 0;
    while (tuioIds.count(id)) ++id;
    tuioIds[id] = true;
    return id;
}

void TouchManager::ReleaseTuioId(int32_t id)
{
    tuioIds.erase(id);
}

// ---- Pending TUIO items ----------------------------------------------------

void TouchManager::QueuePress(uint32_t x, uint32_t y, int32_t id)
{
    queue.push_back(Item{ItemKind::Press, x, y, id});
    Advance();
}

void TouchManager::QueueMove(uint32_t x, uint32_t y, int32_t id)
{
    // Only the latest position of a run of moves matters to a rotation; merging
    // keeps a fast finger from piling up items the view takes one per event.
    if (mergeMoves && !queue.empty()) {
        Item& last = queue.back();
        const bool lastShown = shown && queue.size() == 1;
        if (last.kind == ItemKind::Move && last.id == id && (!lastShown || movePending)) {
            last.x = x;
            last.y = y;
            if (lastShown) {
                touchX = x;
                touchY = y;
                moveRefused = false;
            }
            Advance();
            return;
        }
    }
    queue.push_back(Item{ItemKind::Move, x, y, id});
    Advance();
}

void TouchManager::QueueRelease(uint32_t x, uint32_t y, int32_t id)
{
    queue.push_back(Item{ItemKind::Release, x, y, id});
    Advance();
}

void TouchManager::Bound()
{
    // A view that stops taking items (a release held back for good) must not
    // let the queue grow without end: moves go first, presses and releases stay.
    if (queue.size() <= kMaxQueued) return;
    const size_t keep = shown ? (pressBeside ? 2 : 1) : 0;
    for (size_t i = queue.size(); i-- > keep && queue.size() > kMaxQueued / 2;) {
        if (queue[i].kind == ItemKind::Move) queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void TouchManager::ClearPending()
{
    queue.clear();
    withdrawn.clear();
    shown = false;
    pressBeside = false;
    movePending = pressPending = releasePending = false;
    if (timer) timer->stop();
}

void TouchManager::Show()
{
    // Items of a contact whose press was withdrawn go nowhere; its release
    // (or a new press of the id) ends that.
    while (!queue.empty()) {
        const Item& f = queue.front();
        auto w = withdrawn.find(f.id);
        if (w == withdrawn.end()) break;
        if (f.kind == ItemKind::Press) {
            withdrawn.erase(w);
            break;
        }
        if (f.kind == ItemKind::Release) withdrawn.erase(w);
        queue.pop_front();
    }
    if (queue.empty()) return;
    const Item& f = queue.front();
    touchX = f.x;
    touchY = f.y;
    touchId = f.id;
    movePending = f.kind == ItemKind::Move;
    pressPending = f.kind == ItemKind::Press;
    releasePending = f.kind == ItemKind::Release;
    shown = true;
    pressBeside = false;
    shownAt = NowMs();
    shownTicks = 0;
    pressLooked = false;
    moveRefused = false;
}

void TouchManager::Pump()
{
    ++shownTicks;
    Advance();
}

void TouchManager::Advance()
{
    // Retire what the view has handled. The view only clears flags.
    if (shown && pressBeside) {
        if (!pressPending) {
            queue.erase(queue.begin() + 1);
            pressBeside = false;
        }
        if (!releasePending) {
            queue.pop_front();
            shown = false;
            if (pressBeside && pressPending) {
                // The press shown beside is the front now and stays shown.
                shown = true;
                shownAt = NowMs();
                shownTicks = 0;
                pressLooked = false;
            }
            pressBeside = false;
        }
    } else if (shown) {
        const ItemKind kind = queue.front().kind;
        const bool handled = (kind == ItemKind::Press && !pressPending) ||
                             (kind == ItemKind::Move && !movePending) ||
                             (kind == ItemKind::Release && !releasePending);
        if (handled) {
            queue.pop_front();
            shown = false;
        }
    }

    if (shown && !pressBeside && queue.size() > 1) {
        const Item front = queue.front();
        if (front.kind == ItemKind::Press && pressLooked) {
            // A press over nothing: the contact goes nowhere.
            withdrawn[front.id] = true;
            queue.pop_front();
            pressPending = false;
            shown = false;
        } else if (front.kind == ItemKind::Move && moveRefused) {
            queue.pop_front();
            movePending = false;
            shown = false;
        } else if (front.kind == ItemKind::Release && queue[1].kind == ItemKind::Press && shownTicks >= 3 &&
                   NowMs() - shownAt >= graceMs) {
            const Item& p = queue[1];
            touchX = p.x;
            touchY = p.y;
            touchId = p.id;
            pressPending = true;
            pressBeside = true;
        }
    }

    if (!shown) Show();
    Bound();
    StartTimerIfWaiting();
}

void TouchManager::StartTimerIfWaiting()
{
    // Only items waiting behind the shown one need the view's progress
    // noticed; a lone shown item is retired when the next one arrives.
    if (queue.size() <= 1) {
        if (timer) timer->stop();
        return;
    }
    if (!QCoreApplication::instance()) return;
    if (!timer) {
        timer = new QTimer();
        timer->setInterval(2);
        QObject::connect(timer, &QTimer::timeout, [this]() { Pump(); });
    }
    if (!timer->isActive()) timer->start();
}
