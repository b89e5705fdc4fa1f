#include "framework/kelvo/KelvoVis.h"

#include "density/DensityProgress.h"
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
#include "framework/ombra/TextLabel.h"
#include "framework/runner/LassoRecord.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/FerrowDatasetManager.h"
#include "framework/study/FerrowManager.h"
#include "framework/tovik/ConstantProvider.h"
#include "geometry/MarchingCubesGeometry.h"
#include "selection/ParticleSelection.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
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
const char* const TechniqueWords[] = {"Density", "Cylinder"};
const char* const ThresholdName = "density threshold";
const char* const Dot = " \xC2\xB7 ";

// A control a finger must hit is never smaller than this, in view pixels,
// however far a large layout is scaled down.
constexpr double TouchMinimum = 40.0;
} // namespace

KelvoVis::KelvoVis(WindowsFrameTimer* timer, WId window, int displayWidth, int displayHeight)
    : changeNotifier(new ChangeNotifier), timer(timer), window(window), displayWidth(std::max(displayWidth, 1)),
      displayHeight(std::max(displayHeight, 1)), viewWidth(this->displayWidth), viewHeight(this->displayHeight),
      messageLabel(new TextLabel), thresholdLabel(new TextLabel), captionLabel(new TextLabel),
      noticeLabel(new TextLabel), statusLabel(new TextLabel), sliderNameLabel(new TextLabel)
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
    frameStrategy = new OSGFrameAndPlotStrategy(scene.get(), nullptr);
    // In a study, lassos count only while a trial runs.
    frameStrategy->SetSelectionEnabled([this] { return densitiesReady && study->SelectionAllowed(); });
    frameComponent = addComponent(new VisComponent(FrameId, frameStrategy));
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
    for (int t = 0; t < 2; ++t) {
        techniqueButtons[t] = static_cast<ButtonComponent*>(addComponent(new ButtonComponent(
            DensityTechniqueId + t, ButtonComponent::TextOnly, new ButtonStrategy([this, t] { SetTouchCylinder(t == 1); }))));
        techniqueButtons[t]->setText(TechniqueWords[t]);
    }
    updateTouchButtons();

    // Densities of an earlier visualization in this process are reused.
    densitiesReady = !datasets->datasets.empty() &&
                     PreComputedDensity::Instance()->densities.size() >= datasets->datasets.size();
    if (!densitiesReady) SetMessage(ComputingMessage);
    ShowDataset(FerrowManager::Instance()->GetCurrentDatasetNr());
    placeComponents();
}

KelvoVis::~KelvoVis()
{
    if (densityWorker.joinable()) densityWorker.join();
    frameStrategy->SetSelection(nullptr);
    // The selection's volumes point into the density fields: they go first.
    selection.reset();
    components.clear();
    scene.reset();
    if (ownsDensities) PreComputedDensity::Destroy();
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
    // The touch controls take a column at the right of the main area.
    if (w > kMinTouchSize * 4 && h > kMinTouchSize * 4) {
        const double strip = touchColumnWidth(w, h);
        placeTouchColumn(l + w - strip, b, strip, h);
        w -= strip + Round(std::max(2.0, strip * 0.08));
    } else {
        placeTouchColumn(0, 0, 0, 0);
    }
    frameComponent->setBounds(l, b, w, h);
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
    // column holds four modes, half a cell of gap, two techniques, half a
    // cell, the study button (two cells): nine cells. A short area gets two
    // columns: the modes beside the rest.
    columnCell = std::max(kMinTouchSize, Round(std::min(w, h) * 0.1));
    columnCount = 1;
    if (columnCell * 9 > h) columnCell = std::max(kMinTouchSize, std::floor(h / 9));
    if (columnCell * 9 > h) {
        columnCount = 2;
        columnCell = std::max(kMinTouchSize, std::min(columnCell * 1.5, std::floor(h / 5)));
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
        for (int t = 0; t < 2; ++t) techniqueButtons[t]->setBounds(right, techniqueTop - c * (t + 1), c, c);
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

void KelvoVis::SetTouchCylinder(bool cylinder)
{
    touchCylinder = cylinder;
    updateTouchButtons();
    changeNotifier->notify();
}

void KelvoVis::updateTouchButtons()
{
    for (int m = 0; m < 4; ++m) modeButtons[m]->setSelected(m == strokeMode);
    techniqueButtons[0]->setSelected(!touchCylinder);
    techniqueButtons[1]->setSelected(touchCylinder);
    // A lasso's samples must all reach it: touch moves are merged only
    // while touch strokes rotate.
    TouchManager::Instance()->SetMergeMoves(strokeMode == RotateMode);
}

void KelvoVis::ShowDataset(int nr)
{
    frameStrategy->SetSelection(nullptr);
    if (selection) {
        scene->GetDataTransform()->removeChild(selection->GetSelectionNode());
        scene->GetLassoCamera()->removeChild(selection->GetFlatTriangles());
        selection.reset();
    }
    FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    osg::Vec3Array* positions = nullptr;
    if (nr >= 0 && nr < static_cast<int>(datasets->datasets.size())) positions = datasets->datasets[nr].get();
    shownDataset = nr;
    scene->SetParticles(positions);
    mask.assign(positions ? positions->size() : 0, false);
    selectionChanged = false;
    if (densitiesReady) hostSelection();
    updateStatusLine();
}

void KelvoVis::hostSelection()
{
    if (selection || mask.empty()) return;
    // A dataset without a density field (its estimate failed, or it came
    // after the estimate) can be looked at, not selected.
    const std::vector<boost::shared_ptr<ParticleDensityField3D>>& fields = PreComputedDensity::Instance()->densities;
    const ParticleDensityField3D* field =
        shownDataset >= 0 && shownDataset < static_cast<int>(fields.size()) ? fields[static_cast<size_t>(shownDataset)].get()
                                                                            : nullptr;
    std::string reason;
    if (field) {
        selection.reset(new ParticleSelection(scene->GetViewer(), scene->GetPlotCamera(), &mask, &selectionChanged));
        if (computedLassoImage) selection->SetLassoImageSource(ParticleSelection::LassoImageSource::Computed);
        scene->GetDataTransform()->addChild(selection->GetSelectionNode());
        scene->GetLassoCamera()->addChild(selection->GetFlatTriangles());
        selection->ResetSelection();
        selection->ChangeThreshold(static_cast<float>(slider->getValue()));
        frameStrategy->SetSelection(selection.get());
        // A field without volume or without any density selects nothing: say so
        // on screen, not only on the console.
        const bool noExtent = field->xMax <= field->xMin && field->yMax <= field->yMin && field->zMax <= field->zMin;
        reason = noExtent ? "All particles lie at one point: nothing can be selected"
                 : field->Mean() == 0.0 ? "Too few particles for a density: nothing can be selected"
                                        : "";
    } else {
        reason = "No density for this dataset: nothing can be selected";
        printf("Dataset %d cannot be selected: it has no density field\n", shownDataset);
    }
    if (!unselectableReason.empty() && message == unselectableReason) SetMessage("");
    unselectableReason = reason;
    if (!reason.empty() && message.empty()) SetMessage(reason);
}

void KelvoVis::ComputeDensitiesNow()
{
    if (densitiesReady) return;
    if (densityWorker.joinable()) {
        densityWorker.join();
    } else if (PreComputedDensity::Instance()->densities.size() < FerrowDatasetManager::Instance()->datasets.size()) {
        PreComputedDensity::Instance()->computeDensities();
        ownsDensities = true;
    }
    finishDensities();
}

void KelvoVis::finishDensities()
{
    densitiesReady = true;
    if (message.rfind(ComputingMessagePrefix, 0) == 0) SetMessage("");
    hostSelection();
    changeNotifier->notify();
}

void KelvoVis::SetMessage(const std::string& text)
{
    message = text;
}

KelvoVis::DatasetStatus KelvoVis::GetDatasetStatus() const
{
    DatasetStatus status;
    const FerrowDatasetManager* datasets = FerrowDatasetManager::Instance();
    status.datasets = static_cast<int>(datasets->datasets.size());
    if (shownDataset < 0 || shownDataset >= status.datasets) return status;
    status.number = shownDataset;
    status.name = datasets->names[shownDataset];
    status.particles = mask.size();
    status.selected = static_cast<std::size_t>(std::count(mask.begin(), mask.end(), true));
    return status;
}

bool KelvoVis::IsLassoInProgress() const
{
    return frameStrategy->IsLassoActive() || frameStrategy->IsBuildPending();
}

bool KelvoVis::DescribeBuiltLasso(LassoRecord& lasso) const
{
    if (!selection) return false;
    const osg::Camera* camera = scene->GetViewer()->getCamera();
    const int mode = selection->GetSelectionMode();
    lasso.mode = mode == 2 ? LassoRecord::Minus : mode == 3 ? LassoRecord::Intersection : LassoRecord::Plus;
    lasso.threshold = selection->GetThreshold();
    lasso.viewportX = scene->GetViewportX();
    lasso.viewportY = scene->GetViewportY();
    lasso.viewportWidth = scene->GetViewportWidth();
    lasso.viewportHeight = scene->GetViewportHeight();
    lasso.model = scene->GetDataTransform()->getMatrix();
    lasso.view = camera->getViewMatrix();
    lasso.projection = camera->getProjectionMatrix();
    lasso.points = frameStrategy->GetBuiltLasso();
    return true;
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
    scene->UpdateColours(flagged, target ? ParticleScene::TargetColour : ParticleScene::SelectedColour);
}

void KelvoVis::refreshColoursIfChanged()
{
    if (!selectionChanged) return;
    selectionChanged = false;
    // While a study trial is presented its target keeps the highlight.
    if (const std::vector<bool>* target = study->Highlight())
        scene->UpdateColours(*target, ParticleScene::TargetColour);
    else
        scene->UpdateColours(mask);
    updateStatusLine();
}

void KelvoVis::updateStatusLine()
{
    const DatasetStatus s = GetDatasetStatus();
    if (s.number < 0) {
        statusLine.clear();
        return;
    }
    // Which of several: Page Up and Page Down step through them.
    const std::string of =
        s.datasets > 1 ? " (" + std::to_string(s.number + 1) + " of " + std::to_string(s.datasets) + ")" : "";
    statusLine = s.name.substr(s.name.find_last_of('/') + 1) + of + Dot + std::to_string(s.particles) + " particles" +
                 Dot + std::to_string(s.selected) + " selected";
}

bool KelvoVis::ThresholdFollowsSelection() const
{
    if (!selection) return false;
    // A lasso waiting for its frames is built with the slider's value.
    if (frameStrategy->IsBuildPending()) return FerrowManager::Instance()->IsPravikSelection();
    // Only the density-aware volume re-thresholds; undo, redo, clear and
    // reset drop the current volume.
    return dynamic_cast<const MarchingCubesGeometry*>(selection->GetCurrentVolume().get()) != nullptr;
}

std::string KelvoVis::GetThresholdLabel() const
{
    return ThresholdFollowsSelection() ? ThresholdName
                                       : std::string(ThresholdName) + ": applies to the next density-aware lasso";
}

std::vector<KelvoVis::HelpRow> KelvoVis::ControlHelp()
{
    return {
        {"slider", std::string(ThresholdName) + " of density-aware lassos"},
        {"undo, redo, clear", "step back, step forward, select nothing"},
        {std::string(ModeWords[0]) + ", " + ModeWords[1] + " \xE2\x80\xA6", "what a finger, pen or extra mouse does"},
        {std::string(TechniqueWords[0]) + ", " + TechniqueWords[1], "the technique of those lassos"},
        {"Start, Done", "begin and end a study trial"},
    };
}

void KelvoVis::drawExplanations()
{
    const double l = frameComponent->getLeft(), b = frameComponent->getBottom();
    const double w = frameComponent->getWidth(), h = frameComponent->getHeight();
    if (w <= 0 || h <= 0) return;
    const int size = static_cast<int>(std::max(11.0, std::min(16.0, h * 0.03)));
    const double inset = std::max(4.0, size * 0.5);
    double above = b + inset;
    // A participant sees no counts: they would be a hint the study does not give.
    if (!statusLine.empty() && !study->IsActive()) {
        statusLabel->fitText(statusLine, size, TextLabel::Ground, static_cast<int>(w - 2 * inset));
        statusLabel->draw(l + inset, b + inset);
        above += statusLabel->height() + inset;
    }
    if (!notice.empty()) {
        noticeLabel->fitText(notice, size + 4, TextLabel::Ground, static_cast<int>(w - 2 * inset));
        noticeLabel->draw(l + std::max(0.0, (w - noticeLabel->width()) * 0.5), std::max(above, b + h * 0.12));
    }
    if (helpShown) {
        helpPanel.fit(size + 2, static_cast<int>(w - 2 * inset), static_cast<int>(h - 2 * inset));
        helpPanel.draw(l + std::max(0.0, (w - helpPanel.width()) * 0.5),
                       b + std::max(0.0, (h - helpPanel.height()) * 0.5));
    }
}

void KelvoVis::updateButtonStates()
{
    if (selection) {
        undoButton->setEnabled(selection->GetUndoStack().size() > 1);
        redoButton->setEnabled(!selection->GetRedoStack().empty());
    } else {
        undoButton->setEnabled(false);
        redoButton->setEnabled(false);
    }
    clearButton->setEnabled(selection != nullptr);
}

void KelvoVis::renderAll(bool)
{
    // The message has been on screen for one frame: the long computation may
    // start now, the participant knows what the pause is.
    if (!densitiesReady) {
        if (framesWithMessage < 1) {
            ++framesWithMessage;
        } else if (densitiesDone) {
            ComputeDensitiesNow();
        } else if (!densityWorker.joinable() &&
                   PreComputedDensity::Instance()->densities.size() >= FerrowDatasetManager::Instance()->datasets.size()) {
            ComputeDensitiesNow();
        } else {
            if (!densityWorker.joinable()) {
                // Off the GUI thread, so the window stays responsive; nothing
                // reads a field before densitiesDone says all are complete.
                // A thread of its own rather than a task: the estimate's
                // parallel loops then have this thread and every worker,
                // where a task would leave the GUI thread's share unused.
                ownsDensities = true;
                densityWorker = std::thread([this] {
                    try {
                        PreComputedDensity::Instance()->computeDensities();
                    } catch (const std::exception& e) {
                        std::printf("Density precomputation failed: %s\n", e.what());
                    }
                    densitiesDone = true;
                });
            }
            const DensityProgress::Snapshot p = DensityProgress::Current();
            const std::vector<std::string>& names = FerrowDatasetManager::Instance()->names;
            const int nr = p.dataset >= 0 && p.dataset < static_cast<int>(names.size()) ? p.dataset : 0;
            if (!names.empty()) {
                const std::string& name = names[static_cast<size_t>(nr)];
                SetMessage(std::string(ComputingMessagePrefix) + " of " + name.substr(name.find_last_of('/') + 1) +
                           " (" + std::to_string(nr + 1) + " of " + std::to_string(names.size()) + ")\xE2\x80\xA6");
            }
        }
    }
    const int current = FerrowManager::Instance()->GetCurrentDatasetNr();
    if (current != shownDataset) ShowDataset(current);
    if (frameStrategy->beforeFrame()) {
        study->LassoBuilt(*this);
        changeNotifier->notify();
    }
    if (study->Update(*this)) changeNotifier->notify();
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
    for (const auto& c : components)
        if (c.get() != frameComponent) c->render();
    if (slider->isVisible()) {
        char text[32];
        snprintf(text, sizeof text, "%.2f", slider->getValue());
        thresholdLabel->setText(text, static_cast<int>(std::max(10.0, labelHeight * 0.8)));
        const double x = slider->getLeft() + (slider->getWidth() - thresholdLabel->width()) * 0.5;
        thresholdLabel->draw(std::max(0.0, x), slider->getBottom() + slider->getHeight());
        // Its name runs along it on the side away from the 3D area, or on
        // the slider's own outer edge when the view leaves no room there.
        const bool vertical = slider->isVertical();
        const int size = static_cast<int>(std::max(10.0, labelHeight * 0.7));
        sliderNameLabel->fitText(GetThresholdLabel(), size, vertical ? TextLabel::Vertical : TextLabel::Plain,
                                 static_cast<int>(vertical ? slider->getHeight() : slider->getWidth()));
        if (vertical) {
            const bool outerLeft = slider->getLeft() + slider->getWidth() * 0.5 <
                                   frameComponent->getLeft() + frameComponent->getWidth() * 0.5;
            double nx = outerLeft ? slider->getLeft() - sliderNameLabel->width() - 2
                                  : slider->getLeft() + slider->getWidth() + 2;
            nx = std::max(0.0, std::min(nx, viewWidth - static_cast<double>(sliderNameLabel->width())));
            sliderNameLabel->draw(nx, slider->getBottom() + (slider->getHeight() - sliderNameLabel->height()) * 0.5);
        } else {
            sliderNameLabel->draw(slider->getLeft(), std::max(0.0, slider->getBottom() - sliderNameLabel->height()));
        }
    }
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
    if (!message.empty()) {
        // In the band above the 3D area, centred on it; a long line gets a
        // smaller font until it fits the band (at the smallest size it may
        // reach beyond it, within the view).
        // Fitted once per text and band, not every frame.
        if (message != fittedMessage || bandWidth != fittedWidth) {
            fittedMessage = message;
            fittedWidth = bandWidth;
            int size =
                static_cast<int>(std::min(bandHeight * 0.7, std::max(14.0, frameComponent->getHeight() * 0.04)));
            messageLabel->setText(message, size);
            while (size > 9 && messageLabel->width() > bandWidth) messageLabel->setText(message, --size);
        }
        double x = bandLeft + (bandWidth - messageLabel->width()) * 0.5;
        x = std::max(0.0, std::min(x, viewWidth - static_cast<double>(messageLabel->width())));
        const double y = bandBottom + (bandHeight - messageLabel->height()) * 0.5;
        messageLabel->draw(x, std::max(0.0, y));
        if (densityWorker.joinable() && !densitiesReady) {
            // Progress bar in the middle of the 3D area (nothing can be
            // selected yet): outline, then the share done.
            const double w = frameComponent->getWidth() * 0.4, h = std::max(8.0, bandHeight * 0.3);
            const double bx = frameComponent->getLeft() + (frameComponent->getWidth() - w) * 0.5;
            const double by = frameComponent->getBottom() + (frameComponent->getHeight() - h) * 0.5;
            const double done = w * DensityProgress::Current().Fraction();
            const auto rectangle = [&](GLenum mode, double width) {
                glBegin(mode);
                glVertex2d(bx, by);
                glVertex2d(bx + width, by);
                glVertex2d(bx + width, by + h);
                glVertex2d(bx, by + h);
                glEnd();
            };
            glColor4f(1.0f, 1.0f, 1.0f, 0.8f);
            rectangle(GL_QUADS, done);
            rectangle(GL_LINE_LOOP, w);
        }
    }
    if (outline.size() > 1) {
        glColor4f(1.0f, 0.85f, 0.2f, 0.9f);
        glLineWidth(2.0f);
        glBegin(GL_LINE_LOOP);
        for (const osg::Vec2f& p : outline) glVertex2f(p.x(), p.y());
        glEnd();
    }
    if (!caption.empty()) {
        const int size = static_cast<int>(std::max(12.0, frameComponent->getHeight() * 0.025));
        captionLabel->setText(caption, size);
        const double top = frameComponent->getBottom() + frameComponent->getHeight();
        captionLabel->draw(frameComponent->getLeft() + size * 0.5, std::max(0.0, top - captionLabel->height() - size * 0.5));
    }
    drawExplanations();
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
            if (owner == strokeTarget.end() || owner->second != frameComponent) return;
        }
        target = component ? component : getComponentAt(event->x, event->y, true);
        translated.erase(event->id);
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
                lasso.cylinder = touchCylinder;
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
