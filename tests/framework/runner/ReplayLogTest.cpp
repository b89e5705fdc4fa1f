#include "framework/runner/ReplayLog.h"

#include "framework/runner/EventsLog.h"
#include "framework/runner/ResultsLog.h"
#include "tests/framework/runner/StudyTestFiles.h"

#include <gtest/gtest.h>

namespace {

// A lasso row of trial `trial` as the results log writes it.
std::string LassoLine(int trial, int lasso, long long selected)
{
    LassoRow row;
    row.participant = 4;
    row.trial = trial;
    row.lasso = lasso;
    row.dataset = "c";
    row.technique = "density";
    row.record.viewportWidth = 640;
    row.record.viewportHeight = 480;
    row.record.points = {{1, 1}, {9, 1}, {9, 9}};
    row.record.selectedAfter = selected;
    return ResultsLog::LassoRecordText(row) + "\n";
}

std::string EventLine(int trial, int afterLasso, EventRow::Command command, long long selected)
{
    EventRow row;
    row.participant = 4;
    row.trial = trial;
    row.afterLasso = afterLasso;
    row.dataset = "c";
    row.command = command;
    row.selected = selected;
    return EventsLog::RecordText(row) + "\n";
}

std::string Header(const std::vector<std::string>& columns)
{
    std::string text;
    for (const std::string& c : columns) text += (text.empty() ? "" : ",") + c;
    return text + "\n";
}

}  // namespace

TEST(ReplayLog, EventsFallBetweenTheLassosTheyFollowedAndOlderLogsReadWithout)
{
    StudyTestFolder folder;
    EXPECT_EQ(EventsLog::PathFor("r/P4_lassos_2.csv"), "r/P4_events_2.csv");
    EXPECT_EQ(EventsLog::PathFor("r_lassos/log.csv"), "r_lassos/log_events.csv");

    const std::string lassos = folder.Write("P4_lassos.csv", Header(ResultsLog::LassoColumns()) + LassoLine(1, 1, 10) +
                                                                 LassoLine(1, 2, 25) + LassoLine(2, 1, 7));
    ReplayLog log;
    std::string error;
    ASSERT_TRUE(log.Read(lassos, error)) << error;
    EXPECT_FALSE(log.HasEvents());
    ASSERT_EQ(log.Trials().size(), 2u);
    EXPECT_EQ(log.Trials()[0].steps.size(), 2u);
    EXPECT_EQ(log.Trials()[1].dataset, "c");

    // Written in the order they happened: a clear before any lasso, an undo
    // and a threshold change after the first, a redo after the second.
    folder.Write("P4_events.csv", Header(EventsLog::Columns()) + EventLine(1, 0, EventRow::Clear, 0) +
                                      EventLine(1, 1, EventRow::Undo, 0) + EventLine(1, 1, EventRow::Threshold, 0) +
                                      EventLine(1, 2, EventRow::Redo, 10) + EventLine(2, 1, EventRow::Undo, 0));
    ASSERT_TRUE(log.Read(lassos, error)) << error;
    EXPECT_TRUE(log.HasEvents());
    std::string order;
    for (const ReplayStep& s : log.Trials()[0].steps) order += std::string(s.KindName()) + " ";
    EXPECT_EQ(order, "clear lasso undo threshold lasso redo ");
    EXPECT_EQ(log.Trials()[0].steps[4].logged, 25);
    EXPECT_EQ(log.Trials()[0].steps[5].logged, 10);
    EXPECT_EQ(log.Trials()[1].steps.size(), 2u);

    // A row that cannot be placed names its file and line.
    folder.Write("P4_events.csv", Header(EventsLog::Columns()) + EventLine(1, 3, EventRow::Undo, 0));
    EXPECT_FALSE(log.Read(lassos, error));
    EXPECT_NE(error.find("P4_events.csv:2: after_lasso 3 but the trial has 2 lassos"), std::string::npos) << error;
    folder.Write("P4_events.csv", Header(EventsLog::Columns()) + "4,1,0,0.5,c,rewind,1,0,0\n");
    EXPECT_FALSE(log.Read(lassos, error));
    EXPECT_NE(error.find("P4_events.csv:2: unknown command 'rewind'"), std::string::npos) << error;
}
