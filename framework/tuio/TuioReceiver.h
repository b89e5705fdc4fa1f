#pragma once
// TuioReceiver: TUIO 1.1 cursor input (/tuio/2Dcur) over UDP.
//
// In: OSC datagrams, single messages or bundles (nested bundles too), decoded
// by liblo (its server's dispatch, on a socket it never reads). `source` is accepted and ignored, `alive` lists the session ids
// in contact, `set` gives a cursor's normalised position (0..1, origin upper
// left), `fseq` closes a frame. A frame takes effect when its fseq arrives;
// frames older than the last applied one are dropped, except that a new
// stream begins (a restarted tracker or client) when fseq is -1, when it
// jumps back by more than 100 frames, when nothing arrived for at least
// kRestartPauseMs before it, or when the last applied frame had no cursor.
// Out: TouchManager::QueuePress/QueueMove/QueueRelease in view pixels, origin
// lower left, with small contact ids (smallest free) instead of session ids.
// Within a frame: releases first, then new contacts, then moves. Each session
// id is pressed once and released once, when it leaves `alive`.
// At most kMaxCursors cursors are followed; more at once (a flood) are
// ignored until they leave `alive`, with one console line per flood.
//
// The socket is non-blocking and read from a QSocketNotifier, so everything
// runs on the GUI thread. Malformed or truncated datagrams are dropped whole.
#include <QObject>

#include <lo/lo_types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

class TuioReceiver : public QObject {
    Q_OBJECT
public:
    explicit TuioReceiver(QObject* parent = nullptr);
    ~TuioReceiver() override;

    // Binds the UDP port on `address` (dotted IPv4, default loopback; the
    // TRELLAN_TUIO_ADDRESS environment variable overrides it for trackers on
    // other machines). One console line and false when that fails.
    bool Listen(int port, const char* address = nullptr);
    bool IsListening() const { return fd >= 0; }
    int Port() const { return port; }

    // Decodes one datagram; false when it was dropped as malformed.
    bool ProcessDatagram(const char* data, size_t size);

    // Counters for diagnostics and tests.
    size_t DroppedPackets() const { return dropped; }
    size_t AppliedFrames() const { return applied; }
    size_t IgnoredCursors() const { return ignored.size(); }

    static constexpr size_t kMaxCursors = 10;
    static constexpr int64_t kRestartPauseMs = 1000;

    struct Cursor {
        float x = 0, y = 0; // normalised, origin upper left
        int32_t contact = -1;
    };

private:
    // liblo's callbacks while a datagram is decoded.
    static int OnMessage(const char* path, const char* types, lo_arg** argv, int argc, lo_message m, void* self);
    static int OnBundleStart(lo_timetag time, void* self);
    static int OnBundleEnd(void* self);
    void ReadPending();
    void ApplyFrame();
    void ToPixels(float nx, float ny, uint32_t& px, uint32_t& py) const;
    // Positions are fractions of the screen (TUIO's convention: the whole
    // touch surface) unless TRELLAN_TUIO_FRAME=window asks for the window.
    bool screenFrame = true;

    int fd = -1;
    int port = 0;
    QSocketNotifier* notifier = nullptr;
    size_t dropped = 0;
    size_t applied = 0;

    // Decoding of one datagram.
    struct MessageDeleter {
        void operator()(void* m) const;
    };
    using Message = std::unique_ptr<void, MessageDeleter>;
    struct DecodedMessage {
        std::string path;
        Message message;
    };
    lo_server decoder = nullptr;
    std::vector<char> scratch;
    std::vector<DecodedMessage> decoded;
    int bundleDepth = 0;
    bool decodeFailed = false;

    // Frame being assembled until its fseq.
    std::vector<int32_t> frameAlive;
    bool frameHasAlive = false;
    std::map<int32_t, std::pair<float, float>> frameSet;
    // State after the last applied frame.
    std::map<int32_t, Cursor> cursors;
    int64_t currentFseq = -1;
    bool anyFrame = false;
    // Session ids beyond kMaxCursors, ignored while they stay alive.
    std::map<int32_t, bool> ignored;
    bool floodReported = false;
    int64_t lastDatagramMs = -1;
    int64_t pauseBeforeDatagramMs = 0;
};
