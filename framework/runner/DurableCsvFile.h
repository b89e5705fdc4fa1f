#pragma once
// DurableCsvFile: an append-only results file whose every record is on the
// disk before Append returns (write, then fsync). It is always a new file: an
// existing one is never opened, so no earlier session can be overwritten, and
// the folder entry is synced too, so the file itself survives a power cut.
//
// A write that fails (a full disk, an I/O error) never leaves a fragment for
// the next record to be glued to: the file is cut back to its last complete
// record before anything else goes into it. The record that failed, and every
// later one, stays in memory in order (Unsaved()) until Retry() writes them;
// Close() saves what is still unsaved in a new file beside this one, and a
// failed Create removes what it made.
#include <string>
#include <sys/types.h>
#include <vector>

class DurableCsvFile {
public:
    DurableCsvFile() = default;
    ~DurableCsvFile();
    DurableCsvFile(const DurableCsvFile&) = delete;
    DurableCsvFile& operator=(const DurableCsvFile&) = delete;

    enum CreateResult { Created, Exists, Failed };
    // Creates `path` (never an existing file) and writes the header record.
    CreateResult Create(const std::string& path, const std::string& header, std::string& error);
    // Writes one record (its line end added here) and syncs it. On failure
    // the record is kept for Retry() and `error` says why; while records are
    // kept, a new one joins them behind the older ones.
    bool Append(const std::string& record, std::string& error);
    // Writes the kept records, oldest first; true once none is left.
    bool Retry(std::string& error);
    size_t Unsaved() const { return unsaved.size(); }
    // Closes the file. Kept records go to a new file beside it (the name's
    // ".csv" becomes "_unsaved.csv", then "_unsaved_2.csv", ...); the line
    // saying where, or that they could not be saved, goes to stderr.
    void Close();
    // True when no record but the header was written or is waiting.
    bool HoldsOnlyHeader() const;
    // Closes the file and removes it if it holds only its header: a session
    // that failed to start, or stopped before its first record, leaves no
    // file to be mistaken for one that ran. True when it was removed.
    bool CloseAndRemoveIfEmpty();
    bool IsOpen() const { return fd >= 0; }
    const std::string& Path() const { return path; }

private:
    bool WriteRecord(const std::string& bytes, std::string& error);
    bool WriteAll(const std::string& bytes, std::string& error);
    void SaveAside();
    int fd = -1;
    std::string path;
    std::string header;
    off_t complete = 0;      // the file's size after its last complete record
    bool mustCut = false;    // a fragment past `complete` could not be cut off yet
    std::vector<std::string> unsaved;
};
