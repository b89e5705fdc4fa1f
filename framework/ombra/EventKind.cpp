#include "framework/ombra/EventKind.h"

EventKind EventKind::FromName(const std::string& name)
{
    EventKind k;
    if (name == "PRESS") {
        k.gesture = Pointer;
        k.phase = Start;
    } else if (name == "DRAG") {
        k.gesture = Pointer;
        k.phase = Move;
    } else if (name == "RELEASE" || name == "RELEASEICON") {
        k.gesture = Pointer;
        k.phase = End;
    } else {
        std::string rest = name;
        if (rest.compare(0, 2, "CY") == 0) {
            k.cylinder = true;
            rest = rest.substr(2);
        }
        if (rest.empty() || rest[0] != 'S') return EventKind();
        rest = rest.substr(1);
        static const struct {
            const char* word;
            Mode mode;
        } modes[] = {{"PLUS", Plus}, {"MINUS", Minus}, {"INT", Intersection}};
        for (const auto& m : modes) {
            const std::string w = m.word;
            if (rest.compare(0, w.size(), w) != 0) continue;
            const std::string suffix = rest.substr(w.size());
            if (suffix.empty())
                k.phase = Move;
            else if (suffix == "S")
                k.phase = Start;
            else if (suffix == "E")
                k.phase = End;
            else
                return EventKind();
            k.gesture = Lasso;
            k.mode = m.mode;
            return k;
        }
        return EventKind();
    }
    return k;
}
