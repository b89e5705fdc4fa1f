// HDF5 for DatasetFile. The library parses the file; what we check is what it
// returns (object kinds, ranks, dimensions, types), so a file we do not
// understand gets one clear line. A deliberately corrupted file can still
// crash the library itself.
#include "framework/study/DatasetFile.h"

#include "framework/study/DatasetParsing.h"

#include <hdf5.h>

#include <cmath>
#include <cstdint>
#include <string>

using namespace DatasetParsing;

namespace {

// Closes an HDF5 handle of any kind when it goes out of scope.
struct Handle {
    hid_t id;
    explicit Handle(hid_t id = -1) : id(id) {}
    ~Handle()
    {
        if (id >= 0) H5Idec_ref(id);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// How many datasets an error message lists.
const size_t kListed = 8;
// How far a compressed dataset may plausibly expand: deflate, the strongest
// of the usual filters, stays near 1032:1.
const hsize_t kPlausibleRatio = 1100;
// Group member holding a particle type's positions in simulation snapshots.
const char* const kCoordinates = "Coordinates";

struct Shape {
    int rank = -1;
    hsize_t dims[H5S_MAX_RANK] = {};
    H5T_class_t typeClass = H5T_NO_CLASS;
    size_t typeSize = 0;
};

bool ShapeOf(hid_t dataset, Shape& shape)
{
    Handle space(H5Dget_space(dataset));
    Handle type(H5Dget_type(dataset));
    if (space.id < 0 || type.id < 0) return false;
    shape.rank = H5Sget_simple_extent_ndims(space.id);
    if (shape.rank < 0 || shape.rank > H5S_MAX_RANK) return false;
    if (H5Sget_simple_extent_dims(space.id, shape.dims, nullptr) < 0) return false;
    shape.typeClass = H5Tget_class(type.id);
    shape.typeSize = H5Tget_size(type.id);
    return true;
}

std::string Describe(const Shape& s)
{
    std::string dims;
    for (int i = 0; i < s.rank; ++i) dims += (i ? "x" : "") + std::to_string(s.dims[i]);
    if (s.rank == 0) dims = "scalar";
    const char* kind = s.typeClass == H5T_FLOAT ? "float" : s.typeClass == H5T_INTEGER ? "integer" : "non-numeric";
    return dims + " " + kind + std::to_string(8 * s.typeSize);
}

bool IsTriples(const Shape& s)
{
    return s.rank == 2 && s.dims[1] == 3 && (s.typeClass == H5T_FLOAT || s.typeClass == H5T_INTEGER);
}

struct Survey {
    std::vector<std::string> triples;  // N×3 numeric datasets
    std::vector<std::string> others;   // every other dataset, with its shape
};

herr_t Visit(hid_t group, const char* name, const H5L_info_t* info, void* data)
{
    if (info->type != H5L_TYPE_HARD) return 0;
    Survey& survey = *static_cast<Survey*>(data);
    Handle object(H5Oopen(group, name, H5P_DEFAULT));
    if (object.id < 0 || H5Iget_type(object.id) != H5I_DATASET) return 0;
    Shape shape;
    if (!ShapeOf(object.id, shape)) return 0;
    const std::string path = "/" + std::string(name);
    if (IsTriples(shape))
        survey.triples.push_back(path);
    else
        survey.others.push_back(path + " (" + Describe(shape) + ")");
    return 0;
}

std::string List(const std::vector<std::string>& items)
{
    std::string out;
    for (size_t i = 0; i < items.size() && i < kListed; ++i) out += (i ? ", " : "") + items[i];
    if (items.size() > kListed) out += ", ... (" + std::to_string(items.size()) + " in all)";
    return out.empty() ? "none" : out;
}

}  // namespace

bool DatasetFile::ReadHdf5(const std::string& path, const std::string& object, std::vector<osg::Vec3f>& positions,
                           DatasetExtras& extras, std::string& error)
{
    positions.clear();
    extras = DatasetExtras();
    // Errors are ours to report, in one line; the library's stack dump says nothing a user can act on.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    const std::string prefix = FilePrefix(path);
    if (H5Fis_hdf5(path.c_str()) <= 0) {
        error = prefix + "is not an HDF5 file";
        return false;
    }
    Handle file(H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT));
    if (file.id < 0) {
        error = prefix + "cannot be opened as HDF5";
        return false;
    }
    Survey survey;
    H5Lvisit(file.id, H5_INDEX_NAME, H5_ITER_NATIVE, Visit, &survey);

    std::string target = object;
    if (target.empty()) {
        if (survey.triples.size() != 1) {
            error = prefix + (survey.triples.empty()
                                  ? "holds no Nx3 dataset (its datasets: " + List(survey.others) + ")"
                                  : "holds several Nx3 datasets (" + List(survey.triples) +
                                        "); name one as FILE:/path");
            return false;
        }
        target = survey.triples.front();
    }
    if (target.empty() || target[0] != '/') target = "/" + target;
    Handle found(H5Oopen(file.id, target.c_str(), H5P_DEFAULT));
    if (found.id < 0) {
        error = prefix + "has no dataset or group \"" + Excerpt(target.data(), target.data() + target.size()) +
                "\" (its Nx3 datasets: " + List(survey.triples) + ")";
        return false;
    }
    hid_t dataset = found.id;
    Handle coordinates;
    if (H5Iget_type(found.id) == H5I_GROUP) {
        if (H5Lexists(found.id, kCoordinates, H5P_DEFAULT) <= 0 ||
            (coordinates.id = H5Dopen2(found.id, kCoordinates, H5P_DEFAULT)) < 0) {
            error = prefix + "group \"" + target + "\" has no dataset \"" + kCoordinates + "\"";
            return false;
        }
        dataset = coordinates.id;
        target += std::string(target.back() == '/' ? "" : "/") + kCoordinates;
    } else if (H5Iget_type(found.id) != H5I_DATASET) {
        error = prefix + "\"" + target + "\" is neither a dataset nor a group";
        return false;
    }
    Shape shape;
    if (!ShapeOf(dataset, shape)) {
        error = prefix + "the shape of \"" + target + "\" cannot be read";
        return false;
    }
    const std::string where = prefix + "dataset \"" + target + "\" ";
    if (shape.rank != 2 || shape.dims[1] != 3) {
        error = where + "is " + Describe(shape) + "; particles need an Nx3 dataset";
        return false;
    }
    if (shape.typeClass != H5T_FLOAT || (shape.typeSize != 4 && shape.typeSize != 8)) {
        error = where + "is " + Describe(shape) + "; coordinates must be float32 or float64";
        return false;
    }
    const hsize_t n = shape.dims[0];
    if (n == 0) {
        error = where + "holds no particles";
        return false;
    }
    if (n > SIZE_MAX / 24) {
        error = where + "is too large for this machine";
        return false;
    }
    // The declared shape is the file's word: a few bytes can declare 10^10
    // rows that were never written. Only values the file stores are read.
    const hsize_t needed = n * 3 * shape.typeSize;
    const hsize_t stored = H5Dget_storage_size(dataset);
    Handle creation(H5Dget_create_plist(dataset));
    const int filters = creation.id >= 0 ? H5Pget_nfilters(creation.id) : 0;
    if (stored == 0 || (filters <= 0 ? stored < needed : needed / kPlausibleRatio > stored)) {
        error = where + "declares " + std::to_string(n) + "x3 values (" + std::to_string(needed) +
                " bytes) but the file stores " + std::to_string(stored) + " bytes of them" +
                (stored == 0 ? " (it was never written)" : "");
        return false;
    }
    const size_t count = static_cast<size_t>(n);
    if (shape.typeSize == 4) {
        static_assert(sizeof(osg::Vec3f) == 3 * sizeof(float), "positions are packed float triples");
        positions.resize(count);
        if (H5Dread(dataset, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, positions.data()) < 0) {
            positions.clear();
            error = where + "cannot be read";
            return false;
        }
        for (size_t i = 0; i < count; ++i) {
            const osg::Vec3f& p = positions[i];
            if (!std::isfinite(p.x()) || !std::isfinite(p.y()) || !std::isfinite(p.z())) {
                positions.clear();
                error = where + "row " + std::to_string(i) + " has a non-finite coordinate";
                return false;
            }
        }
        return true;
    }
    std::vector<double> values(3 * count);
    if (H5Dread(dataset, H5T_NATIVE_DOUBLE, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) < 0) {
        error = where + "cannot be read";
        return false;
    }
    if (!CentreDoubles(values.data(), count, path + ":" + target, positions, extras.offset, error)) return false;
    extras.centred = true;
    return true;
}
