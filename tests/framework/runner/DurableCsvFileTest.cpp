// DurableCsvFile on a "full disk" (WriteFaults): what is on the disk after
// failed and partial writes, the retry, and what a failed create leaves.
#include "framework/runner/DurableCsvFile.h"
#include "framework/runner/ResultsLog.h"
#include "framework/runner/WriteFaults.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

struct ClearFaults {
    ~ClearFaults() { WriteFaults::Clear(); }
};

}  // namespace

TEST(DurableCsvFile, AFullDiskLeavesOnlyCompleteRecordsAndARetryWritesEachOnce)
{
    ClearFaults clear;
    QTemporaryDir dir;
    const std::string path = dir.filePath("r.csv").toStdString();
    std::string error;
    {
        DurableCsvFile file;
        ASSERT_EQ(file.Create(path, "a,b", error), DurableCsvFile::Created);
        ASSERT_TRUE(file.Append("1,2", error));
        // The disk fills in the middle of the next record.
        WriteFaults::FailAfter(0, 3);
        EXPECT_FALSE(file.Append("3,4444", error));
        EXPECT_NE(error.find("No space left"), std::string::npos) << error;
        EXPECT_EQ(ReadFile(path), "a,b\n1,2\n");
        EXPECT_FALSE(file.Append("5,6", error));
        EXPECT_FALSE(file.Retry(error));
        EXPECT_EQ(file.Unsaved(), 2u);
        EXPECT_EQ(ReadFile(path), "a,b\n1,2\n");
        // Space again: the kept records go first, in order, once.
        WriteFaults::Clear();
        EXPECT_TRUE(file.Append("7,8", error));
        EXPECT_EQ(file.Unsaved(), 0u);
        EXPECT_TRUE(file.Retry(error));
        EXPECT_EQ(ReadFile(path), "a,b\n1,2\n3,4444\n5,6\n7,8\n");

        // Closing with records still kept saves them beside the file.
        WriteFaults::FailAfter(0, 1);
        EXPECT_FALSE(file.Append("9,10", error));
        WriteFaults::Clear();
        file.Close();
    }
    EXPECT_EQ(ReadFile(path), "a,b\n1,2\n3,4444\n5,6\n7,8\n");
    EXPECT_EQ(ReadFile(dir.filePath("r_unsaved.csv").toStdString()), "a,b\n9,10\n");
}

TEST(DurableCsvFile, AFailedCreateLeavesNothingBehind)
{
    ClearFaults clear;
    QTemporaryDir dir;
    const std::string path = dir.filePath("r.csv").toStdString();
    std::string error;
    DurableCsvFile file;
    WriteFaults::FailAfter(0, 2);
    EXPECT_EQ(file.Create(path, "a,b", error), DurableCsvFile::Failed);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(Exists(path));
    // The name is free for the next try.
    WriteFaults::Clear();
    EXPECT_EQ(file.Create(path, "a,b", error), DurableCsvFile::Created);
    EXPECT_EQ(ReadFile(path), "a,b\n");

    // A session whose lasso log cannot be created leaves no trials file
    // either, so the next session takes the first name.
    const std::string folder = dir.filePath("results").toStdString();
    ResultsLog log;
    WriteFaults::FailAfter(1);
    EXPECT_FALSE(log.Open(folder, 3, error));
    EXPECT_TRUE(QDir(QString::fromStdString(folder)).entryList(QDir::Files).isEmpty());
    WriteFaults::Clear();
    ASSERT_TRUE(log.Open(folder, 3, error)) << error;
    EXPECT_EQ(log.TrialsPath(), folder + "/P3_trials.csv");
}

TEST(DurableCsvFile, AFileWithOnlyItsHeaderIsRemovedOnRequestAndOneWithRecordsNever)
{
    ClearFaults clear;
    QTemporaryDir dir;
    std::string error;
    const std::string empty = dir.filePath("e.csv").toStdString(), full = dir.filePath("f.csv").toStdString(),
                      failed = dir.filePath("x.csv").toStdString();
    DurableCsvFile e, f, x;
    ASSERT_EQ(e.Create(empty, "a,b", error), DurableCsvFile::Created);
    ASSERT_EQ(f.Create(full, "a,b", error), DurableCsvFile::Created);
    ASSERT_EQ(x.Create(failed, "a,b", error), DurableCsvFile::Created);
    ASSERT_TRUE(f.Append("1,2", error));
    // A record that could not be written yet still counts: it is saved aside, not lost.
    WriteFaults::FailAfter(0);
    EXPECT_FALSE(x.Append("3,4", error));
    WriteFaults::Clear();
    EXPECT_TRUE(e.HoldsOnlyHeader());
    EXPECT_FALSE(f.HoldsOnlyHeader());
    EXPECT_FALSE(x.HoldsOnlyHeader());
    EXPECT_TRUE(e.CloseAndRemoveIfEmpty());
    EXPECT_FALSE(f.CloseAndRemoveIfEmpty());
    EXPECT_FALSE(x.CloseAndRemoveIfEmpty());
    EXPECT_FALSE(Exists(empty));
    EXPECT_EQ(ReadFile(full), "a,b\n1,2\n");
    EXPECT_TRUE(Exists(failed));
}
