#include "framework/kelvo/DensityWorker.h"

#include "density/DensityProgress.h"
#include "density/PreComputedDensity.h"
#include "framework/study/FerrowDatasetManager.h"

#include <osg/GL>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

DensityWorker::~DensityWorker()
{
    Wait();
    if (owns) PreComputedDensity::Destroy();
}

bool DensityWorker::Computed()
{
    return PreComputedDensity::Instance()->densities.size() >= FerrowDatasetManager::Instance()->datasets.size();
}

void DensityWorker::Start()
{
    if (worker.joinable()) return;
    // Off the GUI thread, so the window stays responsive; nothing reads a
    // field before done says all are complete. A thread of its own rather
    // than a task: the estimate's parallel loops then have this thread and
    // every worker, where a task would leave the GUI thread's share unused.
    owns = true;
    worker = std::thread([this] {
        try {
            PreComputedDensity::Instance()->computeDensities();
        } catch (const std::exception& e) {
            std::printf("Density precomputation failed: %s\n", e.what());
        }
        done = true;
    });
}

void DensityWorker::Finish()
{
    if (worker.joinable()) {
        worker.join();
    } else if (!Computed()) {
        PreComputedDensity::Instance()->computeDensities();
        owns = true;
    }
}

void DensityWorker::Wait()
{
    if (worker.joinable()) worker.join();
}

std::string DensityWorker::ProgressLine()
{
    const DensityProgress::Snapshot p = DensityProgress::Current();
    const std::vector<std::string>& names = FerrowDatasetManager::Instance()->names;
    if (names.empty()) return "";
    const int nr = p.dataset >= 0 && p.dataset < static_cast<int>(names.size()) ? p.dataset : 0;
    const std::string& name = names[static_cast<size_t>(nr)];
    return "Computing densities of " + name.substr(name.find_last_of('/') + 1) + " (" + std::to_string(nr + 1) +
           " of " + std::to_string(names.size()) + ")\xE2\x80\xA6";
}

void DensityWorker::DrawProgressBar(double l, double b, double w, double h, double bandHeight)
{
    // Outline, then the share done.
    const double bw = w * 0.4, bh = std::max(8.0, bandHeight * 0.3);
    const double bx = l + (w - bw) * 0.5;
    const double by = b + (h - bh) * 0.5;
    const double done = bw * DensityProgress::Current().Fraction();
    const auto rectangle = [&](GLenum mode, double width) {
        glBegin(mode);
        glVertex2d(bx, by);
        glVertex2d(bx + width, by);
        glVertex2d(bx + width, by + bh);
        glVertex2d(bx, by + bh);
        glEnd();
    };
    glColor4f(1.0f, 1.0f, 1.0f, 0.8f);
    rectangle(GL_QUADS, done);
    rectangle(GL_LINE_LOOP, bw);
}
