#pragma once
// Guide: how Pravik explains itself in the 3D area.
//
//   F1 or ?   shows or hides the help panel: the mouse's keys (the view's
//             table), every window shortcut with its whatsThis (Workbench's,
//             the window's own, this one), the extra rows the program gives
//             (a replay's keys) and the on-screen controls (KelvoVis)
//   hint      "Press ? or F1 for help" for a few seconds once the data can
//             be selected, when the program asks for it (free exploration)
//   notices   switching the Qt mouse off (Ctrl+C) or the extra mice on
//             (Ctrl+T) says how to switch back, on the console and for a
//             few seconds in the 3D area
//
// Every change wakes an on-demand view. In a study the help still toggles;
// the visualization keeps everything off the touch column and the message
// band. Cost: the rows are gathered when the panel is shown.
#include <QObject>

#include <string>
#include <utility>
#include <vector>

class QAction;
class QMainWindow;
class QTKelvoWidgetGL;
class QTimer;

class Guide : public QObject {
    Q_OBJECT
public:
    using Rows = std::vector<std::pair<std::string, std::string>>;
    static constexpr int kHintMilliseconds = 6000;
    static constexpr int kNoticeMilliseconds = 6000;

    // Adds the help action to `window`; `hint`: show the start hint.
    // `extraKeys`: rows listed after the window's shortcuts.
    Guide(QMainWindow* window, QTKelvoWidgetGL* view, bool hint, Rows extraKeys = {});

    // The help panel's rows as they would be shown now.
    Rows helpRows() const;

public slots:
    void toggleHelp();

private:
    void pointersSwitched();
    // Shows `text` as the notice for `ms` milliseconds; it goes unless
    // replaced meanwhile.
    void notify(const std::string& text, int ms);

    QMainWindow* window;
    QTKelvoWidgetGL* view;
    Rows extraKeys;
    QAction* helpAction;
    QTimer* noticeTimer;
    std::string shownNotice;
};
