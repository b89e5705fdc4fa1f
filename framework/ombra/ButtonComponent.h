#pragma once
// ButtonComponent: an on-screen push button drawn as a framed icon (undo,
// redo, clear) or a word ("Start", "Done", "Lasso +"). Its ButtonStrategy
// runs the action when it is pressed. A selected button (the current stroke
// mode) is drawn in blue.
#include "framework/ombra/TextLabel.h"
#include "framework/ombra/VisComponent.h"

#include <memory>
#include <string>

class ButtonComponent : public VisComponent {
public:
    enum Icon { UndoIcon, RedoIcon, ClearIcon, StartIcon, DoneIcon, TextOnly };

    ButtonComponent(int id, Icon icon, VisComponentStrategy* strategy);
    void render() override;
    Icon getIcon() const { return icon; }
    void setIcon(Icon i) { icon = i; }
    // Greyed out and inert, e.g. undo with nothing to undo.
    void setEnabled(bool e) { enabled = e; }
    bool isEnabled() const { return enabled; }
    // A word drawn in the button, below the icon when there is one; the font
    // shrinks until the word fits.
    void setText(const std::string& t) { text = t; }
    const std::string& getText() const { return text; }
    void setSelected(bool s) { selected = s; }
    bool isSelected() const { return selected; }

private:
    Icon icon;
    bool enabled = true;
    bool selected = false;
    std::string text;
    std::unique_ptr<TextLabel> label;
    int labelWanted = 0;
    double labelRoom = 0.0;
};
