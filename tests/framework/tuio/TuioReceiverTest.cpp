#include "framework/tuio/TuioReceiver.h"

#include "framework/kelvo/TouchManager.h"
#include "framework/tuio/TuioInit.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>
#include <lo/lo.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

int argcStore = 1;
char nameStore[] = "test_vis";
char* argvStore[] = {nameStore, nullptr};

class TuioReceiverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QCoreApplication::instance()) app = new QCoreApplication(argcStore, argvStore);
        TouchManager::Destroy();
        TouchManager::Instance()->SetViewSize(800, 600);
        TouchManager::Instance()->SetGraceMilliseconds(60000);
        // A port of our own, so parallel test runs do not meet.
        for (int attempt = 0; attempt < 50 && !receiver.IsListening(); ++attempt) {
            port = 40000 + (getpid() * 7 + attempt * 131) % 20000;
            testing::internal::CaptureStdout();
            receiver.Listen(port, "127.0.0.1");
            testing::internal::GetCapturedStdout();
        }
        ASSERT_TRUE(receiver.IsListening());
        target = lo_address_new("127.0.0.1", std::to_string(port).c_str());
    }
    void TearDown() override
    {
        lo_address_free(target);
        TouchManager::Destroy();
    }

    // Sends a frame as one bundle: alive list, sets {id, x, y}, fseq.
    void SendFrame(int fseq, const std::vector<int>& alive, const std::vector<std::vector<float>>& sets)
    {
        lo_bundle b = Frame(fseq, alive, sets);
        ASSERT_GT(lo_send_bundle(target, b), 0);
        lo_bundle_free_recursive(b);
    }
    // The same frame as the bytes of its datagram.
    static std::string Bundle(int fseq, const std::vector<int>& alive, const std::vector<std::vector<float>>& sets)
    {
        lo_bundle b = Frame(fseq, alive, sets);
        size_t size = 0;
        void* bytes = lo_bundle_serialise(b, nullptr, &size);
        std::string out(static_cast<const char*>(bytes), size);
        std::free(bytes);
        lo_bundle_free_recursive(b);
        return out;
    }
    static lo_bundle Frame(int fseq, const std::vector<int>& alive, const std::vector<std::vector<float>>& sets)
    {
        lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
        lo_message src = lo_message_new();
        lo_message_add_string(src, "source");
        lo_message_add_string(src, "tracker@127.0.0.1");
        lo_bundle_add_message(b, "/tuio/2Dcur", src);
        lo_message a = lo_message_new();
        lo_message_add_string(a, "alive");
        for (int id : alive) lo_message_add_int32(a, id);
        lo_bundle_add_message(b, "/tuio/2Dcur", a);
        for (const auto& s : sets) {
            lo_message m = lo_message_new();
            lo_message_add_string(m, "set");
            lo_message_add_int32(m, static_cast<int>(s[0]));
            lo_message_add_float(m, s[1]);
            lo_message_add_float(m, s[2]);
            lo_message_add_float(m, 0.0f);
            lo_message_add_float(m, 0.0f);
            lo_message_add_float(m, 0.0f);
            lo_bundle_add_message(b, "/tuio/2Dcur", m);
        }
        lo_message f = lo_message_new();
        lo_message_add_string(f, "fseq");
        lo_message_add_int32(f, fseq);
        lo_bundle_add_message(b, "/tuio/2Dcur", f);
        return b;
    }

    // Waits, with a bound, until the receiver has applied `frames` frames.
    void WaitForFrames(size_t frames)
    {
        QElapsedTimer clock;
        clock.start();
        while (receiver.AppliedFrames() < frames && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    void WaitForDropped(size_t dropped)
    {
        QElapsedTimer clock;
        clock.start();
        while (receiver.DroppedPackets() < dropped && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    // Takes every pending item the way the view would, without holding any back.
    std::vector<std::string> TakeAll()
    {
        TouchManager* tm = TouchManager::Instance();
        std::vector<std::string> out;
        for (int i = 0; i < 100; ++i) {
            const std::string where = " " + std::to_string(tm->touchId) + "@" + std::to_string(tm->touchX) + "," +
                                      std::to_string(tm->touchY);
            if (tm->pressPending) {
                out.push_back("press" + where);
                tm->pressPending = false;
            } else if (tm->releasePending) {
                out.push_back("release" + where);
                tm->releasePending = false;
            } else if (tm->movePending) {
                out.push_back("move" + where);
                tm->movePending = false;
            } else {
                break;
            }
            tm->Pump();
        }
        return out;
    }

    QCoreApplication* app = nullptr; // left alive: Qt allows one per process
    TuioReceiver receiver;
    int port = 0;
    lo_address target = nullptr;
};

TEST_F(TuioReceiverTest, BundledFramesBecomePressMoveReleaseInViewPixels)
{
    SendFrame(1, {7}, {{7, 0.25f, 0.25f}});
    SendFrame(2, {7}, {{7, 0.5f, 0.5f}});
    SendFrame(3, {7}, {{7, 0.5f, 0.5f}}); // no change: no move
    SendFrame(4, {}, {});
    WaitForFrames(4);
    // x 0.25 of 800; y 0.25 from the top of 600 is 450 from the bottom.
    const std::vector<std::string> expected = {"press 0@200,450", "move 0@400,300", "release 0@400,300"};
    EXPECT_EQ(TakeAll(), expected);

    // The corners stay inside the view.
    SendFrame(5, {9}, {{9, 0.0f, 0.0f}});
    SendFrame(6, {9}, {{9, 1.0f, 1.0f}});
    SendFrame(7, {}, {});
    WaitForFrames(7);
    const std::vector<std::string> corners = {"press 0@0,599", "move 0@799,0", "release 0@799,0"};
    EXPECT_EQ(TakeAll(), corners);
}

TEST_F(TuioReceiverTest, PositionsAreFractionsOfTheScreenUnlessTheWindowIsAskedFor)
{
    // An 800 x 600 view whose top left corner lies at (100, 50) of a
    // 1920 x 1080 screen: a quarter of the screen across and down is 380
    // across the view and 220 down, so 380 up from the view's bottom.
    TouchManager::Instance()->SetScreenFrame(1920, 1080, 100, 50);
    SendFrame(1, {7}, {{7, 0.25f, 0.25f}});
    SendFrame(2, {7}, {{7, 0.0f, 0.0f}}); // off the view: held at its corner
    SendFrame(3, {}, {});
    WaitForFrames(3);
    const std::vector<std::string> screen = {"press 0@380,380", "move 0@0,599", "release 0@0,599"};
    EXPECT_EQ(TakeAll(), screen);

    setenv("TRELLAN_TUIO_FRAME", "window", 1);
    TuioReceiver windowRelative;
    unsetenv("TRELLAN_TUIO_FRAME");
    const std::string bundle = Bundle(4, {7}, {{7, 0.5f, 0.5f}});
    ASSERT_TRUE(windowRelative.ProcessDatagram(bundle.data(), bundle.size()));
    const std::string lift = Bundle(5, {}, {});
    ASSERT_TRUE(windowRelative.ProcessDatagram(lift.data(), lift.size()));
    const std::vector<std::string> window = {"press 0@400,300", "release 0@400,300"};
    EXPECT_EQ(TakeAll(), window);
}

TEST_F(TuioReceiverTest, MessagesTakeEffectAtTheirFseqHoweverTheyArePacked)
{
    lo_send(target, "/tuio/2Dcur", "si", "alive", 3);
    lo_send(target, "/tuio/2Dcur", "sifffff", "set", 3, 0.1f, 0.9f, 0.0f, 0.0f, 0.0f);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 200) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(TakeAll().empty());
    lo_send(target, "/tuio/2Dcur", "si", "fseq", 1);
    WaitForFrames(1);
    const std::vector<std::string> expected = {"press 0@80,60"};
    EXPECT_EQ(TakeAll(), expected);

    // A bundle inside a bundle, positions as doubles, other paths ignored.
    lo_bundle outer = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_bundle inner = lo_bundle_new(LO_TT_IMMEDIATE);
    lo_message set = lo_message_new();
    lo_message_add_string(set, "set");
    lo_message_add_int32(set, 3);
    lo_message_add_double(set, 0.5);
    lo_message_add_double(set, 0.5);
    lo_bundle_add_message(inner, "/tuio/2Dcur", set);
    lo_message other = lo_message_new();
    lo_message_add_string(other, "alive");
    lo_bundle_add_message(inner, "/tuio/2Dobj", other);
    lo_bundle_add_bundle(outer, inner);
    lo_message fseq = lo_message_new();
    lo_message_add_string(fseq, "fseq");
    lo_message_add_int32(fseq, 2);
    lo_bundle_add_message(outer, "/tuio/2Dcur", fseq);
    ASSERT_GT(lo_send_bundle(target, outer), 0);
    lo_bundle_free_recursive(outer);
    WaitForFrames(2);
    EXPECT_EQ(TakeAll(), std::vector<std::string>{"move 0@400,300"});
    EXPECT_EQ(receiver.DroppedPackets(), 0u);
}

TEST_F(TuioReceiverTest, TwoCursorsGetTheirOwnIdsAndFreedIdsAreReused)
{
    SendFrame(1, {100, 101}, {{100, 0.1f, 0.5f}, {101, 0.9f, 0.5f}});
    SendFrame(2, {101}, {{101, 0.8f, 0.5f}});
    SendFrame(3, {101, 102}, {{102, 0.2f, 0.5f}});
    WaitForFrames(3);
    const std::vector<std::string> expected = {"press 0@80,300", "press 1@720,300", "release 0@80,300",
                                               "move 1@640,300", "press 0@160,300"};
    EXPECT_EQ(TakeAll(), expected);
}

TEST_F(TuioReceiverTest, OlderFramesAreDroppedAndARestartedTrackerIsFollowed)
{
    SendFrame(10, {1}, {{1, 0.5f, 0.5f}});
    WaitForFrames(1);
    EXPECT_EQ(TakeAll(), std::vector<std::string>{"press 0@400,300"});
    SendFrame(9, {1}, {{1, 0.75f, 0.5f}}); // late: dropped
    SendFrame(10, {}, {});                 // same frame again: dropped
    SendFrame(11, {1}, {{1, 0.25f, 0.5f}});
    WaitForFrames(2);
    EXPECT_EQ(TakeAll(), std::vector<std::string>{"move 0@200,300"});
    SendFrame(500, {1}, {{1, 0.5f, 0.25f}});
    WaitForFrames(3);
    EXPECT_EQ(TakeAll(), std::vector<std::string>{"move 0@400,450"});
    SendFrame(2, {1}, {{1, 0.125f, 0.25f}}); // far behind: the tracker started over
    WaitForFrames(4);
    EXPECT_EQ(TakeAll(), std::vector<std::string>{"move 0@100,450"});
    EXPECT_EQ(receiver.AppliedFrames(), 4u);
}

TEST_F(TuioReceiverTest, AClientRestartedAfterAnEmptyAliveOrAPauseIsFollowedAndAFloodIsBounded)
{
    SendFrame(50, {1}, {{1, 0.5f, 0.5f}});
    SendFrame(51, {}, {});
    WaitForFrames(2);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"press 0@400,300", "release 0@400,300"}));
    // After a frame without cursors a backward fseq is a new stream.
    SendFrame(1, {7}, {{7, 0.25f, 0.5f}});
    WaitForFrames(3);
    EXPECT_EQ(TakeAll(), std::vector<std::string>{"press 0@200,300"});
    // With a cursor down, a late frame is dropped; after a pause it is a
    // restarted client, whose alive list ends the old cursor once.
    SendFrame(0, {8}, {{8, 0.75f, 0.5f}});
    QElapsedTimer pause;
    pause.start();
    while (pause.elapsed() < TuioReceiver::kRestartPauseMs + 100)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(receiver.AppliedFrames(), 3u);
    SendFrame(1, {8}, {{8, 0.75f, 0.5f}});
    WaitForFrames(4);
    EXPECT_EQ(TakeAll(), (std::vector<std::string>{"release 0@200,300", "press 0@600,300"}));
    SendFrame(2, {}, {});
    WaitForFrames(5);
    TakeAll();

    // Fifty cursors at once: ten are pressed, the rest ignored until they lift.
    std::vector<int> alive;
    std::vector<std::vector<float>> sets;
    for (int i = 0; i < 50; ++i) {
        alive.push_back(200 + i);
        sets.push_back({float(200 + i), 0.01f + 0.019f * i, 0.5f});
    }
    testing::internal::CaptureStdout();
    SendFrame(3, alive, sets);
    SendFrame(4, alive, sets);
    WaitForFrames(7);
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(console.begin(), console.end(), '\n'), 1) << console;
    std::vector<std::string> taken = TakeAll();
    EXPECT_EQ(taken.size(), TuioReceiver::kMaxCursors);
    EXPECT_EQ(receiver.IgnoredCursors(), 40u);
    SendFrame(5, {}, {});
    WaitForFrames(8);
    taken = TakeAll();
    EXPECT_EQ(taken.size(), TuioReceiver::kMaxCursors);
    EXPECT_EQ(receiver.IgnoredCursors(), 0u);
}

TEST_F(TuioReceiverTest, MalformedPacketsAreDroppedWithoutHarm)
{
    std::vector<std::string> bad;
    bad.push_back("this is not OSC at all!");                              // not a multiple of four
    bad.push_back(std::string("#bundle\0\0\0\0\0\0\0\0\1\0\0\0\x40", 20)); // element longer than the packet
    bad.push_back(std::string("/tuio/2Dcur\0,si\0alive\0\0\0", 24));     // int argument missing
    bad.push_back(std::string("/tuio/2Dcur\0,s\0\0aliv", 20));              // string cut off
    bad.push_back(std::string("/tuio/2Dcur\0,Q\0\0\0\0\0\0", 20));        // unknown type tag
    bad.push_back(std::string(4, '\0'));
    for (const std::string& b : bad) EXPECT_FALSE(receiver.ProcessDatagram(b.data(), b.size())) << b.size();

    // A well formed bundle with one broken element is dropped whole.
    lo_message good = lo_message_new();
    lo_message_add_string(good, "alive");
    lo_message_add_int32(good, 5);
    size_t goodSize = 0;
    void* goodData = lo_message_serialise(good, "/tuio/2Dcur", nullptr, &goodSize);
    std::string bundle("#bundle\0\0\0\0\0\0\0\0\1", 16);
    auto addElement = [&bundle](const std::string& e) {
        const uint32_t n = static_cast<uint32_t>(e.size());
        const char len[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
        bundle.append(len, 4);
        bundle.append(e);
    };
    addElement(std::string(static_cast<char*>(goodData), goodSize));
    addElement(bad[2]);
    std::free(goodData);
    lo_message_free(good);
    EXPECT_FALSE(receiver.ProcessDatagram(bundle.data(), bundle.size()));
    EXPECT_EQ(receiver.DroppedPackets(), bad.size() + 1);
    EXPECT_EQ(receiver.AppliedFrames(), 0u);

    // Every cut and every flipped byte of a real frame is survived (a cut at
    // an element boundary is simply a shorter bundle).
    {
        TuioReceiver scratch;
        lo_bundle b = lo_bundle_new(LO_TT_IMMEDIATE);
        lo_message a = lo_message_new();
        lo_message_add_string(a, "alive");
        lo_message_add_int32(a, 1);
        lo_bundle_add_message(b, "/tuio/2Dcur", a);
        lo_message set = lo_message_new();
        lo_message_add_string(set, "set");
        lo_message_add_int32(set, 1);
        for (int i = 0; i < 5; ++i) lo_message_add_float(set, 0.5f);
        lo_bundle_add_message(b, "/tuio/2Dcur", set);
        size_t n = 0;
        void* data = lo_bundle_serialise(b, nullptr, &n);
        const std::string frame(static_cast<char*>(data), n);
        std::free(data);
        lo_bundle_free_recursive(b);
        for (size_t cut = 0; cut < frame.size(); ++cut) scratch.ProcessDatagram(frame.data(), cut);
        for (size_t i = 0; i < frame.size(); ++i) {
            for (unsigned char flip : {0x01, 0x80, 0xff}) {
                std::string broken = frame;
                broken[i] = static_cast<char>(broken[i] ^ flip);
                scratch.ProcessDatagram(broken.data(), broken.size());
            }
        }
        TouchManager::Instance()->ClearPending();
    }

    // The same garbage over the socket, then a good frame still gets through.
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(s, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    for (const std::string& b : bad)
        ::sendto(s, b.data(), b.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    ::close(s);
    WaitForDropped(2 * bad.size() + 1);
    EXPECT_EQ(receiver.DroppedPackets(), 2 * bad.size() + 1);
    EXPECT_TRUE(TakeAll().empty());
    SendFrame(1, {5}, {{5, 0.5f, 0.5f}});
    WaitForFrames(1);
    const std::vector<std::string> expected = {"press 0@400,300"};
    EXPECT_EQ(TakeAll(), expected);
}

TEST_F(TuioReceiverTest, NestingIsBoundedAndAMessageNeedsAPath)
{
    // fseq 1 with an empty alive list: a frame that applies and changes nothing.
    const std::string fseq("/tuio/2Dcur\0,si\0fseq\0\0\0\0\0\0\0\1", 28);
    auto nest = [](std::string element, int depth) {
        for (int d = 0; d < depth; ++d) {
            const uint32_t n = static_cast<uint32_t>(element.size());
            const char len[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
            element = std::string("#bundle\0\0\0\0\0\0\0\0\1", 16) + std::string(len, 4) + element;
        }
        return element;
    };
    const std::string deepest = nest(fseq, 8), tooDeep = nest(fseq, 9);
    EXPECT_TRUE(receiver.ProcessDatagram(deepest.data(), deepest.size()));
    EXPECT_EQ(receiver.AppliedFrames(), 1u);
    EXPECT_FALSE(receiver.ProcessDatagram(tooDeep.data(), tooDeep.size()));
    // An address without its leading slash is not OSC, even inside a bundle.
    std::string noSlash = fseq;
    noSlash[0] = 'x';
    const std::string bundled = nest(noSlash, 1);
    EXPECT_FALSE(receiver.ProcessDatagram(noSlash.data(), noSlash.size()));
    EXPECT_FALSE(receiver.ProcessDatagram(bundled.data(), bundled.size()));
    EXPECT_EQ(receiver.DroppedPackets(), 3u);
    EXPECT_EQ(receiver.AppliedFrames(), 1u);
}

TEST_F(TuioReceiverTest, APortInUseGivesOneLineAndNoInput)
{
    TuioReceiver second;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(second.Listen(port, "127.0.0.1"));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(std::to_string(port)), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    EXPECT_FALSE(second.IsListening());

    testing::internal::CaptureStdout();
    setenv("TRELLAN_TUIO_PORT", std::to_string(port).c_str(), 1);
    TuioInit init;
    unsetenv("TRELLAN_TUIO_PORT");
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(init.IsListening());
}

} // namespace
