#include "framework/board/CSBSDK2.h"

#include "framework/board/CSBSDK2EventHandler.h"
#include "framework/board/CSBSDKWnd.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

const int CSBSDK2::SBSDK_NEW_MESSAGE = QEvent::registerEventType();

namespace {

// Contacts kept while the window does not collect them; beyond this, moves
// are dropped (downs and ups never are, so no contact is left hanging).
const size_t kMaxPending = 4096;

int Scale(int value, int lo, int hi, int pixels)
{
    if (pixels <= 0 || hi <= lo) return value; // size unknown: board units as they are
    const long long v = std::clamp(value, lo, hi) - static_cast<long long>(lo);
    return static_cast<int>((v * (pixels - 1) + (hi - lo) / 2) / (hi - lo));
}

} // namespace

CSBSDK2::CSBSDK2(bool service) : connectToService(service) {}

CSBSDK2::~CSBSDK2()
{
    Detach();
}

QString CSBSDK2::FindBoard()
{
    QDir dir(QStringLiteral("/dev/input"));
    const QStringList names = dir.entryList(QStringList() << QStringLiteral("event*"), QDir::System, QDir::Name);
    for (const QString& n : names) {
        const QString path = dir.filePath(n);
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        BoardDeviceReader probe;
        const bool board = probe.Probe(fd);
        ::close(fd);
        if (board) return path;
    }
    return QString();
}

bool CSBSDK2::SBSDKAttach(CSBSDKWnd& w, bool sendXMLAnnotations)
{
    (void)sendXMLAnnotations; // no annotation service on this board
    QString path = devicePath;
    if (path.isEmpty()) path = QString::fromLocal8Bit(qgetenv("TRELLAN_BOARD_DEVICE"));
    if (path.isEmpty()) path = FindBoard();
    if (path.isEmpty()) {
        std::printf("Touch board: none found\n");
        return false;
    }
    const QByteArray local = path.toLocal8Bit();
    const int d = ::open(local.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (d < 0) {
        std::printf("Touch board: cannot open %s (%s)\n", local.constData(), std::strerror(errno));
        return false;
    }
    // A device node reports its own ranges; anything else keeps the defaults.
    reader.Probe(d);
    return SBSDKAttachDescriptor(w, d);
}

bool CSBSDK2::SBSDKAttachDescriptor(CSBSDKWnd& w, int d)
{
    Detach();
    if (d < 0) return false;
    const int flags = ::fcntl(d, F_GETFL);
    if (flags >= 0) ::fcntl(d, F_SETFL, flags | O_NONBLOCK);
    fd = d;
    window = &w;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [this]() { ReadDevice(); });
    return true;
}

void CSBSDK2::Detach()
{
    delete notifier;
    notifier = nullptr;
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void CSBSDK2::SetEventHandler(CSBSDK2EventHandler* h)
{
    handler = h;
}

void CSBSDK2::SBSDKSendMouseEvents(CSBSDKWnd& w, int flags, int pointer)
{
    (void)w;
    (void)pointer;
    mouseFlags = flags;
}

void CSBSDK2::ReadDevice()
{
    std::vector<BoardContact> got;
    const bool alive = reader.ReadFrom(fd, got);
    if (!alive) {
        std::printf("Touch board: the device stopped delivering; board input is off\n");
        reader.ReleaseAll(got);
        Detach();
    }
    for (const BoardContact& c : got) {
        if (c.kind == BoardContact::Move && pending.size() >= kMaxPending) continue;
        pending.push_back(c);
    }
    if (pending.empty() || messagePosted || !window || !window->Window()) return;
    messagePosted = true;
    QCoreApplication::postEvent(window->Window(), new QEvent(static_cast<QEvent::Type>(SBSDK_NEW_MESSAGE)));
}

void CSBSDK2::SBSDKProcessData()
{
    messagePosted = false;
    // Taken out first: a handler may run the event loop and come back here.
    std::deque<BoardContact> batch;
    batch.swap(pending);
    if (!handler || !window) return;
    const int w = window->Width();
    const int h = window->Height();
    for (const BoardContact& c : batch) {
        const int x = Scale(c.x, reader.minX, reader.maxX, w);
        const int y = Scale(c.y, reader.minY, reader.maxY, h);
        switch (c.kind) {
        case BoardContact::Down: handler->OnXYDown(x, y, c.z, c.pointer); break;
        case BoardContact::Move: handler->OnXYMove(x, y, c.z, c.pointer); break;
        case BoardContact::Up: handler->OnXYUp(x, y, c.z, c.pointer); break;
        }
    }
}
