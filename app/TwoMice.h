#pragma once
// Two-mice input: each extra mouse keeps its own dot (position, colour) in
// the table below, and its presses, drags and releases become framework
// events with the device index as pointer id.
//
// The view calls manymouse_initials_setup() and init_mice() in its
// constructor, reset_mice() when the mode is switched on, drain_mice() from
// event() while the mode is on, and draw_mice() at the end of paintGL.
#include "framework/kelvo/ManyMouse.h"

#include <cstdint>

class OmbraManager;

struct Mouse {
    int32_t connected;
    int32_t x;          // view pixels, origin lower left
    int32_t y;
    int32_t red;
    int32_t green;
    int32_t blue;
    char name[64];
    int32_t buttonDown;
};

constexpr int kMaxMice = 20;
extern Mouse mice_real[kMaxMice];
extern int32_t available_micereal;

// Framework event-type identifiers the dispatcher sends.
struct MiceEventTypes {
    uint32_t press;
    uint32_t drag;
    uint32_t release;
};

void manymouse_initials_setup();
void init_mice();
void reset_mice();
bool update_mice(const ManyMouseEvent& event);
void draw_mice(int width, int height);
void draw_mouse(int width, int height, int index);

// Turns one event that update_mice let through into a framework event.
// sharedPressCount is the view's count of TUIO and extra-mouse presses; vis
// is the view's visualization (a KelvoVis).
void dispatch_mice_event(const ManyMouseEvent& event, int32_t& sharedPressCount, OmbraManager* vis,
                         const MiceEventTypes& types);
// Polls every pending event, applies it and dispatches those that go on.
// Returns how many device events were read.
int drain_mice(int32_t& sharedPressCount, OmbraManager* vis, const MiceEventTypes& types);
