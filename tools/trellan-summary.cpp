// trellan-summary: sums up the trial files of a study (results/P<id>_trials*.csv)
// per technique and dataset: mean and 95 % interval of the mean (percentile
// bootstrap, so it stays within the measure's range) of the completion time
// and of F1, printed as a table and drawn into an SVG file. With --paired it
// compares the techniques within subjects instead (PairedSummary), TLX and
// SUS scores included where answers files are given.
#include "framework/runner/PairedSummary.h"
#include "framework/runner/ResultsSummary.h"
#include "framework/runner/SummaryPlot.h"
#include "tools/CommandLine.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

bool WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write\n", path.c_str());
        return false;
    }
    return true;
}

// Everything the command line sets. A new option is a member here and one
// line in AddOptions.
struct Options {
    std::string svgPath = "summary.svg", csvPath, longPath, title = "Study summary";
    bool paired = false;
    std::vector<std::string> files;
};

void AddOptions(CLI::App& app, Options& o, ResultsSummary& summary)
{
    app.add_option("--svg", o.svgPath, "picture of both measures (default summary.svg)")->type_name("FILE");
    app.add_option("--csv", o.csvPath, "the table as CSV as well")->type_name("FILE");
    app.add_option("--title", o.title, "title of the picture")->type_name("TEXT");
    app.add_flag("--include-practice", summary.includePractice, "count practice trials too");
    app.add_flag("--per-participant", summary.perParticipant,
                 "average each participant's trials first, so each participant is one observation");
    app.add_flag("--paired", o.paired,
                 "compare the techniques within subjects: per measure and pair of techniques the mean "
                 "difference, paired t-test, Wilcoxon signed-rank test, Cohen's dz and Holm-adjusted p");
    app.add_option("--long", o.longPath, "the per-participant means as a tidy table "
                                         "(participant,technique,measure,value)")->type_name("FILE");
    app.add_option("trials", o.files, "trial files of the study (results/P<id>_trials*.csv), and answers "
                                      "files (results/P<id>_answers*.csv) for the questionnaires' scores")
        ->type_name("FILE");
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ResultsSummary summary;
    Options o;
    CLI::App app("Sums up the trial files of a study per technique and dataset: mean and 95 % interval\n"
                 "(percentile bootstrap of the mean) of completion time and F1, printed as a table and\n"
                 "drawn into an SVG file.",
                 "trellan-summary");
    AddOptions(app, o, summary);
    SetUpCommandLine(app);
    const int early = ParseCommandLine(app, argc, argv);
    if (early >= 0) return early;
    const std::vector<std::string>& files = o.files;
    if (files.empty()) {
        PrintCommandLineMistake("trellan-summary", "no trials file given");
        return kExitUsage;
    }
    // A summary that silently skipped a broken file would misreport the study:
    // every problem is listed and nothing is written.
    std::vector<std::string> problems;
    for (const std::string& f : files) {
        const std::vector<std::string> p = summary.AddFile(f);
        problems.insert(problems.end(), p.begin(), p.end());
    }
    if (!problems.empty()) {
        for (const std::string& p : problems) std::fprintf(stderr, "%s\n", p.c_str());
        return kExitFailure;
    }
    if (summary.TrialCount() == 0) {
        std::fprintf(stderr, "trellan-summary: the files hold no %strials\n",
                     summary.includePractice ? "" : "measured (non-practice) ");
        return kExitFailure;
    }
    if (const int repeated = summary.RepeatedTrials())
        std::printf("%d trial(s) have rows in more than one session (resumed or restarted); "
                    "each counts once, with its latest complete row\n",
                    repeated);
    if (summary.Pilot()) std::printf("pilot data (pilot=1): a trial run of the study, not its results\n");
    bool ok = true;
    if (!o.longPath.empty()) ok = WriteFile(o.longPath, PairedSummary::LongCsv(summary.ParticipantMeans()));
    if (o.paired) {
        const std::vector<ParticipantMean> means = summary.ParticipantMeans();
        const std::vector<std::string> techniques = summary.Techniques();
        const std::vector<PairedRow> rows = PairedSummary::Rows(means, techniques);
        if (rows.empty()) {
            std::fprintf(stderr, "trellan-summary: no participant has measured trials of two techniques\n");
            return kExitFailure;
        }
        std::fputs(PairedSummary::Table(rows).c_str(), stdout);
        std::printf("mean_a-b: mean of the per-participant differences; %s\n%s\n", SampleStatistics::IntervalRule,
                    PairedSummary::WilcoxonRule);
        ok = WriteFile(o.svgPath, SummaryPlot::PairedSvg(means, rows, techniques, o.title)) && ok;
        if (!o.csvPath.empty()) ok = WriteFile(o.csvPath, PairedSummary::Csv(rows)) && ok;
        return ok ? kExitSuccess : kExitFailure;
    }
    const std::vector<SummaryGroup> groups = summary.Groups();
    std::fputs(ResultsSummary::Table(groups).c_str(), stdout);
    std::printf("%s\n", SampleStatistics::IntervalRule);
    ok = WriteFile(o.svgPath, SummaryPlot::Svg(groups, o.title)) && ok;
    if (!o.csvPath.empty()) ok = WriteFile(o.csvPath, ResultsSummary::Csv(groups)) && ok;
    return ok ? kExitSuccess : kExitFailure;
}
