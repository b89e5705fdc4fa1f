#pragma once
// Several mice read separately, each as its own device.
//
// ManyMouse_Init opens every Linux input device with relative X and Y axes
// (/dev/input/event*, non-blocking) and returns how many it opened, or -1 when
// the input directory cannot be read. TRELLAN_MICE="path1:path2" names the
// devices instead (any readable file: a FIFO or pipe in tests), and
// TRELLAN_MICE_DIR replaces /dev/input. ManyMouse_PollEvent never waits: it
// returns 1 with the next event, or 0 when none is ready. Each device is read
// separately, motions are reported per SYN_REPORT, buttons as they come, and
// a device that fails or reaches end of file is reported once as
// disconnected and then closed. Malformed records are skipped.
// Everything runs on the thread that calls these functions.

enum ManyMouseEventType {
    MANYMOUSE_EVENT_ABSMOTION = 0,
    MANYMOUSE_EVENT_RELMOTION = 1,
    MANYMOUSE_EVENT_BUTTON = 2,
    MANYMOUSE_EVENT_SCROLL = 3,
    MANYMOUSE_EVENT_DISCONNECT = 4,
    MANYMOUSE_EVENT_MAX
};

struct ManyMouseEvent {
    ManyMouseEventType type;
    unsigned int device; // index in the order of ManyMouse_Init
    unsigned int item;   // motion: axis 0 x, 1 y; button: 0 left, 1 right, 2 middle...; scroll: 0 vertical, 1 horizontal
    int value;           // motion: delta or position; button: 1 down, 0 up; scroll: +1 away from the user
    int minval;          // absolute motion: range of the axis
    int maxval;
};

int ManyMouse_Init(void);
const char* ManyMouse_DeviceName(unsigned int index);
int ManyMouse_PollEvent(ManyMouseEvent* event);
void ManyMouse_Quit(void);
