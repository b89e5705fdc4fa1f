#include "framework/tuio/TuioReceiver.h"

#include "framework/kelvo/TouchManager.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <lo/lo.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

namespace {

const char kCursorPath[] = "/tuio/2Dcur";
// Deep nesting is legal but never sent by trackers; the bound keeps a hostile
// packet from recursing without end.
const int kMaxBundleDepth = 8;
// More datagrams than this in one wake-up wait for the next one, so that a
// flood cannot starve the view.
const int kMaxDatagramsPerWake = 256;
// A jump back by more than this many frames is a restarted tracker, not a late
// packet.
const int64_t kRestartGap = 100;

// Arguments lie in the decoded message 4-byte aligned, which is less than the
// argument union asks for: their bytes are copied out instead of read through
// it.
bool ReadInt(char type, const lo_arg* arg, int64_t& out)
{
    const char* bytes = reinterpret_cast<const char*>(arg);
    if (type == LO_INT32) {
        int32_t v;
        std::memcpy(&v, bytes, sizeof v);
        out = v;
    } else if (type == LO_INT64) {
        int64_t v;
        std::memcpy(&v, bytes, sizeof v);
        out = v;
    } else {
        return false;
    }
    return true;
}

bool ReadFloat(char type, const lo_arg* arg, float& out)
{
    const char* bytes = reinterpret_cast<const char*>(arg);
    if (type == LO_FLOAT) {
        std::memcpy(&out, bytes, sizeof out);
    } else if (type == LO_DOUBLE) {
        double v;
        std::memcpy(&v, bytes, sizeof v);
        out = static_cast<float>(v);
    } else {
        return false;
    }
    return std::isfinite(out);
}

} // namespace

void TuioReceiver::MessageDeleter::operator()(void* m) const
{
    lo_message_free(static_cast<lo_message>(m));
}

TuioReceiver::TuioReceiver(QObject* parent) : QObject(parent)
{
    const char* frame = std::getenv("TRELLAN_TUIO_FRAME");
    if (frame && *frame) {
        const std::string f(frame);
        if (f == "window") screenFrame = false;
        else if (f != "screen")
            std::printf("TUIO: TRELLAN_TUIO_FRAME is '%s', not screen or window; positions are taken on the screen\n",
                        frame);
    }
    // liblo splits bundles only inside a server, and a server owns a UDP
    // socket. Ours never reads it: connected to itself, it takes nothing from
    // other senders, while datagrams come in through our own socket on the
    // address the user chose.
    decoder = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    if (decoder) {
        sockaddr_in self{};
        socklen_t len = sizeof self;
        const int dfd = lo_server_get_socket_fd(decoder);
        if (::getsockname(dfd, reinterpret_cast<sockaddr*>(&self), &len) == 0) {
            self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::connect(dfd, reinterpret_cast<sockaddr*>(&self), sizeof self);
        }
        // Bundles apply at once whatever their time tag, as trackers mean them.
        lo_server_enable_queue(decoder, 0, 1);
        lo_server_add_method(decoder, nullptr, nullptr, &TuioReceiver::OnMessage, this);
        lo_server_add_bundle_handlers(decoder, &TuioReceiver::OnBundleStart, &TuioReceiver::OnBundleEnd, this);
    } else {
        std::printf("TUIO: no OSC decoder (%s); touch input is off\n", std::strerror(errno));
    }
}

TuioReceiver::~TuioReceiver()
{
    delete notifier;
    if (fd >= 0) ::close(fd);
    if (decoder) lo_server_free(decoder);
    // Contacts still down end with the receiver.
    for (auto& kv : cursors) TouchManager::Instance()->ReleaseTuioId(kv.second.contact);
}

bool TuioReceiver::Listen(int p, const char* address)
{
    if (!address) address = std::getenv("TRELLAN_TUIO_ADDRESS");
    if (!address || !*address) address = "127.0.0.1";
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(p));
    if (p <= 0 || p > 65535 || inet_pton(AF_INET, address, &sa.sin_addr) != 1) {
        std::printf("TUIO: cannot listen on %s port %d: bad address or port; touch input is off\n", address, p);
        return false;
    }
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        std::printf("TUIO: cannot listen on %s UDP port %d (%s); touch input is off\n", address, p,
                    std::strerror(errno));
        if (s >= 0) ::close(s);
        return false;
    }
    fd = s;
    port = p;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this]() { ReadPending(); });
    return true;
}

void TuioReceiver::ReadPending()
{
    std::vector<char> buf(65536);
    for (int n = 0; n < kMaxDatagramsPerWake; ++n) {
        const ssize_t got = ::recv(fd, buf.data(), buf.size(), MSG_TRUNC);
        if (got < 0) break; // EAGAIN: nothing more; other errors: try at the next wake-up
        if (static_cast<size_t>(got) > buf.size()) {
            ++dropped; // larger than any datagram we accept: cut off
            continue;
        }
        ProcessDatagram(buf.data(), static_cast<size_t>(got));
    }
}

int TuioReceiver::OnMessage(const char* path, const char*, lo_arg**, int, lo_message m, void* self)
{
    auto* r = static_cast<TuioReceiver*>(self);
    // liblo accepts any address; OSC wants a path.
    if (!path || path[0] != '/') r->decodeFailed = true;
    if (r->decodeFailed) return 0;
    lo_message_incref(m);
    r->decoded.push_back({path, Message(m)});
    return 0;
}

int TuioReceiver::OnBundleStart(lo_timetag, void* self)
{
    auto* r = static_cast<TuioReceiver*>(self);
    if (++r->bundleDepth > kMaxBundleDepth) r->decodeFailed = true;
    return 0;
}

int TuioReceiver::OnBundleEnd(void* self)
{
    --static_cast<TuioReceiver*>(self)->bundleDepth;
    return 0;
}

bool TuioReceiver::ProcessDatagram(const char* data, size_t size)
{
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    pauseBeforeDatagramMs = lastDatagramMs < 0 ? 0 : now - lastDatagramMs;
    lastDatagramMs = now;
    // liblo hands each message over while it walks a bundle, and stops at the
    // first broken element: collect them all and apply them only when the
    // whole datagram decoded.
    decoded.clear();
    decodeFailed = false;
    bundleDepth = 0;
    if (decoder && data && size >= 4 && size % 4 == 0) {
        scratch.assign(data, data + size);  // liblo takes a mutable buffer
        const int used = lo_server_dispatch_data(decoder, scratch.data(), size);
        if (used != static_cast<int>(size)) decodeFailed = true;
    } else {
        decodeFailed = true;
    }
    if (decodeFailed) {
        decoded.clear();
        ++dropped;
        return false;
    }
    // Decoded whole: now take effect, in order.
    std::vector<DecodedMessage> messages;
    messages.swap(decoded);
    for (const DecodedMessage& dm : messages) {
        if (dm.path != kCursorPath) continue;
        const lo_message m = static_cast<lo_message>(dm.message.get());
        const int argc = lo_message_get_argc(m);
        const char* types = lo_message_get_types(m);
        lo_arg** argv = lo_message_get_argv(m);
        if (argc < 1 || types[0] != LO_STRING) continue;
        const std::string command = reinterpret_cast<const char*>(argv[0]);
        if (command == "alive") {
            std::vector<int32_t> alive;
            bool ok = true;
            for (int a = 1; a < argc && ok; ++a) {
                int64_t sid = 0;
                ok = ReadInt(types[a], argv[a], sid);
                alive.push_back(static_cast<int32_t>(sid));
            }
            if (!ok) continue;
            frameAlive = alive;
            frameHasAlive = true;
        } else if (command == "set") {
            int64_t sid = 0;
            float x = 0, y = 0;
            if (argc < 4 || !ReadInt(types[1], argv[1], sid) || !ReadFloat(types[2], argv[2], x) ||
                !ReadFloat(types[3], argv[3], y))
                continue;
            frameSet[static_cast<int32_t>(sid)] = {std::clamp(x, 0.0f, 1.0f), std::clamp(y, 0.0f, 1.0f)};
        } else if (command == "fseq") {
            int64_t fseq = 0;
            if (argc < 2 || !ReadInt(types[1], argv[1], fseq)) continue;
            // A source that paused, or lifted every cursor, may come back
            // as a restarted client counting from anywhere.
            const bool restarted = currentFseq - fseq > kRestartGap || pauseBeforeDatagramMs >= kRestartPauseMs ||
                                   cursors.empty();
            const bool fresh = fseq == -1 || !anyFrame || fseq > currentFseq || restarted;
            if (fresh) {
                if (fseq != -1) {
                    currentFseq = fseq;
                    anyFrame = true;
                }
                ApplyFrame();
            }
            frameAlive.clear();
            frameHasAlive = false;
            frameSet.clear();
        }
        // "source" names the tracker; one tracker is served, so it changes nothing.
    }
    return true;
}

void TuioReceiver::ToPixels(float nx, float ny, uint32_t& px, uint32_t& py) const
{
    const TouchManager* tm = TouchManager::Instance();
    const int w = std::max(1, tm->ViewWidth());
    const int h = std::max(1, tm->ViewHeight());
    // TUIO counts y downward from the top, the view upward from the bottom.
    if (screenFrame && tm->HasScreenFrame()) {
        // A fraction of the touch surface, the whole screen; a contact off
        // the view holds on to its edge, as one at the window's edge does.
        const double x = static_cast<double>(nx) * tm->ScreenWidth() - tm->ViewLeft();
        const double down = static_cast<double>(ny) * tm->ScreenHeight() - tm->ViewTop();
        px = static_cast<uint32_t>(std::clamp(std::floor(x), 0.0, w - 1.0));
        py = static_cast<uint32_t>(std::clamp(std::floor(h - down), 0.0, h - 1.0));
        return;
    }
    px = static_cast<uint32_t>(std::clamp(static_cast<int>(std::floor(nx * w)), 0, w - 1));
    py = static_cast<uint32_t>(std::clamp(static_cast<int>(std::floor((1.0f - ny) * h)), 0, h - 1));
}

void TuioReceiver::ApplyFrame()
{
    TouchManager* tm = TouchManager::Instance();
    ++applied;

    std::vector<int32_t> alive = frameAlive;
    if (!frameHasAlive) {
        // Without an alive list the frame only moves the cursors it sets.
        alive.clear();
        for (const auto& kv : cursors) alive.push_back(kv.first);
        for (const auto& kv : frameSet)
            if (!cursors.count(kv.first)) alive.push_back(kv.first);
    }

    // Ignored cursors that left are forgotten; a flood that has ended may be
    // reported again.
    for (auto it = ignored.begin(); it != ignored.end();) {
        if (std::find(alive.begin(), alive.end(), it->first) == alive.end())
            it = ignored.erase(it);
        else
            ++it;
    }
    if (ignored.empty()) floodReported = false;

    // Releases first: their ids become free for the contacts of this frame.
    for (auto it = cursors.begin(); it != cursors.end();) {
        if (std::find(alive.begin(), alive.end(), it->first) == alive.end()) {
            uint32_t px, py;
            ToPixels(it->second.x, it->second.y, px, py);
            tm->QueueRelease(px, py, it->second.contact);
            tm->ReleaseTuioId(it->second.contact);
            it = cursors.erase(it);
        } else {
            ++it;
        }
    }
    std::vector<int32_t> moved;
    for (int32_t sid : alive) {
        auto set = frameSet.find(sid);
        if (set == frameSet.end()) continue; // no position yet: pressed when one comes
        auto known = cursors.find(sid);
        if (known == cursors.end()) {
            if (ignored.count(sid)) continue;
            if (cursors.size() >= kMaxCursors) {
                ignored[sid] = true;
                if (!floodReported) {
                    std::printf("TUIO: more than %zu cursors at once; the others are ignored until they lift\n",
                                kMaxCursors);
                    std::fflush(stdout);
                    floodReported = true;
                }
                continue;
            }
            Cursor c;
            c.x = set->second.first;
            c.y = set->second.second;
            c.contact = tm->AcquireTuioId();
            cursors[sid] = c;
            uint32_t px, py;
            ToPixels(c.x, c.y, px, py);
            tm->QueuePress(px, py, c.contact);
        } else if (known->second.x != set->second.first || known->second.y != set->second.second) {
            known->second.x = set->second.first;
            known->second.y = set->second.second;
            moved.push_back(sid);
        }
    }
    for (int32_t sid : moved) {
        const Cursor& c = cursors[sid];
        uint32_t px, py;
        ToPixels(c.x, c.y, px, py);
        tm->QueueMove(px, py, c.contact);
    }
}
