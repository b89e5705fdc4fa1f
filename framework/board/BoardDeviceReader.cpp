#include "framework/board/BoardDeviceReader.h"

#include <cerrno>
#include <cstring>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

bool TestBit(const unsigned char* bits, int bit)
{
    return (bits[bit / 8] >> (bit % 8)) & 1;
}

} // namespace

bool BoardDeviceReader::ReadFrom(int fd, std::vector<BoardContact>& out)
{
    char buf[64 * sizeof(input_event)];
    // Bounded: a device that never runs dry is read again at the next wake-up.
    for (int round = 0; round < 64; ++round) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got > 0) {
            Feed(buf, static_cast<size_t>(got), out);
            continue;
        }
        if (got == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    return true;
}

void BoardDeviceReader::Feed(const char* data, size_t size, std::vector<BoardContact>& out)
{
    partial.append(data, size);
    size_t pos = 0;
    while (partial.size() - pos >= sizeof(input_event)) {
        input_event ev;
        std::memcpy(&ev, partial.data() + pos, sizeof ev);
        pos += sizeof ev;
        Record(ev.type, ev.code, ev.value, out);
    }
    partial.erase(0, pos);
}

void BoardDeviceReader::Record(uint16_t type, uint16_t code, int32_t value, std::vector<BoardContact>& out)
{
    if (type == EV_SYN) {
        if (code == SYN_DROPPED) {
            // The kernel lost events: this report is unusable, wait for the next.
            dropping = true;
        } else if (code == SYN_REPORT) {
            if (dropping) {
                for (int i = 0; i < kSlots; ++i) staged[i] = reported[i];
                dropping = false;
            } else {
                Apply(out);
            }
        }
        return;
    }
    if (dropping) return;
    if (type == EV_KEY && code == BTN_TOUCH && !multitouch) {
        // Single-touch boards: one contact in slot 0, down while touched.
        staged[0].tracking = value ? 0 : -1;
        return;
    }
    if (type != EV_ABS) return;
    switch (code) {
    case ABS_MT_SLOT:
        multitouch = true;
        current = (value >= 0 && value < kSlots) ? value : -1;
        return;
    case ABS_X:
        if (!multitouch) staged[0].x = value;
        return;
    case ABS_Y:
        if (!multitouch) staged[0].y = value;
        return;
    default:
        break;
    }
    if (code < ABS_MT_SLOT || code > ABS_MT_TOOL_Y) return;
    multitouch = true;
    if (current < 0) return; // a slot we do not track
    Slot& s = staged[current];
    switch (code) {
    case ABS_MT_TRACKING_ID: s.tracking = value < 0 ? -1 : value; break;
    case ABS_MT_POSITION_X: s.x = value; break;
    case ABS_MT_POSITION_Y: s.y = value; break;
    case ABS_MT_PRESSURE: s.z = value; break;
    case ABS_MT_TOOL_TYPE: s.tool = value; break;
    default: break;
    }
}

void BoardDeviceReader::Apply(std::vector<BoardContact>& out)
{
    for (int i = 0; i < kSlots; ++i) {
        const Slot& was = reported[i];
        const Slot& now = staged[i];
        const bool wasDown = was.tracking >= 0;
        const bool isDown = now.tracking >= 0;
        const int pointer = ((i & 1) << 8) | (now.tool == MT_TOOL_PEN ? 1 : 0);
        const int wasPointer = ((i & 1) << 8) | (was.tool == MT_TOOL_PEN ? 1 : 0);
        if (wasDown && (!isDown || now.tracking != was.tracking)) {
            out.push_back(BoardContact{BoardContact::Up, was.x, was.y, was.z, wasPointer});
        }
        if (isDown && (!wasDown || now.tracking != was.tracking)) {
            out.push_back(BoardContact{BoardContact::Down, now.x, now.y, now.z, pointer});
        } else if (isDown && (now.x != was.x || now.y != was.y)) {
            out.push_back(BoardContact{BoardContact::Move, now.x, now.y, now.z, pointer});
        }
        reported[i] = now;
    }
}

void BoardDeviceReader::ReleaseAll(std::vector<BoardContact>& out)
{
    for (int i = 0; i < kSlots; ++i) {
        if (reported[i].tracking < 0) continue;
        const int pointer = ((i & 1) << 8) | (reported[i].tool == MT_TOOL_PEN ? 1 : 0);
        out.push_back(BoardContact{BoardContact::Up, reported[i].x, reported[i].y, reported[i].z, pointer});
        reported[i].tracking = -1;
        staged[i] = reported[i];
    }
}

bool BoardDeviceReader::Probe(int fd)
{
    unsigned char absBits[ABS_CNT / 8 + 1] = {};
    unsigned char propBits[INPUT_PROP_CNT / 8 + 1] = {};
    if (ioctl(fd, EVIOCGBIT(EV_ABS, sizeof absBits), absBits) < 0) return false;
    if (ioctl(fd, EVIOCGPROP(sizeof propBits), propBits) < 0) return false;
    if (!TestBit(absBits, ABS_MT_POSITION_X) || !TestBit(propBits, INPUT_PROP_DIRECT)) return false;
    input_absinfo ax{}, ay{};
    if (ioctl(fd, EVIOCGABS(ABS_MT_POSITION_X), &ax) == 0 && ioctl(fd, EVIOCGABS(ABS_MT_POSITION_Y), &ay) == 0 &&
        ax.maximum > ax.minimum && ay.maximum > ay.minimum) {
        minX = ax.minimum;
        maxX = ax.maximum;
        minY = ay.minimum;
        maxY = ay.maximum;
    }
    char text[256] = {};
    if (ioctl(fd, EVIOCGNAME(sizeof text - 1), text) >= 0) name = text;
    return true;
}
