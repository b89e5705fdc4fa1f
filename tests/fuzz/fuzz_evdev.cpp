// Kernel input-event streams from arbitrary bytes: the board's multitouch
// reader and the several-mice reader.
#include "framework/board/BoardDeviceReader.h"
#include "framework/kelvo/ManyMouse.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static BoardDeviceReader board;
    std::vector<BoardContact> contacts;
    // Split the input at an arbitrary point: reads may end inside an event.
    const size_t cut = size ? data[0] % (size + 1) : 0;
    board.Feed(reinterpret_cast<const char*>(data), cut, contacts);
    board.Feed(reinterpret_cast<const char*>(data) + cut, size - cut, contacts);

    const std::string path = WriteTempFile(data, size, ".events");
    setenv("TRELLAN_MICE", path.c_str(), 1);
    if (ManyMouse_Init() > 0) {
        ManyMouse_DeviceName(0);
        ManyMouseEvent event;
        for (int i = 0; i < 100000 && ManyMouse_PollEvent(&event); ++i) {
        }
    }
    ManyMouse_Quit();
    return 0;
}
