#include "framework/kelvo/KelvoVis.h"

#include "density/PreComputedDensity.h"
#include "framework/kelvo/ChangeNotifier.h"
#include "framework/kelvo/OSGFrameAndPlotStrategy.h"
#include "framework/kelvo/ParticleScene.h"
#include "framework/kelvo/StudyTrialControl.h"
#include "framework/kelvo/TouchManager.h"
#include "framework/ombra/ButtonComponent.h"
#include "framework/ombra/ButtonStrategy.h"
#include "framework/ombra/OmbraEvent.h"
#include "framework/ombra/SliderComponent.h"
#include "framework/ombra/SliderStrategy.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "framework/tovik/ConstantProvider.h"
#include "geometry/TechniqueRegistry.h"
#include "selection/ParticleSelection.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {
constexpr double ThresholdMinimum = 0.0;
constexpr double ThresholdMaximum = 3.0;
constexpr double ThresholdDefault = 1.0;
const char* const ComputingMessage = "Computing densities\xE2\x80\xA6";
const char* const ComputingMessagePrefix = "Computing densities";

double Round(double v)
{
    return std::floor(v + 0.5);
}

// The stroke modes' and techniques' buttons, in the order of their ids.
const char* const ModeWords[] = {"Rotate", "Lasso +", "Lasso \xE2\x88\x92", "Lasso \xE2\x88\xA9"};
// A technique's button and help word: its name, capitalised.
std::string TechniqueWord(const std::string& name)
{
    std::string word = name;
    if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 'a' + 'A');
    return word;
}
const char* const ThresholdName = "density threshold";

// A control a finger must hit is never smaller than this, in view pixels,
// however far a large layout is scaled down.
constexpr double TouchMinimum = 40.0;
} // namespace

KelvoVis::KelvoVis(WindowsFrameTimer* timer, WId window, int displayWidth, int displayHeight)
    : changeNotifier(new ChangeNotifier), timer(timer), window(window), displayWidth(std::max(displayWidth, 1)),
      displayHeight(std::max(displayHeight, 1)), viewWidth(this->displayWidth), viewHeight(this->displayHeight)
{
    FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    if (datasets->datasets.empty()) datasets->LoadBuiltIns();

    // Until the layout arrives the 3D area is the whole display.
    kelvo.width = this->displayWidth;
    kelvo.height = this->displayHeight;
    kelvo.centre = Point3d(this->displayWidth * 0.5, this->displayHeight * 0.5, 0.0);
    kelvo.mainArea = AreaRect(this->displayWidth / 2, this->displayHeight / 2, this->displayWidth, this->displayHeight);
    scene.reset(new ParticleScene(0, 0, this->displayWidth, this->displayHeight));

    study.reset(new StudyTrialControl(StudyRunner::Instance()));
    panel.reset(new StudyPanel(StudyRunner::Instance(), StudyPanelFirstId));
    frameStrategy = new OSGFrameAndPlotStrategy(scene.get(), nullptr);
    // In a study, lassos count only while a trial runs.
    frameStrategy->SetSelectionEnabled([this] { return densitiesReady && study->SelectionAllowed(); });
    frameComponent = addComponent(new VisComponent(FrameId, frameStrategy));
    host.reset(new SelectionHost(*scene, *frameStrategy));
    slider = static_cast<SliderComponent*>(addComponent(new SliderComponent(
        SliderId, ThresholdMinimum, ThresholdMaximum, ThresholdDefault,
        new SliderStrategy([this](double t) {
            frameStrategy->applyUpdateSelection(static_cast<float>(t));
            study->ThresholdChanged(*this, static_cast<float>(t));
        }))));
    undoButton = static_cast<ButtonComponent*>(addComponent(new ButtonComponent(
        UndoId, ButtonComponent::UndoIcon, new ButtonStrategy([this] {
            frameStrategy->applyUndo();
            study->Undone(*this);
        }))));
    redoButton = static_cast<ButtonComponent*>(addComponent(new ButtonComponent(
        RedoId, ButtonComponent::RedoIcon, new ButtonStrategy([this] {
            frameStrategy->applyRedo();
            study->Redone(*this);
        }))));
    clearButton = static_cast<ButtonComponent*>(addComponent(new ButtonComponent(
        ClearId, ButtonComponent::ClearIcon, new ButtonStrategy([this] {
            frameStrategy->applyClearSelection();
            study->Cleared(*this);
        }))));
    studyButton = static_cast<ButtonComponent*>(addComponent(new ButtonComponent(
        StudyId, ButtonComponent::StartIcon, new ButtonStrategy([this] { study->PressButton(*this); }))));
    for (int m = 0; m < 4; ++m) {
        modeButtons[m] = static_cast<ButtonComponent*>(addComponent(new ButtonComponent(
            RotateModeId + m, ButtonComponent::TextOnly,
            new ButtonStrategy([this, m] { SetStrokeMode(static_cast<StrokeMode>(m)); }))));
        modeButtons[m]->setText(ModeWords[m]);
    }
    for (const std::unique_ptr<Technique>& technique : TechniqueRegistry::Instance().All()) {
        const std::string name = technique->Name();
        touchTechniques.push_back(name);
        ButtonComponent* button = static_cast<ButtonComponent*>(addComponent(
            new ButtonComponent(DensityTechniqueId + static_cast<int>(techniqueButtons.size()), ButtonComponent::TextOnly,
                                new ButtonStrategy([this, name] { SetTouchTechnique(name); }))));
        button->setText(TechniqueWord(name));
        techniqueButtons.push_back(button);
    }
    updateTouchButtons();

    // Densities of an earlier visualization in this process are reused.
    densitiesReady = !datasets->datasets.empty() && DensityWorker::Computed();
    if (!densitiesReady) SetMessage(ComputingMessage);
    ShowDataset(FerrowManager::Instance()->GetCurrentDatasetNr());
    placeComponents();
}

KelvoVis::~KelvoVis()
{
    densities.Wait();
    // The selection's volumes point into the density fields: they go first
    // (the fields go with the worker, the last member).
    host.reset();
    components.clear();
    scene.reset();
    delete changeNotifier;
}

VisComponent* KelvoVis::addComponent(VisComponent* component)
{
    components.emplace_back(component);
    return component;
}

void KelvoVis::setLayout(const KelvoLayout& k, const KelvoLayout& o)
{
    kelvo = k;
    operate = o;
    laidOut = true;
    placeComponents();
}

void KelvoVis::resizeVis(int width, int height)
{
    if (width <= 0 || height <= 0) return;
    viewWidth = width;
    viewHeight = height;
    placeComponents();
}

void KelvoVis::placeComponents()
{
    // Areas are given for the display; a view of another size scales them.
    // A layout reaching beyond the display (the default layout is made for a
    // large one) shrinks until it fits, so no control lies out of reach.
    double right = 0.0, top = 0.0;
    for (const AreaRect* r : {&kelvo.mainArea, &kelvo.sideArea, &kelvo.extraArea}) {
        if (r->width <= 0 || r->height <= 0) continue;
        right = std::max(right, r->left() + r->width);
        top = std::max(top, r->bottom() + r->height);
    }
    double fit = 1.0;
    if (right > displayWidth) fit = std::min(fit, displayWidth / right);
    if (top > displayHeight) fit = std::min(fit, displayHeight / top);
    const double sx = fit * viewWidth / displayWidth;
    const double sy = fit * viewHeight / displayHeight;
    auto scaled = [&](const AreaRect& r, double& l, double& b, double& w, double& h) {
        l = Round(r.left() * sx);
        b = Round(r.bottom() * sy);
        w = Round(r.width * sx);
        h = Round(r.height * sy);
    };

    double l, b, w, h;
    scaled(kelvo.mainArea, l, b, w, h);
    // The message band lies above the 3D area when the view has room there,
    // else it takes the top of the main area.
    bandHeight = std::max(24.0, Round(h * 0.06));
    if (viewHeight - (b + h) < bandHeight && h > bandHeight * 4) h -= bandHeight;
    bandLeft = l;
    bandBottom = b + h;
    bandWidth = w;
    const double wholeWidth = w;
    // The touch controls take a column at the right of the main area.
    if (w > kMinTouchSize * 4 && h > kMinTouchSize * 4) {
        const double strip = touchColumnWidth(w, h);
        placeTouchColumn(l + w - strip, b, strip, h);
        w -= strip + Round(std::max(2.0, strip * 0.08));
    } else {
        placeTouchColumn(0, 0, 0, 0);
    }
    frameComponent->setBounds(l, b, w, h);
    // The panel covers the 3D area and the touch column, its controls the
    // size of the column's cells.
    panel->Layout(l, b, wholeWidth, h, columnCell);
    scene->SetViewport(static_cast<int>(l), static_cast<int>(b), static_cast<int>(w), static_cast<int>(h));

    // Side area: the threshold slider under a line for its value.
    double sl, sb, sw, sh;
    scaled(kelvo.sideArea, sl, sb, sw, sh);
    labelHeight = std::min(std::max(Round(18.0 * sy), 12.0), sh * 0.2);
    // Controls too small to touch grow away from the 3D area, which would
    // cover the part lying over it, and stay inside the view.
    const double mainCentre = l + w * 0.5;
    auto growX = [&](double& left, double& width, double wanted) {
        if (width >= wanted) return;
        if (left + width * 0.5 < mainCentre) left -= wanted - width;
        width = wanted;
        left = std::max(0.0, std::min(left, viewWidth - width));
    };
    if (sw > 0 && sh > 0) growX(sl, sw, TouchMinimum);
    if (sw > 0 && sh > 0)
        slider->setBounds(sl, sb, sw, sh - labelHeight);
    else
        slider->setBounds(0, 0, 0, 0);

    // Extra area: undo, redo, clear side by side along its longer side. A
    // layout without one puts them at the foot of the side area instead.
    double el, eb, ew, eh;
    scaled(kelvo.extraArea, el, eb, ew, eh);
    if ((ew <= 0 || eh <= 0) && sw > 0 && sh > 0) {
        const double band = std::min(sw * 3.0, (sh - labelHeight) * 0.4);
        el = sl;
        eb = sb;
        ew = sw;
        eh = band;
        slider->setBounds(sl, sb + band, sw, sh - labelHeight - band);
    }
    if (ew > 0 && eh > 0) {
        const bool stacked = eh > ew;
        const double grownH = std::max(eh, stacked ? 3 * TouchMinimum : TouchMinimum);
        eb = std::max(0.0, std::min(eb - (grownH - eh) * 0.5, viewHeight - grownH));
        eh = grownH;
        growX(el, ew, stacked ? TouchMinimum : 3 * TouchMinimum);
    }
    ButtonComponent* buttons[] = {undoButton, redoButton, clearButton};
    for (int i = 0; i < 3; ++i) {
        if (ew <= 0 || eh <= 0) {
            buttons[i]->setBounds(0, 0, 0, 0);
        } else if (eh > ew) {
            // Top to bottom: undo, redo, clear.
            const double bh = eh / 3.0;
            buttons[i]->setBounds(el, eb + eh - bh * (i + 1), ew, bh);
        } else {
            const double bw = ew / 3.0;
            buttons[i]->setBounds(el + bw * i, eb, bw, eh);
        }
    }
}

double KelvoVis::touchColumnWidth(double w, double h)
{
    // Cells a tenth of the area's smaller side, at least the touch size. One
    // column holds four modes, half a cell of gap, the techniques (two of
    // the library's and any others), half a cell, the study button (two
    // cells): nine cells for two techniques. A short area gets two columns:
    // the modes beside the rest.
    const double techniques = static_cast<double>(techniqueButtons.size());
    const double cells = 7 + techniques;
    columnCell = std::max(kMinTouchSize, Round(std::min(w, h) * 0.1));
    columnCount = 1;
    if (columnCell * cells > h) columnCell = std::max(kMinTouchSize, std::floor(h / cells));
    if (columnCell * cells > h) {
        columnCount = 2;
        columnCell = std::max(kMinTouchSize, std::min(columnCell * 1.5, std::floor(h / std::max(5.0, techniques + 3))));
    }
    return columnCell * columnCount;
}

void KelvoVis::placeTouchColumn(double l, double b, double w, double h)
{
    for (ButtonComponent* button : modeButtons) button->setBounds(0, 0, 0, 0);
    for (ButtonComponent* button : techniqueButtons) button->setBounds(0, 0, 0, 0);
    studyButton->setBounds(0, 0, 0, 0);
    if (w <= 0 || h <= 0) return;
    const double c = columnCell, top = b + h;
    const double right = l + w - c; // left edge of the rightmost column
    const double modes = columnCount == 2 ? l : right;
    for (int m = 0; m < 4; ++m) modeButtons[m]->setBounds(modes, top - c * (m + 1), c, c);
    // The technique is the trial's during a study.
    const double techniqueTop = columnCount == 2 ? top : top - c * 4.5;
    if (!study->IsActive())
        for (size_t t = 0; t < techniqueButtons.size(); ++t)
            techniqueButtons[t]->setBounds(right, techniqueTop - c * static_cast<double>(t + 1), c, c);
    // The study button takes the lower right corner.
    if (study->ButtonVisible()) studyButton->setBounds(right, b, c, c * 2);
}

void KelvoVis::GetMessageBand(double& left, double& bottom, double& width, double& height) const
{
    left = bandLeft;
    bottom = bandBottom;
    width = bandWidth;
    height = bandHeight;
}

void KelvoVis::SetStrokeMode(StrokeMode mode)
{
    strokeMode = mode;
    updateTouchButtons();
    changeNotifier->notify();
}

bool KelvoVis::SetTouchTechnique(const std::string& name)
{
    const auto it = std::find(touchTechniques.begin(), touchTechniques.end(), name);
    if (it == touchTechniques.end()) return false;
    touchTechnique = static_cast<size_t>(it - touchTechniques.begin());
    updateTouchButtons();
    changeNotifier->notify();
    return true;
}

ButtonComponent* KelvoVis::GetTechniqueButton(const std::string& name) const
{
    const auto it = std::find(touchTechniques.begin(), touchTechniques.end(), name);
    return it == touchTechniques.end() ? nullptr : techniqueButtons[static_cast<size_t>(it - touchTechniques.begin())];
}

void KelvoVis::updateTouchButtons()
{
    for (int m = 0; m < 4; ++m) modeButtons[m]->setSelected(m == strokeMode);
    for (size_t t = 0; t < techniqueButtons.size(); ++t) techniqueButtons[t]->setSelected(t == touchTechnique);
    // A lasso's samples must all reach it: touch moves are merged only
    // while touch strokes rotate.
    TouchManager::Instance()->SetMergeMoves(strokeMode == RotateMode);
}

void KelvoVis::ShowDataset(int nr)
{
    // A target belongs to the dataset it was read for.
    highlight.clear();
    // Free exploration keeps each dataset's selection and history for when
    // it is shown again; a study's trials start afresh.
    host->SetKeepHistories(!study->IsActive());
    host->Show(nr);
    if (densitiesReady) hostSelection();
    updateStatusLine();
}

void KelvoVis::hostSelection()
{
    host->SetComputedLassoImage(computedLassoImage);
    if (!host->Host(static_cast<float>(slider->getValue()))) return;
    const std::string& message = texts.GetMessage();
    if (!unselectableReason.empty() && message == unselectableReason) SetMessage("");
    unselectableReason = host->Reason();
    if (!unselectableReason.empty() && message.empty()) SetMessage(unselectableReason);
}

void KelvoVis::ComputeDensitiesNow()
{
    if (densitiesReady) return;
    densities.Finish();
    finishDensities();
}

void KelvoVis::finishDensities()
{
    densitiesReady = true;
    if (texts.GetMessage().rfind(ComputingMessagePrefix, 0) == 0) SetMessage("");
    hostSelection();
    changeNotifier->notify();
}

void KelvoVis::SetMessage(const std::string& text)
{
    texts.SetMessage(text);
}

bool KelvoVis::IsLassoInProgress() const
{
    return frameStrategy->IsLassoActive() || frameStrategy->IsBuildPending();
}

bool KelvoVis::DescribeBuiltLasso(LassoRecord& lasso) const
{
    return host->DescribeBuiltLasso(lasso);
}

void KelvoVis::ResetSelection()
{
    frameStrategy->applyReset();
}

void KelvoVis::PresetThreshold(float threshold)
{
    slider->setValue(threshold);
    frameStrategy->applyChangeThreshold(threshold);
}

void KelvoVis::SetView(const osg::Quat& rotation, double zoom)
{
    scene->SetView(rotation, zoom);
}

void KelvoVis::ColourParticles(const std::vector<bool>& flagged, bool target)
{
    if (target) scene->UpdateColours({}, &flagged);
    else scene->UpdateColours(flagged, shownHighlight());
}

void KelvoVis::refreshColoursIfChanged()
{
    if (!host->TakeChange()) return;
    recolour();
}

void KelvoVis::recolour()
{
    // While a study trial is presented its target keeps the highlight.
    if (const std::vector<bool>* target = study->Highlight())
        scene->UpdateColours(host->Mask(), target);
    else
        scene->UpdateColours(host->Mask(), shownHighlight());
    updateStatusLine();
}

void KelvoVis::SetHighlight(std::vector<bool> target)
{
    highlight = std::move(target);
    recolour();
}

void KelvoVis::ClearHighlight()
{
    if (highlight.empty()) return;
    highlight.clear();
    recolour();
}

void KelvoVis::SetTouchOnly(bool on)
{
    study->SetTouchOnly(on);
}

bool KelvoVis::ZoomAllowed() const
{
    return !study->IsActive() || zoomInStudy;
}

bool KelvoVis::ZoomAt(double factor, double x, double y)
{
    if (!ZoomAllowed()) return false;
    scene->ZoomAt(factor, x, y);
    return true;
}

void KelvoVis::ResetView()
{
    scene->SetView(osg::Quat(), 1.0);
}

void KelvoVis::updateStatusLine()
{
    std::string line = host->StatusLine();
    if (!line.empty() && !highlight.empty()) {
        // How much of the shown target the selection holds.
        const std::vector<bool>& mask = host->Mask();
        size_t target = 0, selected = 0;
        for (size_t i = 0; i < highlight.size(); ++i)
            if (highlight[i]) {
                ++target;
                selected += i < mask.size() && mask[i];
            }
        line += " \xC2\xB7 target " + std::to_string(target) + " (" + std::to_string(selected) + " selected)";
    }
    texts.SetStatusLine(line);
}

std::string KelvoVis::GetThresholdLabel() const
{
    return ThresholdFollowsSelection() ? ThresholdName
                                       : std::string(ThresholdName) + ": applies to the next density-aware lasso";
}

std::vector<KelvoVis::HelpRow> KelvoVis::ControlHelp()
{
    const auto& techniques = TechniqueRegistry::Instance().All();
    std::string words;
    for (const std::unique_ptr<Technique>& t : techniques) words += (words.empty() ? "" : ", ") + TechniqueWord(t->Name());
    std::vector<HelpRow> rows{
        {"slider", std::string(ThresholdName) + " of density-aware lassos"},
        {"undo, redo, clear", "step back, step forward, select nothing"},
        {std::string(ModeWords[0]) + ", " + ModeWords[1] + " \xE2\x80\xA6", "what a finger, pen or extra mouse does"},
        {words, "the technique of those lassos (a click technique takes a tap or click)"},
    };
    for (const std::unique_ptr<Technique>& t : techniques) rows.push_back({"  " + TechniqueWord(t->Name()), t->Description()});
    rows.push_back({"Start, Done", "begin and end a study trial"});
    return rows;
}

void KelvoVis::updateButtonStates()
{
    if (const ParticleSelection* selection = host->Get()) {
        undoButton->setEnabled(selection->GetUndoStack().size() > 1);
        redoButton->setEnabled(!selection->GetRedoStack().empty());
    } else {
        undoButton->setEnabled(false);
        redoButton->setEnabled(false);
    }
    clearButton->setEnabled(host->Get() != nullptr);
}

void KelvoVis::renderAll(bool)
{
    // The message has been on screen for one frame: the long computation may
    // start now, the participant knows what the pause is.
    if (!densitiesReady) {
        if (framesWithMessage < 1) {
            ++framesWithMessage;
        } else if (densities.Done() || (!densities.Running() && DensityWorker::Computed())) {
            ComputeDensitiesNow();
        } else {
            densities.Start();
            const std::string progress = DensityWorker::ProgressLine();
            if (!progress.empty()) SetMessage(progress);
        }
    }
    const int current = FerrowManager::Instance()->GetCurrentDatasetNr();
    if (current != host->Shown()) ShowDataset(current);
    if (frameStrategy->beforeFrame()) {
        study->LassoBuilt(*this);
        changeNotifier->notify();
    }
    if (study->Update(*this)) changeNotifier->notify();
    if (panel->Update(StudyRunner::Now())) changeNotifier->notify();
    const bool starts = study->ButtonStarts();
    studyButton->setIcon(starts ? ButtonComponent::StartIcon : ButtonComponent::DoneIcon);
    studyButton->setText(starts ? "Start" : "Done");
    if (studyButton->isVisible() != study->ButtonVisible() ||
        techniqueButtons[0]->isVisible() == study->IsActive())
        placeComponents();
    refreshColoursIfChanged();

    updateButtonStates();
    updateList.clear();

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    // Under the panel the trial's controls are out of reach: not drawn.
    const bool panelShown = panel->IsShown();
    for (const auto& c : components)
        if (c.get() != frameComponent && !panelShown) c->render();
    if (slider->isVisible() && !panelShown)
        texts.DrawSliderLabels(*slider, GetThresholdLabel(), labelHeight,
                               frameComponent->getLeft() + frameComponent->getWidth() * 0.5, viewWidth);
    glPopAttrib();

    // The view's own GL settings between frames are unknown to the scene
    // graph's state tracking: tell it what is really enabled, so a state set
    // that wants a mode off switches it off.
    if (osg::GraphicsContext* gc = scene->GetViewer()->getCamera()->getGraphicsContext()) {
        if (osg::State* state = gc->getState()) {
            for (GLenum mode : {GL_BLEND, GL_DEPTH_TEST, GL_LIGHTING, GL_CULL_FACE, GL_TEXTURE_2D, GL_POINT_SMOOTH,
                                GL_LINE_SMOOTH, GL_POLYGON_SMOOTH, GL_NORMALIZE, GL_DITHER})
                state->haveAppliedMode(mode, glIsEnabled(mode) ? osg::StateAttribute::ON : osg::StateAttribute::OFF);
        }
    }
}

void KelvoVis::renderTouchIndication()
{
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    panel->Render();
    const double r = std::max(6.0, kelvo.unitSize * 0.12);
    for (const auto& p : pointersDown) {
        glColor4f(1.0f, 1.0f, 1.0f, 0.35f);
        glBegin(GL_TRIANGLE_FAN);
        glVertex2d(p.second.first, p.second.second);
        for (int i = 0; i <= 24; ++i) {
            const double a = 2.0 * M_PI * i / 24.0;
            glVertex2d(p.second.first + r * std::cos(a), p.second.second + r * std::sin(a));
        }
        glEnd();
    }
    if (!texts.GetMessage().empty()) {
        texts.DrawMessage(bandLeft, bandBottom, bandWidth, bandHeight, frameComponent->getHeight(), viewWidth);
        // Nothing can be selected yet: the bar lies in the middle of the 3D area.
        if (densities.Running() && !densitiesReady)
            DensityWorker::DrawProgressBar(frameComponent->getLeft(), frameComponent->getBottom(),
                                           frameComponent->getWidth(), frameComponent->getHeight(), bandHeight);
    }
    texts.DrawOverArea(frameComponent->getLeft(), frameComponent->getBottom(), frameComponent->getWidth(),
                       frameComponent->getHeight(), !study->IsActive());
    glPopAttrib();
}

std::vector<osgViewer::Viewer*> KelvoVis::GetOsgViewer()
{
    return {scene->GetViewer()};
}

void KelvoVis::setDefaultFboId(GLuint fbo)
{
    scene->SetDefaultFboId(fbo);
}

VisComponent* KelvoVis::getComponentAt(double x, double y, bool)
{
    if (panel->IsShown()) return panel->ComponentAt(x, y);
    // Controls lie above the 3D area: ask them first.
    for (auto it = components.rbegin(); it != components.rend(); ++it)
        if ((*it)->contains(x, y)) return it->get();
    return nullptr;
}

void KelvoVis::addToUpdateList(int id)
{
    if (std::find(updateList.begin(), updateList.end(), id) == updateList.end()) updateList.push_back(id);
}

void KelvoVis::processEvent(OmbraEvent* event, VisComponent* component)
{
    if (!event) return;
    auto known = kinds.find(event->type);
    if (known == kinds.end())
        known = kinds.emplace(event->type,
                              EventKind::FromName(ConstantProvider::getInstance()->getEventTypeName(event->type)))
                    .first;
    EventKind kind = known->second;
    if (kind.gesture == EventKind::Unknown) return;

    VisComponent* target = nullptr;
    if (kind.phase == EventKind::Start) {
        // One lasso at a time, and nothing else while it is drawn: another
        // pointer's press goes nowhere (its moves and release follow it).
        if (frameStrategy->IsLassoActive()) {
            auto owner = strokeTarget.find(event->id);
            if (owner == strokeTarget.end() || owner->second != frameComponent) {
                // The view lit the control up as it hit it; ignored, it
                // must not stay lit as though it had been pressed.
                if (component && component != frameComponent) component->setHighlighted(false);
                return;
            }
        }
        target = component ? component : getComponentAt(event->x, event->y, true);
        translated.erase(event->id);
        if (target) study->Pointed(pointerSource);
        if (target == frameComponent) turnAtPress[event->id] = scene->GetDataTransform()->getMatrix();
        if (target) {
            strokeTarget[event->id] = target;
            pointersDown[event->id] = {event->x, event->y};
            // A plain stroke of a pointer without keys on the 3D area does
            // what the stroke mode says.
            if (target == frameComponent && kind.gesture == EventKind::Pointer && !pointerHasKeyboard &&
                strokeMode != RotateMode) {
                EventKind lasso;
                lasso.gesture = EventKind::Lasso;
                lasso.mode = strokeMode == PlusMode    ? EventKind::Plus
                             : strokeMode == MinusMode ? EventKind::Minus
                                                       : EventKind::Intersection;
                lasso.cylinder = GetTouchCylinder();
                lasso.technique = GetTouchTechnique();
                translated[event->id] = lasso;
            }
        }
    } else {
        // Moves and releases belong to the component that took the press.
        auto it = strokeTarget.find(event->id);
        target = it != strokeTarget.end() ? it->second : component;
        if (it != strokeTarget.end()) pointersDown[event->id] = {event->x, event->y};
    }
    auto lasso = translated.find(event->id);
    if (lasso != translated.end() && kind.gesture == EventKind::Pointer) {
        const EventKind::Phase phase = kind.phase;
        kind = lasso->second;
        kind.phase = phase;
    }

    bool changed = false;
    if (target && target->getStrategy()) changed = target->getStrategy()->apply(target, *event, kind);
    if (kind.phase == EventKind::End) {
        const auto turn = turnAtPress.find(event->id);
        if (turn != turnAtPress.end()) {
            if (turn->second != scene->GetDataTransform()->getMatrix()) study->Rotated(*this);
            turnAtPress.erase(turn);
        }
        if (target) target->setHighlighted(false);
        strokeTarget.erase(event->id);
        pointersDown.erase(event->id);
        translated.erase(event->id);
        changed = true;
    }
    if (changed) {
        updateButtonStates();
        // Moves are drawn by the view's continuous repaint; an immediate
        // repaint per move would stall input behind every frame.
        if (kind.phase != EventKind::Move) changeNotifier->notify();
    }
}
