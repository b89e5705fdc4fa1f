#pragma once
// BoardDeviceReader: turns a Linux multitouch input-event stream (type B:
// slots and tracking ids) into board contacts.
//
// In: raw `struct input_event` records from any file descriptor (a device
// node, or a pipe in tests), read without blocking; records are collected
// until SYN_REPORT and then applied together. SYN_DROPPED discards everything
// up to the next SYN_REPORT. A short trailing record waits for its remaining
// bytes. Out: Contact records, in board units, in the order of the slots that
// changed within each report.
//
// Boards that report a single contact (ABS_X, ABS_Y, BTN_TOUCH, no slots)
// are read as one contact in slot 0.
//
// pointer: bit 8 is the slot parity. The kernel gives the first contact slot
// 0 and a second simultaneous one slot 1, so two fingers (or pen and finger)
// get pointers 0x000 and 0x100. The low byte is 1 for a pen tool, else 0.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct BoardContact {
    enum Kind { Down, Move, Up };
    Kind kind;
    int x;        // board units
    int y;
    int z;        // pressure, 0 when the board has none
    int pointer;
};

class BoardDeviceReader {
public:
    static constexpr int kSlots = 16;

    BoardDeviceReader() = default;

    // Reads everything available on fd. Returns false at end of file or on a
    // read error other than "try again" (the device went away).
    bool ReadFrom(int fd, std::vector<BoardContact>& out);
    // Feeds raw bytes (for callers that read themselves).
    void Feed(const char* data, size_t size, std::vector<BoardContact>& out);
    // Lifts every contact that is down (the device went away).
    void ReleaseAll(std::vector<BoardContact>& out);

    // Board coordinate ranges; read from the device by Probe, defaults 0..32767.
    int minX = 0, maxX = 32767, minY = 0, maxY = 32767;

    // Whether fd is a direct multitouch device (ABS_MT_POSITION_X and
    // INPUT_PROP_DIRECT); also fills the ranges and the name.
    bool Probe(int fd);
    std::string name;

private:
    struct Slot {
        int tracking = -1; // -1: no contact
        int x = 0, y = 0, z = 0;
        int tool = 0;
    };
    void Apply(std::vector<BoardContact>& out);
    void Record(uint16_t type, uint16_t code, int32_t value, std::vector<BoardContact>& out);

    Slot reported[kSlots];  // as of the last report
    Slot staged[kSlots]; // the report being read
    int current = 0;
    bool dropping = false;
    bool multitouch = false;
    std::string partial;
};
