#pragma once
// CSBSDK2: connection to the interactive whiteboard, read from a Linux
// multitouch input device on the GUI thread.
//
// SBSDKAttach opens the board: the device named by TRELLAN_BOARD_DEVICE (or
// SetDevicePath, e.g. from the configuration or the command line), else the
// first /dev/input/event* that is a direct multitouch device. Contacts read
// from it are kept, and one event of type SBSDK_NEW_MESSAGE is posted to the
// attached window; the window's handler calls SBSDKProcessData, which hands
// the kept contacts to the event handler (OnXYDown/OnXYMove/OnXYUp) in window
// pixels with the origin at the upper left. Without a board nothing happens
// and one line says none was found.
#include "framework/board/BoardDeviceReader.h"

#include <QString>

#include <deque>

class CSBSDKWnd;
class CSBSDK2EventHandler;
class QSocketNotifier;

class CSBSDK2 {
public:
    explicit CSBSDK2(bool connectToService = false);
    ~CSBSDK2();
    CSBSDK2(const CSBSDK2&) = delete;
    CSBSDK2& operator=(const CSBSDK2&) = delete;

    // Event type number of the "contacts waiting" message, registered with
    // Qt at start-up.
    static const int SBSDK_NEW_MESSAGE;

    bool SBSDKAttach(CSBSDKWnd& window, bool sendXMLAnnotations = false);
    // Reads from an already open descriptor instead of a device (a pipe in
    // tests); the descriptor is owned afterwards and closed with the board.
    bool SBSDKAttachDescriptor(CSBSDKWnd& window, int fd);
    void SetEventHandler(CSBSDK2EventHandler* handler);
    // The board is read directly, so no system mouse events are made from
    // it; the flags are kept only to answer SBSDKGetSendMouseEvents.
    void SBSDKSendMouseEvents(CSBSDKWnd& window, int flags, int pointer);
    int SBSDKGetSendMouseEvents() const { return mouseFlags; }
    void SBSDKProcessData();

    void SetDevicePath(const QString& path) { devicePath = path; }
    bool IsAttached() const { return fd >= 0; }
    BoardDeviceReader& Reader() { return reader; }

private:
    void ReadDevice();
    void Detach();
    static QString FindBoard();

    bool connectToService;
    QString devicePath;
    int fd = -1;
    QSocketNotifier* notifier = nullptr;
    CSBSDKWnd* window = nullptr;
    CSBSDK2EventHandler* handler = nullptr;
    BoardDeviceReader reader;
    std::deque<BoardContact> pending;
    bool messagePosted = false;
    int mouseFlags = 0;
};
