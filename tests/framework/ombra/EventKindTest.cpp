#include "framework/ombra/EventKind.h"

#include <gtest/gtest.h>

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

TEST(EventKind, LassoNamesGiveModePhaseAndTechnique)
{
    struct Case {
        const char* name;
        EventKind::Mode mode;
        EventKind::Phase phase;
        bool cylinder;
    } cases[] = {
        {"SPLUSS", EventKind::Plus, EventKind::Start, false},
        {"SPLUS", EventKind::Plus, EventKind::Move, false},
        {"SPLUSE", EventKind::Plus, EventKind::End, false},
        {"SMINUSS", EventKind::Minus, EventKind::Start, false},
        {"SMINUS", EventKind::Minus, EventKind::Move, false},
        {"SMINUSE", EventKind::Minus, EventKind::End, false},
        {"SINTS", EventKind::Intersection, EventKind::Start, false},
        {"SINT", EventKind::Intersection, EventKind::Move, false},
        {"SINTE", EventKind::Intersection, EventKind::End, false},
        {"CYSPLUSS", EventKind::Plus, EventKind::Start, true},
        {"CYSPLUS", EventKind::Plus, EventKind::Move, true},
        {"CYSPLUSE", EventKind::Plus, EventKind::End, true},
        {"CYSMINUSS", EventKind::Minus, EventKind::Start, true},
        {"CYSMINUS", EventKind::Minus, EventKind::Move, true},
        {"CYSMINUSE", EventKind::Minus, EventKind::End, true},
        {"CYSINTS", EventKind::Intersection, EventKind::Start, true},
        {"CYSINT", EventKind::Intersection, EventKind::Move, true},
        {"CYSINTE", EventKind::Intersection, EventKind::End, true},
    };
    for (const Case& c : cases) {
        const EventKind k = EventKind::FromName(c.name);
        EXPECT_EQ(k.gesture, EventKind::Lasso) << c.name;
        EXPECT_EQ(k.mode, c.mode) << c.name;
        EXPECT_EQ(k.phase, c.phase) << c.name;
        EXPECT_EQ(k.cylinder, c.cylinder) << c.name;
    }
}
