#pragma once
// HugePageBuffer: an uninitialised array of doubles on 2 MiB pages where the
// system grants them (on ordinary pages otherwise). In: how many doubles.
// Out: data(), null when the memory cannot be had. Cost: the allocation
// rounded up to whole 2 MiB; the pages are touched only by the caller.
//
// The density estimate sums into such a copy of its grid: every row of a
// kernel lies on another page, and with 4 KiB pages most of them missed the
// address cache.
#include <cstddef>
#include <cstdlib>

#include <stdlib.h>
#include <sys/mman.h>

class HugePageBuffer {
public:
    explicit HugePageBuffer(size_t count)
    {
        const size_t huge = size_t(2) << 20;
        const size_t bytes = (count * sizeof(double) + huge - 1) / huge * huge;
        void* p = nullptr;
        if (bytes == 0 || posix_memalign(&p, huge, bytes) != 0) return;
        madvise(p, bytes, MADV_HUGEPAGE);
        memory = static_cast<double*>(p);
    }
    ~HugePageBuffer() { std::free(memory); }
    double* data() const { return memory; }
    HugePageBuffer(const HugePageBuffer&) = delete;
    HugePageBuffer& operator=(const HugePageBuffer&) = delete;

private:
    double* memory = nullptr;
};
