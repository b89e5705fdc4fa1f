#include "app/Guide.h"

#include "app/QTKelvoWidgetGL.h"
#include "app/TwoMice.h"
#include "framework/kelvo/KelvoVis.h"

#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QTimer>

#include <cstdio>

namespace {
// Qt's short key names, as a keyboard labels them.
std::string KeyName(const QKeySequence& keys)
{
    QString s = keys.toString(QKeySequence::NativeText);
    s.replace("PgDown", "Page Down").replace("PgUp", "Page Up").replace("Esc", "Escape");
    return s.toStdString();
}
}  // namespace

Guide::Guide(QMainWindow* window, QTKelvoWidgetGL* view, bool hint, Rows extraKeys)
    : QObject(window), window(window), view(view), extraKeys(std::move(extraKeys)),
      helpAction(new QAction(tr("&Help"), window)), noticeTimer(new QTimer(this))
{
    helpAction->setShortcuts({QKeySequence(Qt::Key_F1), QKeySequence(Qt::Key_Question)});
    helpAction->setShortcutContext(Qt::ApplicationShortcut);
    helpAction->setWhatsThis(tr("this help on and off"));
    connect(helpAction, &QAction::triggered, this, &Guide::toggleHelp);
    window->addAction(helpAction);

    noticeTimer->setSingleShot(true);
    connect(noticeTimer, &QTimer::timeout, this, [this] {
        KelvoVis* vis = this->view->getVis();
        if (vis && vis->GetNotice() == shownNotice) vis->SetNotice("");
        this->view->wake();
    });
    connect(view, &QTKelvoWidgetGL::pointersSwitched, this, &Guide::pointersSwitched);
    if (!hint) return;
    // The hint waits until the data can be selected: before, the screen
    // says what is being computed.
    QTimer* ready = new QTimer(this);
    connect(ready, &QTimer::timeout, this, [this, ready] {
        KelvoVis* vis = this->view->getVis();
        if (!vis || !vis->DensitiesReady()) return;
        ready->stop();
        if (!vis->IsHelpShown() && vis->GetNotice().empty()) notify("Press ? or F1 for help", kHintMilliseconds);
    });
    ready->start(100);
}

Guide::Rows Guide::helpRows() const
{
    Rows rows{{"Mouse in the 3D area", ""}};
    for (const auto& r : QTKelvoWidgetGL::KeyHelp()) rows.push_back(r);
    rows.emplace_back("Keys", "");
    for (const QAction* action : window->actions()) {
        if (action->shortcuts().isEmpty() || action->whatsThis().isEmpty()) continue;
        std::string keys;
        for (const QKeySequence& k : action->shortcuts()) keys += (keys.empty() ? "" : ", ") + KeyName(k);
        rows.emplace_back(keys, action->whatsThis().toStdString());
    }
    for (const auto& r : extraKeys) rows.push_back(r);
    rows.emplace_back("On screen", "");
    for (const auto& r : KelvoVis::ControlHelp()) rows.push_back(r);
    return rows;
}

void Guide::toggleHelp()
{
    KelvoVis* vis = view->getVis();
    if (!vis) return;
    const bool show = !vis->IsHelpShown();
    if (show) vis->SetHelp(helpRows());
    vis->SetHelpShown(show);
    // The hint has done its job.
    if (show && vis->GetNotice() == shownNotice) vis->SetNotice("");
    view->wake();
}

void Guide::pointersSwitched()
{
    if (view->isTwoMiceEnabled()) {
        const std::string found = available_micereal > 0 ? " (" + std::to_string(available_micereal) + " found)"
                                                          : ", but none was found";
        notify("Extra mice on" + found + "; the mouse is off: Ctrl+T switches it back on", kNoticeMilliseconds);
    } else if (!view->isMouseEnabled()) {
        notify("Mouse off (touch input only): Ctrl+C switches it back on", kNoticeMilliseconds);
    } else {
        notify("Mouse on", kNoticeMilliseconds / 2);
    }
}

void Guide::notify(const std::string& text, int ms)
{
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    if (KelvoVis* vis = view->getVis()) {
        vis->SetNotice(text);
        shownNotice = text;
        noticeTimer->start(ms);
    }
    view->wake();
}
