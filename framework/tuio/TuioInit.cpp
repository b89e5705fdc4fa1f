#include "framework/tuio/TuioInit.h"

#include "framework/tuio/TuioReceiver.h"

#include <cstdlib>

namespace {

int PortFromEnvironment()
{
    const char* text = std::getenv("TRELLAN_TUIO_PORT");
    if (!text || !*text) return TuioInit::kDefaultPort;
    char* end = nullptr;
    const long port = std::strtol(text, &end, 10);
    // A bad value is reported by Listen with the port it was given.
    return (*end == '\0') ? static_cast<int>(port) : -1;
}

} // namespace

TuioInit::TuioInit() : TuioInit(PortFromEnvironment()) {}

TuioInit::TuioInit(int port) : receiver(new TuioReceiver())
{
    receiver->Listen(port);
}

TuioInit::~TuioInit()
{
    delete receiver;
}

bool TuioInit::IsListening() const
{
    return receiver && receiver->IsListening();
}
