// OSC/TUIO datagrams from arbitrary bytes, fed to a receiver that keeps state
// across inputs as a long-running program would.
#include "framework/kelvo/TouchManager.h"
#include "framework/tuio/TuioReceiver.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TuioReceiver receiver;
    receiver.ProcessDatagram(reinterpret_cast<const char*>(data), size);
    // Drain what the view would: the pending items must stay consistent.
    TouchManager* touch = TouchManager::Instance();
    for (int i = 0; i < 64 && (touch->pressPending || touch->movePending || touch->releasePending); ++i) {
        touch->pressPending = 0;
        touch->movePending = 0;
        touch->releasePending = 0;
    }
    return 0;
}
