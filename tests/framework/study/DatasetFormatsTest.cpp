// Every file format of DatasetFile on a small file written here, the errors
// of malformed ones, and what reaches the dataset manager (labels, offset).
#include "framework/study/DatasetFile.h"

#include "framework/study/FerrowDatasetManager.h"

#include <gtest/gtest.h>
#include <hdf5.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

struct Folder {
    std::string path;
    Folder()
    {
        char tmpl[] = "/tmp/datasetformats-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        std::ofstream(path + "/" + name, std::ios::binary) << bytes;
        return path + "/" + name;
    }
};

bool Load(const std::string& spec, std::vector<osg::Vec3f>& p, DatasetExtras& extras, std::string& error)
{
    error.clear();
    const bool ok = DatasetFile::Read(spec, p, extras, error);
    // A refused file returns nothing at all.
    if (!ok) {
        EXPECT_TRUE(p.empty() && extras.labels.empty() && !error.empty()) << spec;
    }
    return ok;
}

template <class T>
std::string Bytes(const std::vector<T>& values, bool bigEndian = false)
{
    std::string s;
    for (T v : values) {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &v, sizeof(T));
        for (size_t i = 0; i < sizeof(T); ++i) s += static_cast<char>(b[bigEndian ? sizeof(T) - 1 - i : i]);
    }
    return s;
}

size_t Lines(const std::string& s) { return static_cast<size_t>(std::count(s.begin(), s.end(), '\n')) + 1; }

void WriteHdf5(const std::string& path, const std::vector<std::pair<std::string, std::vector<double>>>& doubles,
               const std::vector<std::pair<std::string, std::vector<float>>>& floats, hsize_t columns = 3)
{
    const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    const hid_t links = H5Pcreate(H5P_LINK_CREATE);
    H5Pset_create_intermediate_group(links, 1);
    auto write = [&](const std::string& name, hid_t type, const void* data, size_t count) {
        const hsize_t dims[2] = {count / columns, columns};
        const hid_t space = H5Screate_simple(2, dims, nullptr);
        const hid_t set = H5Dcreate2(file, name.c_str(), type, space, links, H5P_DEFAULT, H5P_DEFAULT);
        H5Dwrite(set, type, H5S_ALL, H5S_ALL, H5P_DEFAULT, data);
        H5Dclose(set);
        H5Sclose(space);
    };
    for (const auto& d : doubles) write(d.first, H5T_NATIVE_DOUBLE, d.second.data(), d.second.size());
    for (const auto& f : floats) write(f.first, H5T_NATIVE_FLOAT, f.second.data(), f.second.size());
    H5Pclose(links);
    H5Fclose(file);
}

}  // namespace

TEST(DatasetFormats, CsvChoosesColumnsByNameAndReadsLabels)
{
    Folder dir;
    std::vector<osg::Vec3f> p;
    DatasetExtras extras;
    std::string error;
    const std::string csv = dir.Write("a.csv", "id,Z,\"X\",y,Label\n7,3,1,2,4\n\n8,-6,4.5,5,0\r\n");
    ASSERT_TRUE(Load(csv, p, extras, error)) << error;
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0], osg::Vec3f(1, 2, 3));
    EXPECT_EQ(p[1], osg::Vec3f(4.5f, 5, -6));
    EXPECT_EQ(extras.labels, (std::vector<int>{4, 0}));
    EXPECT_FALSE(extras.centred);

    // Other columns by name, tab-separated; no label column gives no labels.
    const std::string tsv = dir.Write("b.tsv", "px\tpy\tpz\tkind\n1\t2\t3\t9\n");
    ASSERT_TRUE(Load(tsv + "?x=px&y=py&z=pz&label=kind", p, extras, error)) << error;
    EXPECT_EQ(p[0], osg::Vec3f(1, 2, 3));
    EXPECT_EQ(extras.labels, std::vector<int>{9});
    ASSERT_TRUE(Load(tsv + "?x=py&y=px&z=pz", p, extras, error)) << error;
    EXPECT_EQ(p[0], osg::Vec3f(2, 1, 3));
    EXPECT_TRUE(extras.labels.empty());

    EXPECT_FALSE(Load(tsv, p, extras, error));
    EXPECT_NE(error.find("no column \"x\" (its columns: px, py, pz, kind)"), std::string::npos) << error;
    EXPECT_FALSE(Load(tsv + "?x=px&w=q", p, extras, error));
    EXPECT_NE(error.find("\"w=q\""), std::string::npos) << error;

    // Seven bad rows after good ones: five named, one true summary line.
    std::string text = "x,y,z\n1,2,3\n";
    for (int i = 0; i < 7; ++i) text += i % 2 ? "1,2\n" : "1,nan,3\n";
    text += "4,5,6\n";
    EXPECT_FALSE(Load(dir.Write("bad.csv", text), p, extras, error));
    EXPECT_EQ(Lines(error), 6u) << error;
    EXPECT_NE(error.find("line 3: column \"y\""), std::string::npos) << error;
    EXPECT_NE(error.find("line 4: expected 3 fields"), std::string::npos) << error;
    EXPECT_EQ(error.find("line 8:"), std::string::npos) << error;
    EXPECT_NE(error.find("7 malformed lines (the first 5 named above) beside 2 good ones"), std::string::npos) << error;
    EXPECT_EQ(error.find("holds no particles"), std::string::npos) << error;
}

TEST(DatasetFormats, TextNamesUpToFiveBadLinesAndOneSummary)
{
    std::vector<osg::Vec3f> p;
    std::string error;
    const std::string text = "0 0 0\n1 1\n2 2 2\nx y z\n3 3 3 3\n";
    EXPECT_FALSE(DatasetFile::ParseText(text.data(), text.size(), "t.txt", p, error));
    EXPECT_EQ(Lines(error), 4u) << error;
    EXPECT_NE(error.find("line 2:"), std::string::npos) << error;
    EXPECT_NE(error.find("line 5:"), std::string::npos) << error;
    EXPECT_NE(error.find("3 malformed lines (all named above) beside 2 good ones; the whole file is refused"),
              std::string::npos)
        << error;
}

TEST(DatasetFormats, PlyInEveryEncodingWithLabelsAndCentredDoubles)
{
    Folder dir;
    std::vector<osg::Vec3f> p;
    DatasetExtras extras;
    std::string error;
    const std::string header = "element face 1\nproperty list uchar int vertex_indices\n"
                               "element vertex 2\nproperty double x\nproperty double y\nproperty double z\n"
                               "property uchar red\nproperty short label\nend_header\n";
    // Far from the origin: float32 alone would lose the 0.25 steps.
    const std::vector<double> xyz = {1e7 + 0.25, -3.0, 2.5, 1e7 + 1.0, -1.0, 0.5};
    for (const char* format : {"ascii", "binary_little_endian", "binary_big_endian"}) {
        const bool big = std::strcmp(format, "binary_big_endian") == 0;
        std::string body;
        if (std::strcmp(format, "ascii") == 0) {
            body = "3 0 1 1\n10000000.25 -3 2.5 255 7\n10000001 -1 0.5 0 -2\n";
        } else {
            body = Bytes(std::vector<uint8_t>{3}) + Bytes(std::vector<int32_t>{0, 1, 1}, big);
            for (int v = 0; v < 2; ++v) {
                body += Bytes(std::vector<double>{xyz[3 * v], xyz[3 * v + 1], xyz[3 * v + 2]}, big);
                body += Bytes(std::vector<uint8_t>{9}) + Bytes(std::vector<int16_t>{static_cast<int16_t>(v ? -2 : 7)}, big);
            }
        }
        const std::string file = dir.Write(std::string(format) + ".ply",
                                           "ply\nformat " + std::string(format) + " 1.0\ncomment made here\n" + header + body);
        ASSERT_TRUE(Load(file, p, extras, error)) << format << ": " << error;
        ASSERT_EQ(p.size(), 2u) << format;
        EXPECT_TRUE(extras.centred);
        EXPECT_EQ(extras.offset, osg::Vec3d(1e7 + 0.625, -2.0, 1.5)) << format;
        EXPECT_EQ(p[0], osg::Vec3f(-0.375f, -1.0f, 1.0f)) << format;
        EXPECT_EQ(p[1], osg::Vec3f(0.375f, 1.0f, -1.0f)) << format;
        EXPECT_EQ(extras.labels, (std::vector<int>{7, -2})) << format;
        EXPECT_EQ(osg::Vec3d(p[0]) + extras.offset, osg::Vec3d(xyz[0], xyz[1], xyz[2])) << "mapped back exactly";

        // Cut inside the last vertex: refused with the byte offset (binary) or line.
        const std::string whole = "ply\nformat " + std::string(format) + " 1.0\n" + header + body;
        ASSERT_FALSE(Load(dir.Write("cut.ply", whole.substr(0, whole.size() - 4)), p, extras, error)) << format;
        EXPECT_NE(error.find(big || std::strcmp(format, "binary_little_endian") == 0 ? "byte offset" : "line 14"),
                  std::string::npos)
            << error;
    }
    // Float properties stay uncentred; an integer x or a missing z is refused.
    ASSERT_TRUE(Load(dir.Write("f.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                                        "property float y\nproperty float z\nend_header\n1 2 3\n"),
                     p, extras, error))
        << error;
    EXPECT_EQ(p[0], osg::Vec3f(1, 2, 3));
    EXPECT_FALSE(extras.centred);
    EXPECT_FALSE(Load(dir.Write("i.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty int x\n"
                                         "property float y\nproperty float z\nend_header\n1 2 3\n"),
                      p, extras, error));
    EXPECT_NE(error.find("x must be float or double"), std::string::npos) << error;
    EXPECT_FALSE(Load(dir.Write("n.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                                         "property float y\nend_header\n1 2\n"),
                      p, extras, error));
    EXPECT_NE(error.find("no property z"), std::string::npos) << error;
}

TEST(DatasetFormats, XyzElementsBecomeLabelsInOrderOfAppearance)
{
    Folder dir;
    std::vector<osg::Vec3f> p;
    DatasetExtras extras;
    std::string error;
    ASSERT_TRUE(Load(dir.Write("w.xyz", "4\nwater and carbon\nO 0 0 0\nH 0.96 0 0\nC 5 5 5 extra\nH -0.24 0.93 0\n"),
                     p, extras, error))
        << error;
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[2], osg::Vec3f(5, 5, 5));
    EXPECT_EQ(extras.labels, (std::vector<int>{1, 2, 3, 2}));
    ASSERT_EQ(extras.notes.size(), 1u);
    EXPECT_NE(extras.notes[0].find("labels by element: 1 = O, 2 = H, 3 = C"), std::string::npos) << extras.notes[0];

    EXPECT_FALSE(Load(dir.Write("short.xyz", "3\n\nO 0 0 0\nH 1 0 0\n"), p, extras, error));
    EXPECT_NE(error.find("the file ends after 2 of the 3 atoms"), std::string::npos) << error;
    EXPECT_FALSE(Load(dir.Write("count.xyz", "three\n\nO 0 0 0\n"), p, extras, error));
    EXPECT_NE(error.find("line 1: expected the atom count"), std::string::npos) << error;
    EXPECT_FALSE(Load(dir.Write("bad.xyz", "2\n\nO 0 0\nH 1 inf 0\n"), p, extras, error));
    EXPECT_NE(error.find("line 3: expected \"element x y z\""), std::string::npos) << error;
    EXPECT_NE(error.find("line 4: coordinate \"inf\""), std::string::npos) << error;
}

TEST(DatasetFormats, RawDoublesAreCentredAndOtherLayoutsGetAHint)
{
    Folder dir;
    std::vector<osg::Vec3f> p;
    DatasetExtras extras;
    std::string error;
    const std::vector<double> xyz = {-1e9, 5.5, 0.0, -1e9 + 2.0, 6.5, 1.0, -1e9 + 1.0, 7.5, 0.5};
    ASSERT_TRUE(Load(dir.Write("c.f64", Bytes(xyz)), p, extras, error)) << error;
    EXPECT_EQ(extras.offset, osg::Vec3d(-1e9 + 1.0, 6.5, 0.5));
    EXPECT_EQ(p[0], osg::Vec3f(-1, -1, -0.5f));
    EXPECT_EQ(p[2], osg::Vec3f(0, 1, 0));
    ASSERT_EQ(extras.notes.size(), 1u);
    EXPECT_NE(extras.notes[0].find("centred on (-999999999, 6.5, 0.5)"), std::string::npos) << extras.notes[0];
    EXPECT_FALSE(Load(dir.Write("cut.f64", Bytes(xyz).substr(1)), p, extras, error));
    EXPECT_NE(error.find("not a multiple of 24"), std::string::npos) << error;

    // The same doubles named .raw load as float32 with one hint line.
    const std::vector<double> round = {1, 2, 3, 4.5, -6, 7, 8, 9, 10, 11, 12, 13};
    ASSERT_TRUE(Load(dir.Write("d.raw", Bytes(round)), p, extras, error)) << error;
    ASSERT_EQ(extras.notes.size(), 1u);
    EXPECT_NE(extras.notes[0].find("look like little-endian float64; name it .f64"), std::string::npos);
    // Big-endian float32: refused for its non-finite values, with the hint.
    std::vector<float> floats;
    for (int i = 0; i < 30; ++i) floats.push_back(0.37f * i - 3.0f);
    // About 1.0039; stored backwards its bytes read as NaN in little-endian order.
    const uint32_t nanBackwards = 0x3F80807Fu;
    std::memcpy(&floats[4], &nanBackwards, 4);
    EXPECT_FALSE(Load(dir.Write("b.raw", Bytes(floats, true)), p, extras, error));
    EXPECT_EQ(Lines(error), 2u) << error;
    EXPECT_NE(error.find("look like big-endian float32"), std::string::npos) << error;
    // Ordinary float32 gets no note.
    floats[4] = 1.0f;
    ASSERT_TRUE(Load(dir.Write("l.raw", Bytes(floats)), p, extras, error)) << error;
    EXPECT_TRUE(extras.notes.empty());
}

TEST(DatasetFormats, Hdf5PathsGroupsAndShapes)
{
    Folder dir;
    std::vector<osg::Vec3f> p;
    DatasetExtras extras;
    std::string error;
    const std::string snapshot = dir.path + "/snap.hdf5";
    WriteHdf5(snapshot, {{"/PartType1/Coordinates", {1e8, 1, 2, 1e8 + 4, 3, 2}}},
              {{"/PartType0/Coordinates", {1.5f, 2, 3, 4, 5, 6}}, {"/Header/Pos", {0, 0, 0}}});
    EXPECT_FALSE(Load(snapshot, p, extras, error));
    EXPECT_NE(error.find("several Nx3 datasets (/Header/Pos, /PartType0/Coordinates, /PartType1/Coordinates)"), std::string::npos)
        << error;
    ASSERT_TRUE(Load(snapshot + ":/PartType1", p, extras, error)) << error;
    EXPECT_EQ(extras.offset, osg::Vec3d(1e8 + 2, 2, 2));
    EXPECT_EQ(p[0], osg::Vec3f(-2, -1, 0));
    EXPECT_TRUE(extras.centred);
    ASSERT_TRUE(Load(snapshot + ":/PartType0/Coordinates", p, extras, error)) << error;
    EXPECT_EQ(p[0], osg::Vec3f(1.5f, 2, 3));
    EXPECT_FALSE(extras.centred);
    EXPECT_FALSE(Load(snapshot + ":/PartType2", p, extras, error));
    EXPECT_NE(error.find("no dataset or group \"/PartType2\""), std::string::npos) << error;
    EXPECT_FALSE(Load(snapshot + ":/Header", p, extras, error));
    EXPECT_NE(error.find("group \"/Header\" has no dataset \"Coordinates\""), std::string::npos) << error;

    // The only Nx3 dataset is found without a path; other shapes are named.
    const std::string one = dir.path + "/one.h5";
    WriteHdf5(one, {}, {{"/pos", {1, 2, 3, 4, 5, 6}}});
    ASSERT_TRUE(Load(one, p, extras, error)) << error;
    EXPECT_EQ(p.size(), 2u);
    const std::string four = dir.path + "/four.h5";
    WriteHdf5(four, {}, {{"/pos", {1, 2, 3, 4, 5, 6, 7, 8}}}, 4);
    EXPECT_FALSE(Load(four, p, extras, error));
    EXPECT_NE(error.find("holds no Nx3 dataset (its datasets: /pos (2x4 float32))"), std::string::npos) << error;
    EXPECT_FALSE(Load(four + ":/pos", p, extras, error));
    EXPECT_NE(error.find("is 2x4 float32; particles need an Nx3 dataset"), std::string::npos) << error;
    EXPECT_FALSE(Load(dir.Write("fake.h5", "not hdf5"), p, extras, error));
    EXPECT_NE(error.find("is not an HDF5 file"), std::string::npos) << error;
    const std::string nan = dir.path + "/nan.h5";
    WriteHdf5(nan, {{"/p", {1, 2, 3, 4, std::nan(""), 6}}}, {});
    EXPECT_FALSE(Load(nan, p, extras, error));
    EXPECT_NE(error.find("particle 1 has a non-finite coordinate"), std::string::npos) << error;
}

// Counts a file declares are checked against what it can hold before any
// allocation: these would cost gigabytes, or abort, if they were believed.
TEST(DatasetFormats, DeclaredSizesBeyondTheFileAreRefusedNamingIt)
{
    Folder dir;
    std::vector<osg::Vec3f> p;
    DatasetExtras extras;
    std::string error;
    // 10^10 x 3, chunked and never written: a file of about a kilobyte.
    auto declare = [&](const std::string& name, hsize_t rows, bool compressed, hsize_t written) {
        const std::string path = dir.path + "/" + name;
        const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
        const hsize_t dims[2] = {rows, 3}, chunk[2] = {1024, 3};
        const hid_t space = H5Screate_simple(2, dims, nullptr);
        const hid_t create = H5Pcreate(H5P_DATASET_CREATE);
        H5Pset_chunk(create, 2, chunk);
        if (compressed) H5Pset_deflate(create, 6);
        const hid_t set = H5Dcreate2(file, "/pos", H5T_NATIVE_FLOAT, space, H5P_DEFAULT, create, H5P_DEFAULT);
        if (written > 0) {
            const std::vector<float> values(3 * written, 1.5f);
            const hsize_t start[2] = {0, 0}, count[2] = {written, 3};
            const hid_t memory = H5Screate_simple(2, count, nullptr);
            H5Sselect_hyperslab(space, H5S_SELECT_SET, start, nullptr, count, nullptr);
            H5Dwrite(set, H5T_NATIVE_FLOAT, memory, space, H5P_DEFAULT, values.data());
            H5Sclose(memory);
        }
        H5Dclose(set);
        H5Pclose(create);
        H5Sclose(space);
        H5Fclose(file);
        return path;
    };
    EXPECT_FALSE(Load(declare("huge.h5", 10000000000ull, false, 0), p, extras, error));
    EXPECT_NE(error.find("huge.h5\": dataset \"/pos\" declares 10000000000x3 values"), std::string::npos) << error;
    EXPECT_NE(error.find("never written"), std::string::npos) << error;
    // Partly written: the rest would be fill values nobody wrote.
    EXPECT_FALSE(Load(declare("part.h5", 1u << 20, false, 2048), p, extras, error));
    EXPECT_NE(error.find("but the file stores 24576 bytes of them"), std::string::npos) << error;
    EXPECT_FALSE(Load(declare("zpart.h5", 10000000000ull, true, 2048), p, extras, error));
    // Written whole, compressed far beyond its file size: loads.
    ASSERT_TRUE(Load(declare("z.h5", 1u << 16, true, 1u << 16), p, extras, error)) << error;
    EXPECT_EQ(p.size(), 1u << 16);
    EXPECT_EQ(p.back(), osg::Vec3f(1.5f, 1.5f, 1.5f));

    // A PLY vertex takes at least a byte per binary value (two per ASCII value).
    const std::string head = "ply\nformat binary_little_endian 1.0\nelement vertex ";
    const std::string props = "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
    const std::string body(12 * 1000, '\0');
    EXPECT_TRUE(Load(dir.Write("ok.ply", head + "1000" + props + body), p, extras, error)) << error;
    EXPECT_FALSE(Load(dir.Write("lie.ply", head + "12000" + props + body), p, extras, error));
    EXPECT_NE(error.find("lie.ply\": line 7: element vertex announces 12000 records, more than the file's 12000 "
                         "bytes after its header could hold"),
              std::string::npos)
        << error;
    const std::string ascii = "ply\nformat ascii 1.0\nelement vertex 3" + props;
    EXPECT_TRUE(Load(dir.Write("a.ply", ascii + "1 2 3\n4 5 6\n7 8 9"), p, extras, error)) << error;
    EXPECT_FALSE(Load(dir.Write("b.ply", "ply\nformat ascii 1.0\nelement vertex 4" + props + "1 2 3\n4 5 6\n7 8 9\n"),
                      p, extras, error));
    EXPECT_NE(error.find("announces 4 records"), std::string::npos) << error;
}

// A file that simply does not fit in memory is refused like any other: here
// 8 MB of blank lines, which the text reader sizes its particles from, under
// an address-space limit 32 MB above what the process uses.
TEST(DatasetFormats, AFileLargerThanMemoryIsARefusalNamingIt)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves far more address space than the limit";
#endif
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    Folder dir;
    const std::string path = dir.Write("lines.txt", std::string(8 << 20, '\n'));
    EXPECT_EXIT(
        {
            long pages = 0;
            if (FILE* f = std::fopen("/proc/self/statm", "r")) {
                if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
                std::fclose(f);
            }
            rlimit limit;
            getrlimit(RLIMIT_AS, &limit);
            limit.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (32u << 20);
            setrlimit(RLIMIT_AS, &limit);
            std::vector<osg::Vec3f> p;
            DatasetExtras extras;
            std::string error;
            const bool ok = DatasetFile::Read(path, p, extras, error);
            std::fprintf(stderr, "%s\n", error.c_str());
            std::exit(ok ? 1 : 0);
        },
        testing::ExitedWithCode(0), "lines.txt\": does not fit in this machine's memory");
}

TEST(DatasetFormats, TheManagerKeepsLabelsAndOffsetAndPrintsTheNotes)
{
    Folder dir;
    FerrowDatasetManager::Destroy();
    FerrowDatasetManager* m = FerrowDatasetManager::Instance();
    testing::internal::CaptureStdout();
    EXPECT_EQ(m->LoadFile(dir.Write("m.xyz", "2\n\nFe 1 2 3\nNi 4 5 6\n")), 0);
    EXPECT_EQ(m->LoadFile(dir.Write("c.f64", Bytes(std::vector<double>{10, 20, 30, 12, 22, 32}))), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Dataset 0: dataset file \"" + dir.path + "/m.xyz\": labels by element: 1 = Fe, 2 = Ni"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Dataset 1: "), std::string::npos) << out;
    EXPECT_EQ(m->labels[0], (std::vector<int>{1, 2}));
    EXPECT_EQ(m->offsets[1], osg::Vec3d(11, 21, 31));
    EXPECT_EQ((*m->datasets[1])[0], osg::Vec3f(-1, -1, -1));
    FerrowDatasetManager::Destroy();
}
