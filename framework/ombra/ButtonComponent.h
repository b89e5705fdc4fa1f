#pragma once
// ButtonComponent: an on-screen push button drawn as a framed icon (undo,
// redo, clear). Its ButtonStrategy runs the action when it is pressed.
#include "framework/ombra/VisComponent.h"

class ButtonComponent : public VisComponent {
public:
    enum Icon { UndoIcon, RedoIcon, ClearIcon, StartIcon, DoneIcon };

    ButtonComponent(int id, Icon icon, VisComponentStrategy* strategy);
    void render() override;
    Icon getIcon() const { return icon; }
    void setIcon(Icon i) { icon = i; }
    // Greyed out and inert, e.g. undo with nothing to undo.
    void setEnabled(bool e) { enabled = e; }
    bool isEnabled() const { return enabled; }

private:
    Icon icon;
    bool enabled = true;
};
