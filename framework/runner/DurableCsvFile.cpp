#include "framework/runner/DurableCsvFile.h"

#include <cerrno>
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

}  // namespace

DurableCsvFile::~DurableCsvFile()
{
    Close();
}

void DurableCsvFile::Close()
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

DurableCsvFile::CreateResult DurableCsvFile::Create(const std::string& filePath, const std::string& header,
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
    if (!Append(header, error)) return Failed;
    const int dir = ::open(Folder(filePath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return Created;
}

bool DurableCsvFile::WriteAll(const std::string& bytes, std::string& error)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = path + ": cannot write: " + std::strerror(errno);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool DurableCsvFile::Append(const std::string& record, std::string& error)
{
    if (fd < 0) {
        error = "results file is not open";
        return false;
    }
    // One write call for the whole record: a process killed between records
    // leaves only complete ones behind.
    if (!WriteAll(record + "\n", error)) return false;
    if (::fsync(fd) != 0) {
        error = path + ": cannot sync to disk: " + std::strerror(errno);
        return false;
    }
    return true;
}
