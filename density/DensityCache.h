#pragma once
// DensityCache: keeps estimated density fields on disk, so a program started
// again on the same data reads its fields instead of estimating them.
//
// In: a ParticleDensityField3D with its grid set and all-zero values, and the
// positions it is estimated from. Out: the field's values, bit for bit those
// ComputeDensity gives (the estimate is deterministic).
// Cost: one XXH3-128 pass over the positions (12 bytes per particle) for the
// key; a hit then reads 8 bytes per node and checks their XXH3-128 checksum,
// a miss estimates and writes the same amount.
//
// Entries live in $XDG_CACHE_HOME/trellan, or ~/.cache/trellan without it,
// one file per key (positions, grid and kEstimatorVersion). An entry is
// written to a temporary file and renamed, so a parallel reader never sees half
// of one. A truncated, corrupted or foreign entry is ignored with one console
// line and recomputed. Past kMaxBytes in all, the least recently used entries
// are removed. Whether it is used at all is the dataset manager's
// densityCache switch (--no-density-cache turns it off).
#include "density/ParticleDensityField3D.h"

#include <cstdint>
#include <string>
#include <vector>

class DensityCache {
public:
    // Raise whenever the estimate's results change, so old entries are never used.
    static const uint32_t kEstimatorVersion = 1;
    static const uint64_t kMaxBytes = 256ull << 20;

    enum Source { Computed, Cached };

    // The folder entries are kept in (not created here).
    static std::string Directory();

    // Fills field from a valid entry, or computes it and stores an entry.
    static Source Fill(ParticleDensityField3D& field, const std::vector<osg::Vec3f>& positions);
    // Removes the least recently used entries of folder until they take at
    // most maxBytes; Fill does this after each write with kMaxBytes.
    static void Prune(const std::string& folder, uint64_t maxBytes);
    // The entry file Fill reads and writes for this field and these positions.
    static std::string EntryPath(const ParticleDensityField3D& field, const std::vector<osg::Vec3f>& positions);
};
