#include "density/DensityCache.h"

#include "density/PreComputedDensity.h"
#include "framework/study/FerrowDatasetManager.h"
#include "tests/support/DatasetFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

// Points XDG_CACHE_HOME at a fresh folder for one test.
struct TemporaryCacheHome {
    std::string path;
    std::string saved;
    bool hadSaved;
    TemporaryCacheHome()
    {
        char tmpl[] = "/tmp/densitycache-XXXXXX";
        path = mkdtemp(tmpl);
        const char* old = std::getenv("XDG_CACHE_HOME");
        hadSaved = old != nullptr;
        if (old) saved = old;
        setenv("XDG_CACHE_HOME", path.c_str(), 1);
    }
    ~TemporaryCacheHome()
    {
        std::filesystem::remove_all(path);
        if (hadSaved)
            setenv("XDG_CACHE_HOME", saved.c_str(), 1);
        else
            unsetenv("XDG_CACHE_HOME");
    }
};

ParticleDensityField3D Grid() { return ParticleDensityField3D(-5.5, 5.5, 24, -5.5, 5.5, 24, -5.5, 5.5, 24); }

bool SameBits(const ParticleDensityField3D& a, const ParticleDensityField3D& b)
{
    return a.values.size() == b.values.size() &&
           std::memcmp(a.values.data(), b.values.data(), a.values.size() * sizeof(double)) == 0;
}

// Fill on a fresh grid, with what it printed.
DensityCache::Source FillFresh(const std::vector<osg::Vec3f>& positions, ParticleDensityField3D& field, std::string& out)
{
    field = Grid();
    testing::internal::CaptureStdout();
    const DensityCache::Source source = DensityCache::Fill(field, positions);
    out = testing::internal::GetCapturedStdout();
    return source;
}

}  // namespace

TEST(DensityCache, CachedFieldsEqualComputedOnesAndDamagedEntriesAreRecomputed)
{
    TemporaryCacheHome home;
    const osg::ref_ptr<osg::Vec3Array> cloud = DatasetFixture::BlobInNoise(3000, 3000);
    const std::vector<osg::Vec3f>& positions = cloud->asVector();
    ParticleDensityField3D reference = Grid();
    reference.ComputeDensity(positions);
    ASSERT_GT(reference.Mean(), 0.0);

    ParticleDensityField3D field = Grid();
    const std::string entry = DensityCache::EntryPath(field, positions);
    EXPECT_EQ(entry.rfind(home.path + "/trellan/", 0), 0u) << entry;
    std::string out;
    EXPECT_EQ(FillFresh(positions, field, out), DensityCache::Computed);
    EXPECT_TRUE(SameBits(field, reference));
    ASSERT_TRUE(std::filesystem::exists(entry));
    EXPECT_EQ(FillFresh(positions, field, out), DensityCache::Cached);
    EXPECT_TRUE(SameBits(field, reference)) << "a cached field is the computed one, bit for bit";
    EXPECT_EQ(out, "");

    // Damage of every kind: one line, estimated again, and the entry mended.
    const auto size = std::filesystem::file_size(entry);
    struct Damage {
        const char* what;
        std::function<void()> apply;
    } damages[] = {
        {"checksum mismatch",
         [&] {
             std::fstream f(entry, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(static_cast<std::streamoff>(size / 2));
             f.put('\x5a');
         }},
        {"truncated or not an entry", [&] { std::filesystem::resize_file(entry, size - 9); }},
        {"longer than an entry", [&] { std::ofstream(entry, std::ios::app | std::ios::binary) << "x"; }},
        {"made for other data or another estimator version", [&] {
             // An entry for other positions, renamed into this one's place.
             std::vector<osg::Vec3f> moved = positions;
             moved[0].x() += 0.5f;
             ParticleDensityField3D other = Grid();
             DensityCache::Fill(other, moved);
             std::filesystem::rename(DensityCache::EntryPath(other, moved), entry);
         }},
    };
    for (const Damage& d : damages) {
        testing::internal::CaptureStdout();
        d.apply();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(FillFresh(positions, field, out), DensityCache::Computed) << d.what;
        EXPECT_EQ(out, "Density cache: ignoring entry " + entry + " (" + d.what + "); estimating again\n");
        EXPECT_TRUE(SameBits(field, reference)) << d.what;
        EXPECT_EQ(FillFresh(positions, field, out), DensityCache::Cached) << d.what;
    }
}

TEST(DensityCache, TheSwitchOffLeavesTheCacheUntouched)
{
    TemporaryCacheHome home;
    PreComputedDensity::Destroy();
    FerrowDatasetManager::Destroy();
    FerrowDatasetManager::Instance()->Add("cloud", DatasetFixture::BlobInNoise(500, 500));
    FerrowDatasetManager::Instance()->densityCache = false;
    testing::internal::CaptureStdout();
    PreComputedDensity::Instance()->computeDensities();
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(std::filesystem::exists(home.path + "/trellan"));
    FerrowDatasetManager::Instance()->densityCache = true;
    PreComputedDensity::Destroy();  // a dataset with a field keeps it
    testing::internal::CaptureStdout();
    PreComputedDensity::Instance()->computeDensities();
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(std::filesystem::is_empty(home.path + "/trellan"));
    PreComputedDensity::Destroy();
    FerrowDatasetManager::Destroy();
}

TEST(DensityCache, PruningRemovesTheLeastRecentlyUsedEntriesFirst)
{
    TemporaryCacheHome home;
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(home.path) / "trellan";
    fs::create_directories(dir);
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < 5; ++i) {
        const fs::path entry = dir / (std::to_string(i) + ".density");
        std::ofstream(entry) << std::string(100, 'x');
        fs::last_write_time(entry, now - std::chrono::hours(5 - i));  // 0 is the oldest
    }
    std::ofstream(dir / "other.txt") << std::string(1000, 'y');  // not an entry: kept, not counted
    DensityCache::Prune(dir.string(), 250);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(fs::exists(dir / (std::to_string(i) + ".density")), i >= 3) << i;
    EXPECT_TRUE(fs::exists(dir / "other.txt"));
}
