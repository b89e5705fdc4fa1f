#include "density/DensityCache.h"

#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> tempCounter{0};

const char kMagic[8] = {'T', 'R', 'L', 'D', 'E', 'N', 'S', '1'};
const char* const kSuffix = ".density";

// Everything an entry says about itself before its values.
struct Header {
    char magic[8];
    uint32_t version;
    uint32_t reserved;
    uint64_t keyLow, keyHigh;
    int32_t counts[3];
    int32_t padding;
    double bounds[6];
    uint64_t nodeCount;
};

XXH128_hash_t Key(const ParticleDensityField3D& field, const std::vector<osg::Vec3f>& positions)
{
    XXH3_state_t* state = XXH3_createState();
    XXH3_128bits_reset(state);
    const uint32_t version = DensityCache::kEstimatorVersion;
    const int32_t counts[3] = {field.xCount, field.yCount, field.zCount};
    const double bounds[6] = {field.xMin, field.xMax, field.yMin, field.yMax, field.zMin, field.zMax};
    const uint64_t n = positions.size();
    XXH3_128bits_update(state, &version, sizeof version);
    XXH3_128bits_update(state, counts, sizeof counts);
    XXH3_128bits_update(state, bounds, sizeof bounds);
    XXH3_128bits_update(state, &n, sizeof n);
    XXH3_128bits_update(state, positions.data(), positions.size() * sizeof(osg::Vec3f));
    const XXH128_hash_t key = XXH3_128bits_digest(state);
    XXH3_freeState(state);
    return key;
}

Header MakeHeader(const ParticleDensityField3D& field, XXH128_hash_t key)
{
    Header h;
    std::memset(&h, 0, sizeof h);
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    h.version = DensityCache::kEstimatorVersion;
    h.keyLow = key.low64;
    h.keyHigh = key.high64;
    h.counts[0] = field.xCount;
    h.counts[1] = field.yCount;
    h.counts[2] = field.zCount;
    const double bounds[6] = {field.xMin, field.xMax, field.yMin, field.yMax, field.zMin, field.zMax};
    std::memcpy(h.bounds, bounds, sizeof bounds);
    h.nodeCount = field.values.size();
    return h;
}

std::string Hex(XXH128_hash_t key)
{
    char text[33];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(key.high64),
                  static_cast<unsigned long long>(key.low64));
    return text;
}

XXH128_hash_t Checksum(const Header& header, const std::vector<double>& values)
{
    XXH3_state_t* state = XXH3_createState();
    XXH3_128bits_reset(state);
    XXH3_128bits_update(state, &header, sizeof header);
    XXH3_128bits_update(state, values.data(), values.size() * sizeof(double));
    const XXH128_hash_t sum = XXH3_128bits_digest(state);
    XXH3_freeState(state);
    return sum;
}

// Reads a valid entry into values; a missing file is a plain miss, a damaged
// one says why in `damage`.
bool ReadEntry(const std::string& path, const Header& expected, std::vector<double>& values, std::string& damage)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    Header header;
    std::vector<double> read(expected.nodeCount);
    XXH128_hash_t stored;
    const bool complete = std::fread(&header, sizeof header, 1, f) == 1 &&
                          std::memcmp(header.magic, kMagic, sizeof kMagic) == 0 &&
                          header.nodeCount == expected.nodeCount &&
                          std::fread(read.data(), sizeof(double), read.size(), f) == read.size() &&
                          std::fread(&stored, sizeof stored, 1, f) == 1;
    const bool trailing = complete && std::fgetc(f) != EOF;
    std::fclose(f);
    if (!complete || trailing) {
        damage = complete ? "longer than an entry" : "truncated or not an entry";
        return false;
    }
    if (std::memcmp(&header, &expected, sizeof header) != 0) {
        damage = "made for other data or another estimator version";
        return false;
    }
    const XXH128_hash_t sum = Checksum(header, read);
    if (sum.low64 != stored.low64 || sum.high64 != stored.high64) {
        damage = "checksum mismatch";
        return false;
    }
    values.swap(read);
    return true;
}

}  // namespace

void DensityCache::Prune(const std::string& folder, uint64_t maxBytes)
{
    const fs::path dir(folder);
    std::error_code ec;
    std::vector<std::pair<fs::file_time_type, fs::path>> entries;
    uintmax_t total = 0;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() != kSuffix) continue;
        const uintmax_t size = it->file_size(ec);
        if (ec) continue;
        total += size;
        entries.emplace_back(it->last_write_time(ec), it->path());
    }
    std::sort(entries.begin(), entries.end());
    for (const auto& e : entries) {
        if (total <= maxBytes) break;
        const uintmax_t size = fs::file_size(e.second, ec);
        if (fs::remove(e.second, ec)) total -= size;
    }
}

namespace {

void WriteEntry(const std::string& path, const Header& header, const std::vector<double>& values)
{
    std::error_code ec;
    const fs::path dir = fs::path(path).parent_path();
    fs::create_directories(dir, ec);
    const std::string temp = path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(tempCounter++);
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    bool ok = f != nullptr;
    if (ok) {
        const XXH128_hash_t sum = Checksum(header, values);
        ok = std::fwrite(&header, sizeof header, 1, f) == 1 &&
             std::fwrite(values.data(), sizeof(double), values.size(), f) == values.size() &&
             std::fwrite(&sum, sizeof sum, 1, f) == 1;
        ok = std::fclose(f) == 0 && ok;
    }
    if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        std::printf("Density cache: cannot write %s (%s); the next start estimates again\n", path.c_str(),
                    std::strerror(errno));
        std::remove(temp.c_str());
        return;
    }
    DensityCache::Prune(dir.string(), DensityCache::kMaxBytes);
}

}  // namespace

std::string DensityCache::Directory()
{
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/trellan";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.cache/trellan";
}

std::string DensityCache::EntryPath(const ParticleDensityField3D& field, const std::vector<osg::Vec3f>& positions)
{
    return Directory() + "/" + Hex(Key(field, positions)) + kSuffix;
}

DensityCache::Source DensityCache::Fill(ParticleDensityField3D& field, const std::vector<osg::Vec3f>& positions)
{
    // Tiny inputs are estimated (or refused) faster than an entry is read.
    if (positions.size() < 5) {
        field.ComputeDensity(positions);
        return Computed;
    }
    const XXH128_hash_t key = Key(field, positions);
    const std::string path = Directory() + "/" + Hex(key) + kSuffix;
    const Header header = MakeHeader(field, key);
    std::string damage;
    std::vector<double> values;
    if (ReadEntry(path, header, values, damage)) {
        field.values.swap(values);
        std::error_code ec;
        fs::last_write_time(path, fs::file_time_type::clock::now(), ec);
        return Cached;
    }
    if (!damage.empty()) std::printf("Density cache: ignoring entry %s (%s); estimating again\n", path.c_str(), damage.c_str());
    field.ComputeDensity(positions);
    WriteEntry(path, header, field.values);
    return Computed;
}
