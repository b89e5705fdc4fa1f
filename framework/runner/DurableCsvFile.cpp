#include "framework/runner/DurableCsvFile.h"

#include "framework/runner/WriteFaults.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Folder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void SyncFolder(const std::string& path)
{
    const int dir = ::open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// "P1_trials.csv" -> "P1_trials_unsaved.csv", then "_unsaved_2.csv", ...
std::string AsideName(const std::string& path, int k)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : "";
    return stem + "_unsaved" + (k > 1 ? "_" + std::to_string(k) : "") + extension;
}

}  // namespace

DurableCsvFile::~DurableCsvFile()
{
    Close();
}

void DurableCsvFile::Close()
{
    if (!unsaved.empty()) SaveAside();
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool DurableCsvFile::HoldsOnlyHeader() const
{
    return fd >= 0 && unsaved.empty() && !mustCut && complete == static_cast<off_t>(header.size() + 1);
}

bool DurableCsvFile::CloseAndRemoveIfEmpty()
{
    const bool empty = HoldsOnlyHeader();
    Close();
    if (!empty) return false;
    ::unlink(path.c_str());
    SyncFolder(path);
    return true;
}

void DurableCsvFile::SaveAside()
{
    std::vector<std::string> rows;
    rows.swap(unsaved);
    std::string error;
    for (int k = 1; k < 100; ++k) {
        DurableCsvFile aside;
        const std::string name = AsideName(path, k);
        const CreateResult made = aside.Create(name, header, error);
        if (made == Exists) continue;
        bool ok = made == Created;
        for (size_t i = 0; ok && i < rows.size(); ++i) ok = aside.WriteRecord(rows[i] + "\n", error);
        if (ok) {
            aside.Close();
            std::fprintf(stderr, "%s: %zu row(s) that could not be written are saved in %s\n", path.c_str(),
                         rows.size(), name.c_str());
            return;
        }
        ::unlink(name.c_str());
        break;
    }
    // Nowhere to put them on the disk: the console is the last place they can go.
    std::fprintf(stderr, "%s: %zu row(s) could not be saved (%s); they follow:\n", path.c_str(), rows.size(),
                 error.c_str());
    for (const std::string& row : rows) std::fprintf(stderr, "%s\n", row.c_str());
}

DurableCsvFile::CreateResult DurableCsvFile::Create(const std::string& filePath, const std::string& headerRecord,
                                                    std::string& error)
{
    Close();
    // O_EXCL makes "does it exist" and "create it" one step: two sessions
    // started at once cannot both take the same name.
    fd = ::open(filePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST) return Exists;
        error = filePath + ": cannot create: " + std::strerror(errno);
        return Failed;
    }
    path = filePath;
    header = headerRecord;
    complete = 0;
    mustCut = false;
    if (!WriteRecord(header + "\n", error)) {
        // A header-less file would only block its name for the next session.
        ::close(fd);
        fd = -1;
        ::unlink(filePath.c_str());
        return Failed;
    }
    SyncFolder(filePath);
    return Created;
}

bool DurableCsvFile::WriteAll(const std::string& bytes, std::string& error)
{
    size_t done = 0;
    while (done < bytes.size()) {
        bool fails = false;
        const size_t allowed = WriteFaults::Allowed(bytes.size() - done, fails);
        const ssize_t n = allowed > 0 ? ::write(fd, bytes.data() + done, allowed) : 0;
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) done += static_cast<size_t>(n);
        if (fails) errno = ENOSPC;
        if (n <= 0 || fails) {
            error = path + ": cannot write: " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool DurableCsvFile::WriteRecord(const std::string& bytes, std::string& error)
{
    if (mustCut) {
        if (::ftruncate(fd, complete) != 0) {
            error = path + ": cannot cut off an unfinished record: " + std::strerror(errno);
            return false;
        }
        mustCut = false;
    }
    // One write call for the whole record: a process killed between records
    // leaves only complete ones behind.
    bool ok = WriteAll(bytes, error);
    if (ok && ::fsync(fd) != 0) {
        error = path + ": cannot sync to disk: " + std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        // The fragment goes now if it can, else before the next write.
        mustCut = ::ftruncate(fd, complete) != 0 || ::fsync(fd) != 0;
        return false;
    }
    complete += static_cast<off_t>(bytes.size());
    return true;
}

bool DurableCsvFile::Append(const std::string& record, std::string& error)
{
    if (fd < 0) {
        error = "results file is not open";
        return false;
    }
    unsaved.push_back(record);
    return Retry(error);
}

bool DurableCsvFile::Retry(std::string& error)
{
    if (unsaved.empty()) return true;
    if (fd < 0) {
        error = "results file is not open";
        return false;
    }
    size_t written = 0;
    while (written < unsaved.size() && WriteRecord(unsaved[written] + "\n", error)) ++written;
    unsaved.erase(unsaved.begin(), unsaved.begin() + static_cast<std::ptrdiff_t>(written));
    return unsaved.empty();
}
