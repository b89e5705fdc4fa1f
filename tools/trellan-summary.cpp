// trellan-summary: sums up the trial files of a study (results/P<id>_trials*.csv)
// per technique and dataset: mean and 95 % interval of the mean (percentile
// bootstrap, so it stays within the measure's range) of the completion time
// and of F1, printed as a table and drawn into an SVG file.
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
    std::string svgPath = "summary.svg", csvPath, title = "Study summary";
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
    app.add_option("trials", o.files, "trial files of the study (results/P<id>_trials*.csv)")->type_name("FILE");
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
    const std::vector<SummaryGroup> groups = summary.Groups();
    std::fputs(ResultsSummary::Table(groups).c_str(), stdout);
    std::printf("%s\n", SampleStatistics::IntervalRule);
    bool ok = WriteFile(o.svgPath, SummaryPlot::Svg(groups, o.title));
    if (!o.csvPath.empty()) ok = WriteFile(o.csvPath, ResultsSummary::Csv(groups)) && ok;
    return ok ? kExitSuccess : kExitFailure;
}
