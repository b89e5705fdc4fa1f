// Our checks of what the HDF5 library returns, never the library's own
// parsing (a crafted file can crash it, which we cannot mend): the input
// chooses a valid file, written here through the library (datasets of any
// rank, size and type, in groups or not) and the path asked for; the reader
// must either return finite particles or refuse with a message.
#include "framework/study/DatasetFile.h"
#include "tests/fuzz/FuzzSupport.h"

#include <hdf5.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

struct Bytes {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t Next() { return at < size ? data[at++] : 0; }
};

const char* const kNames[] = {"/a", "/PartType1/Coordinates", "/g/pos", "/Coordinates", "/PartType0/Coordinates", "/g/h/i"};
const char* const kAsked[] = {"", ":/a", ":/PartType1", ":/g", ":/g/pos", ":/missing", ":/PartType0/Coordinates", ":/g/h"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    Bytes in{data, size};
    const std::string path = WriteTempFile(nullptr, 0, ".h5");
    const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0) return 0;
    const hid_t links = H5Pcreate(H5P_LINK_CREATE);
    H5Pset_create_intermediate_group(links, 1);
    const int datasets = 1 + in.Next() % 3;
    for (int d = 0; d < datasets; ++d) {
        const int rank = in.Next() % 4;  // 0: scalar
        hsize_t dims[3] = {1, 1, 1};
        hsize_t count = 1;
        // Some datasets declare up to 2^40 rows, chunked (perhaps compressed),
        // of which only the first few are written, or none.
        const uint8_t declared = in.Next();
        const bool huge = rank >= 1 && declared % 4 == 0;
        for (int r = 0; r < rank; ++r) {
            dims[r] = in.Next() % 6;
            if (r == 1 && in.Next() % 2) dims[r] = 3;
            count *= dims[r];
        }
        hsize_t written[3] = {dims[0], dims[1], dims[2]};
        if (huge) {
            dims[0] = (1ull << (declared / 4 % 41)) + in.Next() % 3;
            written[0] = std::min<hsize_t>(dims[0], in.Next() % 6);
            count = 1;
            for (int r = 0; r < rank; ++r) count *= written[r];
        }
        const hid_t types[] = {H5T_NATIVE_FLOAT, H5T_NATIVE_DOUBLE, H5T_NATIVE_INT, H5T_NATIVE_UCHAR, H5T_IEEE_F32BE};
        const hid_t type = types[in.Next() % 5];
        std::vector<uint8_t> values(count * 8);
        for (uint8_t& v : values) v = in.Next();
        const hid_t space = rank == 0 ? H5Screate(H5S_SCALAR) : H5Screate_simple(rank, dims, nullptr);
        const hid_t create = H5Pcreate(H5P_DATASET_CREATE);
        if (huge) {
            hsize_t chunk[3] = {std::min<hsize_t>(dims[0], 64), 1, 1};
            for (int r = 1; r < rank; ++r) chunk[r] = std::max<hsize_t>(dims[r], 1);
            H5Pset_chunk(create, rank, chunk);
            if (declared & 2) H5Pset_deflate(create, 1);
        }
        const hid_t set = H5Dcreate2(file, kNames[in.Next() % 6], type, space, links, create, H5P_DEFAULT);
        if (set >= 0) {
            // The bytes go in as the file's own type: any bit pattern, NaN included.
            if (!huge) {
                H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data());
            } else if (count > 0) {
                const hsize_t start[3] = {0, 0, 0};
                const hid_t memory = H5Screate_simple(rank, written, nullptr);
                H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, written, nullptr);
                H5Dwrite(set, type, memory, space, H5P_DEFAULT, values.data());
                H5Sclose(memory);
            }
            H5Dclose(set);
        }
        H5Pclose(create);
        H5Sclose(space);
    }
    H5Pclose(links);
    H5Fclose(file);

    const std::string asked = kAsked[in.Next() % 8];
    std::vector<osg::Vec3f> positions;
    DatasetExtras extras;
    std::string error;
    CheckReadOutcome(DatasetFile::Read(path + asked, positions, extras, error), positions, error);
    return 0;
}
