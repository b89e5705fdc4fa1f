#pragma once
// TuioInit: starts TUIO input into TouchManager. Creating one opens the UDP
// port (3333 unless TRELLAN_TUIO_PORT or the port argument says otherwise) and
// from then on every TUIO cursor frame becomes pending press, move and release
// items of TouchManager, received on the GUI thread. Needs a running
// QCoreApplication. When the port cannot be opened one line says so and the
// program goes on without TUIO.
class TuioReceiver;

class TuioInit {
public:
    TuioInit();
    explicit TuioInit(int port);
    ~TuioInit();
    TuioInit(const TuioInit&) = delete;
    TuioInit& operator=(const TuioInit&) = delete;

    bool IsListening() const;
    TuioReceiver* Receiver() const { return receiver; }

    static constexpr int kDefaultPort = 3333;

private:
    TuioReceiver* receiver = nullptr;
};
