#include "framework/kelvo/ManyMouse.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

// More devices than this are not opened; the view uses twenty at most.
const size_t kMaxDevices = 64;

struct Device {
    int fd = -1;
    std::string name;
    std::string partial;       // bytes of an incomplete record
    int dx = 0, dy = 0;        // relative motion of the report being read
    bool dropping = false;     // after SYN_DROPPED, until the next SYN_REPORT
    int absMin[2] = {0, 0};
    int absMax[2] = {0, 0};
};

std::vector<Device> devices;
std::deque<ManyMouseEvent> events;

bool TestBit(const unsigned char* bits, int bit)
{
    return (bits[bit / 8] >> (bit % 8)) & 1;
}

// Whether fd is a device with relative X and Y axes; ioctls fail on plain
// files and pipes, which are taken only when named explicitly.
bool IsMouse(int fd)
{
    unsigned char rel[REL_CNT / 8 + 1] = {};
    if (ioctl(fd, EVIOCGBIT(EV_REL, sizeof rel), rel) < 0) return false;
    return TestBit(rel, REL_X) && TestBit(rel, REL_Y);
}

void Describe(Device& d, const std::string& path)
{
    char text[256] = {};
    if (ioctl(d.fd, EVIOCGNAME(sizeof text - 1), text) >= 0 && text[0]) d.name = text;
    else d.name = path;
    for (int axis = 0; axis < 2; ++axis) {
        input_absinfo info{};
        if (ioctl(d.fd, EVIOCGABS(axis == 0 ? ABS_X : ABS_Y), &info) == 0) {
            d.absMin[axis] = info.minimum;
            d.absMax[axis] = info.maximum;
        }
    }
}

bool Open(const std::string& path, bool mustBeMouse)
{
    if (devices.size() >= kMaxDevices) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (mustBeMouse && !IsMouse(fd)) {
        ::close(fd);
        return false;
    }
    Device d;
    d.fd = fd;
    Describe(d, path);
    devices.push_back(d);
    return true;
}

unsigned EventNumber(const std::string& name)
{
    return static_cast<unsigned>(std::strtoul(name.c_str() + 5, nullptr, 10));
}

int Scan(const std::string& dir)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d) return -1;
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        if (std::strncmp(e->d_name, "event", 5) == 0) names.push_back(e->d_name);
    }
    ::closedir(d);
    // event2 before event10: the kernel's numbering is the plugging order.
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return EventNumber(a) < EventNumber(b); });
    for (const std::string& n : names) Open(dir + "/" + n, true);
    return static_cast<int>(devices.size());
}

// A broken stream may carry any values; the sum saturates instead of
// overflowing.
int Accumulate(int sum, int delta)
{
    const long long v = static_cast<long long>(sum) + delta;
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

void Push(ManyMouseEventType type, unsigned device, unsigned item, int value, int minval = 0, int maxval = 0)
{
    events.push_back(ManyMouseEvent{type, device, item, value, minval, maxval});
}

void FlushMotion(Device& d, unsigned index)
{
    if (d.dx) Push(MANYMOUSE_EVENT_RELMOTION, index, 0, d.dx);
    if (d.dy) Push(MANYMOUSE_EVENT_RELMOTION, index, 1, d.dy);
    d.dx = d.dy = 0;
}

void Record(Device& d, unsigned index, const input_event& ev)
{
    if (ev.type == EV_SYN) {
        if (ev.code == SYN_DROPPED) {
            d.dropping = true;
            d.dx = d.dy = 0;
        } else if (ev.code == SYN_REPORT) {
            if (!d.dropping) FlushMotion(d, index);
            d.dropping = false;
        }
        return;
    }
    if (d.dropping) return;
    if (ev.type == EV_REL) {
        if (ev.code == REL_X) d.dx = Accumulate(d.dx, ev.value);
        else if (ev.code == REL_Y) d.dy = Accumulate(d.dy, ev.value);
        else if (ev.code == REL_WHEEL) Push(MANYMOUSE_EVENT_SCROLL, index, 0, ev.value);
        else if (ev.code == REL_HWHEEL) Push(MANYMOUSE_EVENT_SCROLL, index, 1, ev.value);
    } else if (ev.type == EV_KEY && ev.code >= BTN_MOUSE && ev.code < BTN_MOUSE + 16) {
        if (ev.value != 0 && ev.value != 1) return; // key repeat
        // Motion read before the button happened before it.
        FlushMotion(d, index);
        Push(MANYMOUSE_EVENT_BUTTON, index, ev.code - BTN_MOUSE, ev.value);
    } else if (ev.type == EV_ABS && (ev.code == ABS_X || ev.code == ABS_Y)) {
        const int axis = ev.code == ABS_X ? 0 : 1;
        Push(MANYMOUSE_EVENT_ABSMOTION, index, axis, ev.value, d.absMin[axis], d.absMax[axis]);
    }
}

void Disconnect(Device& d, unsigned index)
{
    ::close(d.fd);
    d.fd = -1;
    d.partial.clear();
    Push(MANYMOUSE_EVENT_DISCONNECT, index, 0, 0);
}

void ReadDevice(Device& d, unsigned index)
{
    char buf[32 * sizeof(input_event)];
    // Bounded: a device that keeps sending is read again at the next poll.
    for (int round = 0; round < 16 && d.fd >= 0; ++round) {
        const ssize_t got = ::read(d.fd, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (got <= 0) {
            Disconnect(d, index);
            return;
        }
        d.partial.append(buf, static_cast<size_t>(got));
        size_t pos = 0;
        while (d.partial.size() - pos >= sizeof(input_event)) {
            input_event ev;
            std::memcpy(&ev, d.partial.data() + pos, sizeof ev);
            pos += sizeof ev;
            Record(d, index, ev);
        }
        d.partial.erase(0, pos);
    }
}

} // namespace

int ManyMouse_Init(void)
{
    ManyMouse_Quit();
    const char* list = std::getenv("TRELLAN_MICE");
    if (list && *list) {
        std::string all = list;
        size_t start = 0;
        while (start <= all.size()) {
            const size_t end = std::min(all.find(':', start), all.size());
            const std::string path = all.substr(start, end - start);
            if (!path.empty()) Open(path, false);
            start = end + 1;
        }
        return static_cast<int>(devices.size());
    }
    const char* dir = std::getenv("TRELLAN_MICE_DIR");
    return Scan(dir && *dir ? dir : "/dev/input");
}

const char* ManyMouse_DeviceName(unsigned int index)
{
    if (index >= devices.size()) return nullptr;
    return devices[index].name.c_str();
}

int ManyMouse_PollEvent(ManyMouseEvent* event)
{
    if (events.empty()) {
        for (size_t i = 0; i < devices.size(); ++i) {
            if (devices[i].fd >= 0) ReadDevice(devices[i], static_cast<unsigned>(i));
        }
    }
    if (events.empty()) return 0;
    if (event) *event = events.front();
    events.pop_front();
    return 1;
}

void ManyMouse_Quit(void)
{
    for (Device& d : devices) {
        if (d.fd >= 0) ::close(d.fd);
    }
    devices.clear();
    events.clear();
}
