#include "app/StudyCheck.h"

#include "framework/runner/LatinSquare.h"
#include "framework/runner/StudyRunner.h"
#include "framework/study/FerrowDatasetManager.h"
#include "tools/ExitCode.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Trials numbered as in the results; questionnaires and breaks between them.
void PrintOrder(StudyRunner& runner, int participant)
{
    std::printf("participant %d:\n", participant);
    const StudyDefinition& study = runner.Definition();
    const std::vector<StudyTrial> trials = runner.PlanSequence(participant);
    for (const StudyStep& s : runner.PlanSteps(participant)) {
        if (s.kind == StudyStep::Trial) {
            const StudyTrial& t = trials[s.trial];
            std::printf("  %3d  %-9s %-12s %-10s %s\n", t.number, t.practice ? "practice" : "measured",
                        t.techniqueName.c_str(), t.datasetName.c_str(), t.name.c_str());
        } else if (s.kind == StudyStep::Questionnaire) {
            const Questionnaire& q = study.questionnaires[s.questionnaire].questionnaire;
            const std::string where = s.block == 0 ? "at the end" : "after block " + std::to_string(s.block);
            std::printf("       %-9s %-12s %-14s %zu item(s)\n", q.id.c_str(),
                        s.technique.empty() ? "-" : s.technique.c_str(), where.c_str(), q.items.size());
        } else {
            std::printf("       break     %g s\n", study.breaks[s.breakEntry].seconds);
        }
    }
}

}  // namespace

int CheckStudy(const PravikOptions& options)
{
    // A check must leave the disk as it found it.
    FerrowDatasetManager::Instance()->densityCache = false;
    StudyRunner& runner = *StudyRunner::Instance();
    const std::string path = options.check.toStdString();
    const std::vector<std::string> problems = runner.Load(path);
    if (!problems.empty()) {
        for (const std::string& p : problems) std::fprintf(stderr, "%s\n", p.c_str());
        std::fprintf(stderr, "%s: %zu problem(s); nothing was run or written\n", path.c_str(), problems.size());
        return kExitFailure;
    }
    std::printf("%s: no problems\n", path.c_str());
    const std::vector<FormField>& form = runner.Definition().form;
    if (!form.empty()) {
        std::string ids;
        for (const FormField& f : form) ids += (ids.empty() ? "" : ", ") + f.id;
        std::printf("participant form before the first trial: %s\n", ids.c_str());
    }
    if (options.participantGiven) {
        PrintOrder(runner, options.participant);
    } else {
        const int round = LatinSquare::RowCount(runner.TechniqueCount());
        std::printf("the first Latin-square round (%d participants):\n", round);
        for (int p = 1; p <= round; ++p) PrintOrder(runner, p);
    }
    return kExitSuccess;
}
