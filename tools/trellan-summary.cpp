// trellan-summary: sums up the trial files of a study (results/P<id>_trials*.csv)
// per technique and dataset: mean and 95 % confidence interval of the
// completion time and of F1, printed as a table and drawn into an SVG file.
#include "framework/runner/ResultsSummary.h"
#include "framework/runner/SummaryPlot.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

void Usage(FILE* out)
{
    std::fprintf(out,
                 "usage: trellan-summary [options] TRIALS.csv...\n"
                 "  --svg FILE          picture of both measures (default summary.svg)\n"
                 "  --csv FILE          the table as CSV as well\n"
                 "  --title TEXT        title of the picture\n"
                 "  --include-practice  count practice trials too\n"
                 "  --per-participant   average each participant's trials first, so each\n"
                 "                      participant is one observation\n");
}

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

}  // namespace

int main(int argc, char** argv)
{
    ResultsSummary summary;
    std::string svgPath = "summary.svg", csvPath, title = "Study summary";
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--include-practice") {
            summary.includePractice = true;
        } else if (a == "--per-participant") {
            summary.perParticipant = true;
        } else if ((a == "--svg" || a == "--csv" || a == "--title") && hasValue) {
            (a == "--svg" ? svgPath : a == "--csv" ? csvPath : title) = argv[++i];
        } else if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "trellan-summary: unknown or incomplete option '%s'\n", a.c_str());
            Usage(stderr);
            return 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "trellan-summary: no trials file given\n");
        Usage(stderr);
        return 2;
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
        return 1;
    }
    if (summary.TrialCount() == 0) {
        std::fprintf(stderr, "trellan-summary: the files hold no %strials\n",
                     summary.includePractice ? "" : "measured (non-practice) ");
        return 1;
    }
    if (const int repeated = summary.RepeatedTrials())
        std::printf("%d trial(s) have rows in more than one session (resumed or restarted); "
                    "each counts once, with its latest complete row\n",
                    repeated);
    const std::vector<SummaryGroup> groups = summary.Groups();
    std::fputs(ResultsSummary::Table(groups).c_str(), stdout);
    bool ok = WriteFile(svgPath, SummaryPlot::Svg(groups, title));
    if (!csvPath.empty()) ok = WriteFile(csvPath, ResultsSummary::Csv(groups)) && ok;
    return ok ? 0 : 1;
}
