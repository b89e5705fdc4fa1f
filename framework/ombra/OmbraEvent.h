#pragma once
// OmbraEvent: one input event as the view hands it to the visualization. The
// type is an identifier from ConstantProvider ("PRESS", "SPLUSS", ...); x and
// y are view pixels with the origin at the lower left. The view creates the
// event on the heap and deletes it right after processEvent returns, so no
// receiver may keep the pointer.
class VisComponent;

class OmbraEvent {
public:
    OmbraEvent(unsigned type, int id, double x, double y, double z, VisComponent* component, int last)
        : type(type), id(id), x(x), y(y), z(z), component(component), last(last)
    {
    }

    unsigned type;           // event-type identifier
    int id;                  // pointer id: 0 for the mouse, contact or device id otherwise
    double x, y, z;          // view pixels, lower-left origin; z is 0
    VisComponent* component; // component under the press, when the sender knew it
    int last;                // 1 when this is the last event of its batch
};
