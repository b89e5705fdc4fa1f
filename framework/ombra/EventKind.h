#pragma once
// EventKind: an event-type name decoded into what the interaction logic needs.
// "PRESS"/"DRAG"/"RELEASE" (and the touch board's "RELEASEICON") are plain
// pointer strokes; "SPLUSS" ... "CYSINTE" are lasso strokes: a trailing S
// starts, a trailing E ends, no suffix continues; PLUS, MINUS and INT are the
// combination modes; the CY prefix asks for the cylinder technique.
#include <string>

struct EventKind {
    enum Gesture { Unknown = 0, Pointer, Lasso };
    enum Phase { NoPhase = 0, Start, Move, End };
    enum Mode { NoMode = 0, Plus = 1, Minus = 2, Intersection = 3 };

    Gesture gesture = Unknown;
    Phase phase = NoPhase;
    Mode mode = NoMode;
    bool cylinder = false;
    // A technique named by its registered name (the touch column's choice);
    // empty: density-aware, or cylinder as `cylinder` says.
    std::string technique;

    // Decodes one of the view's event-type names; unknown names (and "SCROLL",
    // which is never sent) give gesture Unknown.
    static EventKind FromName(const std::string& name);
};
