#pragma once
// Kernel input events as the evdev readers receive them, for tests that feed
// recorded streams through a pipe in place of a device.
#include <linux/input.h>

#include <cstdint>
#include <string>
#include <vector>

// Appends one struct input_event {type, code, value} (time zero) to out.
inline void AppendInputEvent(std::string& out, int type, int code, int value)
{
    input_event ev{};
    ev.type = static_cast<uint16_t>(type);
    ev.code = static_cast<uint16_t>(code);
    ev.value = value;
    out.append(reinterpret_cast<const char*>(&ev), sizeof ev);
}

// The bytes of a list of {type, code, value} events.
inline std::string InputEventBytes(const std::vector<std::vector<int>>& events)
{
    std::string bytes;
    for (const std::vector<int>& e : events) AppendInputEvent(bytes, e[0], e[1], e[2]);
    return bytes;
}
