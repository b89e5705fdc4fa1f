#include "app/TwoMice.h"

#include "framework/kelvo/TouchManager.h"
#include "framework/ombra/OmbraManager.h"
#include "framework/ombra/VisComponent.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

Mouse mice_real[kMaxMice];
int32_t available_micereal = 0;

namespace {

const float kDotSize = 7.0f;

// 0 to 254. The generator's range is RAND_MAX + 1 values, which here is far
// more than 32768; scaling by that range keeps every colour in a byte.
int ColourComponent()
{
    return static_cast<int>(std::rand() * 255.0 / (static_cast<double>(RAND_MAX) + 1.0));
}

} // namespace

void manymouse_initials_setup()
{
    std::memset(mice_real, 0, sizeof mice_real);
    for (Mouse& m : mice_real) {
        m.x = 0;
        m.y = 0;
        m.red = ColourComponent();
        m.green = ColourComponent();
        m.blue = ColourComponent();
    }
}

void init_mice()
{
    available_micereal = ManyMouse_Init();
    if (available_micereal > kMaxMice) available_micereal = kMaxMice;
    if (available_micereal == 0) {
        std::printf("No mice detected!\n");
        return;
    }
    for (int i = 0; i < available_micereal; ++i) {
        const char* name = ManyMouse_DeviceName(static_cast<unsigned>(i));
        std::strncpy(mice_real[i].name, name ? name : "", sizeof mice_real[i].name);
        mice_real[i].name[sizeof mice_real[i].name - 1] = '\0';
        mice_real[i].connected = 1;
        std::printf("#%d: %s\n", i, mice_real[i].name);
    }
}

void reset_mice()
{
    ManyMouseEvent discarded;
    // Bounded: a device that floods the queue cannot hold the view here.
    for (int n = 0; n < 100000 && ManyMouse_PollEvent(&discarded); ++n) {
    }
    for (Mouse& m : mice_real) {
        m.x = 0;
        m.y = 0;
    }
}

// Positions are clamped only when drawn; a runaway device must not overflow
// them before that.
static int32_t Saturate(long long v)
{
    return static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

// The bound for device indices. ManyMouse_Init answers -1 when input cannot
// be read at all; as an unsigned bound that would let every index through.
static unsigned DeviceBound()
{
    return static_cast<unsigned>(std::clamp(available_micereal, 0, kMaxMice));
}

bool update_mice(const ManyMouseEvent& event)
{
    if (event.device >= DeviceBound()) return false;
    Mouse& m = mice_real[event.device];
    if (event.type == MANYMOUSE_EVENT_RELMOTION) {
        // Devices count y downward, the view upward.
        if (event.item == 0) m.x = Saturate(static_cast<long long>(m.x) + event.value);
        else if (event.item == 1) m.y = Saturate(static_cast<long long>(m.y) - event.value);
        return m.buttonDown != 0;
    }
    if (event.type == MANYMOUSE_EVENT_BUTTON) {
        if (event.value == 1) m.buttonDown = 1;
        else if (event.value == 0) m.buttonDown = 0;
        return true;
    }
    return true;
}

void draw_mouse(int width, int height, int index)
{
    Mouse& m = mice_real[index];
    m.x = std::clamp(m.x, 0, std::max(0, width - 1));
    m.y = std::clamp(m.y, 0, std::max(0, height - 1));
    glPointSize(kDotSize);
    glColor3ub(static_cast<GLubyte>(m.red), static_cast<GLubyte>(m.green), static_cast<GLubyte>(m.blue));
    glBegin(GL_POINTS);
    glVertex2i(m.x, m.y);
    glEnd();
    glFlush();
}

void draw_mice(int width, int height)
{
    for (int i = 0; i < available_micereal && i < kMaxMice; ++i) {
        if (mice_real[i].connected) draw_mouse(width, height, i);
    }
}

void dispatch_mice_event(const ManyMouseEvent& event, int32_t& sharedPressCount, OmbraManager* vis,
                         const MiceEventTypes& types)
{
    const unsigned device = event.device;
    const bool known = device < DeviceBound();
    const int x = known ? mice_real[device].x : 0;
    const int y = known ? mice_real[device].y : 0;
    const int id = static_cast<int>(device);
    TouchManager* touch = TouchManager::Instance();

    if (event.type == MANYMOUSE_EVENT_BUTTON && event.value == 1) {
        sharedPressCount += 1;
        if (!known) return;
        touch->filteringEvents(x, y, 0);
        VisComponent* component = vis->getComponentAt(x, y, true);
        if (!component) return;
        component->onHit();
        touch->MousePressEvent(x, y, id);
        vis->deliver(types.press, id, x, y, component);
    } else if (event.type == MANYMOUSE_EVENT_BUTTON && event.value == 0) {
        if (sharedPressCount == 0) return;
        sharedPressCount -= 1;
        if (!known) return;
        if (!touch->MouseReleaseEvent(x, y, id)) return;
        if (VisComponent* component = vis->getComponentAt(x, y, true)) vis->addToUpdateList(component->getId());
        vis->deliver(types.release, id, x, y, nullptr);
    } else if (sharedPressCount != 0 && event.type == MANYMOUSE_EVENT_RELMOTION) {
        if (!known) return;
        if (!touch->MouseMoveEvent(x, y, id)) return;
        vis->deliver(types.drag, id, x, y, nullptr);
    }
}

int drain_mice(int32_t& sharedPressCount, OmbraManager* vis, const MiceEventTypes& types)
{
    ManyMouseEvent event;
    // Bounded like reset_mice; what is left waits for the next view event.
    int n = 0;
    for (; n < 100000 && ManyMouse_PollEvent(&event); ++n) {
        if (update_mice(event)) dispatch_mice_event(event, sharedPressCount, vis, types);
    }
    return n;
}
