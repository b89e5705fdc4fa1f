#include "framework/ombra/EventKind.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

TEST(EventKind, PlainStrokesArePointerPhases)
{
    EXPECT_EQ(EventKind::FromName("PRESS").gesture, EventKind::Pointer);
    EXPECT_EQ(EventKind::FromName("PRESS").phase, EventKind::Start);
    EXPECT_EQ(EventKind::FromName("DRAG").phase, EventKind::Move);
    EXPECT_EQ(EventKind::FromName("RELEASE").phase, EventKind::End);
    // The touch board ends its strokes with its own name.
    EXPECT_EQ(EventKind::FromName("RELEASEICON").gesture, EventKind::Pointer);
    EXPECT_EQ(EventKind::FromName("RELEASEICON").phase, EventKind::End);
    EXPECT_EQ(EventKind::FromName("SCROLL").gesture, EventKind::Unknown);
    EXPECT_EQ(EventKind::FromName("").gesture, EventKind::Unknown);
    EXPECT_EQ(EventKind::FromName("SPLUSX").gesture, EventKind::Unknown);
    EXPECT_EQ(EventKind::FromName("CYPRESS").gesture, EventKind::Unknown);
}

// The names are built from their parts, as the header describes them, and
// every near miss (a letter dropped, doubled or added at either end) is no
// lasso at all: a decoder that matched only a prefix or a suffix would take it.
TEST(EventKind, LassoNamesGiveModePhaseAndTechnique)
{
    const struct {
        const char* word;
        EventKind::Mode mode;
    } modes[] = {{"PLUS", EventKind::Plus}, {"MINUS", EventKind::Minus}, {"INT", EventKind::Intersection}};
    const struct {
        const char* suffix;
        EventKind::Phase phase;
    } phases[] = {{"S", EventKind::Start}, {"", EventKind::Move}, {"E", EventKind::End}};
    std::set<std::string> names;
    for (bool cylinder : {false, true})
        for (const auto& m : modes)
            for (const auto& p : phases) {
                const std::string name = std::string(cylinder ? "CY" : "") + "S" + m.word + p.suffix;
                names.insert(name);
                const EventKind k = EventKind::FromName(name);
                EXPECT_EQ(k.gesture, EventKind::Lasso) << name;
                EXPECT_EQ(k.mode, m.mode) << name;
                EXPECT_EQ(k.phase, p.phase) << name;
                EXPECT_EQ(k.cylinder, cylinder) << name;
            }
    ASSERT_EQ(names.size(), 18u);
    for (const std::string& name : names) {
        std::vector<std::string> misses = {name.substr(1), name.substr(0, name.size() - 1), "X" + name, name + "X",
                                           name + name.back(), "s" + name.substr(1)};
        for (const std::string& miss : misses) {
            if (names.count(miss)) continue;  // "SPLUSS" without its S is "SPLUS"
            EXPECT_EQ(EventKind::FromName(miss).gesture, EventKind::Unknown) << miss << " (from " << name << ")";
        }
    }
}
