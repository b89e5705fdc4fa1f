#include "framework/study/DatasetFile.h"

#include "framework/study/FerrowDatasetManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// A scratch directory removed with its files at the end of each test.
struct TempDir {
    std::string path;
    std::vector<std::string> files;
    TempDir()
    {
        char tmpl[] = "/tmp/datasetfile-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir()
    {
        for (const std::string& f : files) std::remove(f.c_str());
        rmdir(path.c_str());
    }
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << bytes;
        files.push_back(p);
        return p;
    }
};

bool ParseText(const std::string& text, std::vector<osg::Vec3f>& out, std::string& error)
{
    return DatasetFile::ParseText(text.data(), text.size(), "t.txt", out, error);
}

std::string RawBytes(std::initializer_list<float> values)
{
    std::string s;
    for (float v : values) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        for (int i = 0; i < 4; ++i) s += static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
    return s;
}

}  // namespace

TEST(DatasetFile, TextAcceptsSpacesCommasCommentsAndBlankLines)
{
    std::vector<osg::Vec3f> p;
    std::string error;
    const std::string text =
        "# header comment\n"
        "1 2 3\n"
        "\n"
        "  4.5,\t-6e2 , +7   # trailing comment\r\n"
        "\t\n"
        "-0.25,0.5,1e-3\n"
        "8\t9\t10";  // no final newline
    ASSERT_TRUE(ParseText(text, p, error)) << error;
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0], osg::Vec3f(1, 2, 3));
    EXPECT_EQ(p[1], osg::Vec3f(4.5f, -600.0f, 7.0f));
    EXPECT_EQ(p[2], osg::Vec3f(-0.25f, 0.5f, 0.001f));
    EXPECT_EQ(p[3], osg::Vec3f(8, 9, 10));
    // Underflow to zero is harmless, however it is written.
    ASSERT_TRUE(ParseText("1e-400 0.000" + std::string(400, '0') + "1e+5 -0.01e-99999999999\n", p, error)) << error;
    EXPECT_EQ(p[0], osg::Vec3f(0, 0, 0));
}

TEST(DatasetFile, MalformedTextRejectsTheFileNamingTheLine)
{
    const char* bad[] = {"1 2\n", "1 2 3 4\n", "1,,2,3\n", "1 2 x\n", "a b c\n", "1 2 3,\n",
                         "1;2;3\n", "++1 2 3\n", "+-1 2 3\n", "1 2 3abc\n", "- 1 2\n"};
    for (const char* line : bad) {
        std::vector<osg::Vec3f> p;
        std::string error;
        const std::string text = std::string("0 0 0\n# ok\n") + line;
        EXPECT_FALSE(ParseText(text, p, error)) << line;
        EXPECT_TRUE(p.empty()) << line;
        EXPECT_NE(error.find("\"t.txt\""), std::string::npos) << error;
        EXPECT_NE(error.find("line 3"), std::string::npos) << error;
    }
    // Overflow is decided by the magnitude, a "-" in the exponent or not.
    const std::string huge = "1" + std::string(400, '0');
    const std::string notFinite[] = {"nan 0 0\n", "0 inf 0\n", "0 0 -infinity\n", "1e39 0 0\n", "0 0 -1e300\n",
                                     huge + "e-5 0 0\n", "0 -" + huge + ".5e-60 0\n", "0 0 1e99999999999\n"};
    for (const std::string& line : notFinite) {
        std::vector<osg::Vec3f> p;
        std::string error;
        EXPECT_FALSE(ParseText(line, p, error)) << line;
        EXPECT_NE(error.find("line 1"), std::string::npos) << error;
        EXPECT_NE(error.find("not a finite single-precision number"), std::string::npos) << error;
    }
    std::vector<osg::Vec3f> p;
    std::string error;
    EXPECT_FALSE(ParseText("# nothing\n\n   \n", p, error));
    EXPECT_NE(error.find("holds no particles"), std::string::npos) << error;
    EXPECT_FALSE(ParseText("", p, error));
    EXPECT_FALSE(ParseText(std::string("1 2 3\n4 5\0 6\n", 13), p, error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

TEST(DatasetFile, RawFloatTriples)
{
    std::vector<osg::Vec3f> p;
    std::string error;
    const std::string bytes = RawBytes({1, 2, 3, -4.5f, 5e-3f, 6e20f});
    ASSERT_TRUE(DatasetFile::ParseRaw(bytes.data(), bytes.size(), "r.raw", p, error)) << error;
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1], osg::Vec3f(-4.5f, 5e-3f, 6e20f));

    EXPECT_FALSE(DatasetFile::ParseRaw(bytes.data(), 13, "r.raw", p, error));
    EXPECT_NE(error.find("13 bytes is not a multiple of 12"), std::string::npos) << error;
    EXPECT_TRUE(p.empty());
    EXPECT_FALSE(DatasetFile::ParseRaw(bytes.data(), 0, "r.raw", p, error));
    EXPECT_NE(error.find("holds no particles"), std::string::npos) << error;
    const std::string nan = RawBytes({1, 2, 3, 4, std::nanf(""), 6});
    EXPECT_FALSE(DatasetFile::ParseRaw(nan.data(), nan.size(), "r.raw", p, error));
    EXPECT_NE(error.find("particle 1"), std::string::npos) << error;

    EXPECT_TRUE(DatasetFile::IsRawName("a/b.RAW"));
    EXPECT_TRUE(DatasetFile::IsRawName("x.bin"));
    EXPECT_TRUE(DatasetFile::IsRawName("x.f32"));
    EXPECT_FALSE(DatasetFile::IsRawName("x.txt"));
    EXPECT_FALSE(DatasetFile::IsRawName("dir.raw/x"));
    EXPECT_FALSE(DatasetFile::IsRawName("raw"));
}

TEST(DatasetFile, ReadsFilesAndNamesTheOnesItCannot)
{
    TempDir dir;
    std::vector<osg::Vec3f> written = {{1, 2, 3}, {-1, 0.5f, 1e-7f}, {1e30f, -2, 0}};
    std::string error;
    const std::string raw = dir.path + "/cloud.f32";
    dir.files.push_back(raw);
    ASSERT_TRUE(DatasetFile::WriteRaw(raw, written, error)) << error;
    std::vector<osg::Vec3f> read;
    ASSERT_TRUE(DatasetFile::Read(raw, read, error)) << error;
    EXPECT_EQ(read, written);

    const std::string text = dir.Write("cloud.txt", "1 2 3\n4,5,6\n");
    ASSERT_TRUE(DatasetFile::Read(text, read, error)) << error;
    EXPECT_EQ(read.size(), 2u);

    const std::string missing = dir.path + "/missing.txt";
    EXPECT_FALSE(DatasetFile::Read(missing, read, error));
    EXPECT_NE(error.find(missing), std::string::npos) << error;
    EXPECT_NE(error.find("cannot be opened"), std::string::npos) << error;
    EXPECT_FALSE(DatasetFile::Read(dir.path, read, error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
}

TEST(FerrowDatasetManager, BadFilesKeepTheirSlotsWithOneLineEach)
{
    FerrowDatasetManager::Destroy();
    TempDir dir;
    const std::string good = dir.Write("good.txt", "0 0 0\n1 1 1\n2 2 2\n");
    const std::string broken = dir.Write("broken.txt", "0 0 0\n1 1\n");
    const std::string truncated = dir.Write("short.raw", RawBytes({1, 2, 3, 4}));
    const std::string missing = dir.path + "/none.txt";
    FerrowDatasetManager* m = FerrowDatasetManager::Instance();

    testing::internal::CaptureStdout();
    EXPECT_EQ(m->LoadFile(good), 0);
    EXPECT_EQ(m->LoadFile(broken), 1);
    EXPECT_EQ(m->LoadFile(missing), 2);
    EXPECT_EQ(m->LoadFile(truncated), 3);
    EXPECT_EQ(m->AddBuiltIn("no-such-cloud"), 4);
    EXPECT_EQ(m->LoadFile(good), 5);
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4) << out;
    EXPECT_NE(out.find("Dataset 1: dataset file \"" + broken + "\": line 2"), std::string::npos) << out;
    EXPECT_NE(out.find("Dataset 2: dataset file \"" + missing + "\": cannot be opened"), std::string::npos) << out;
    EXPECT_NE(out.find("Dataset 3: dataset file \"" + truncated + "\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"no-such-cloud\" (known: clusters, disk, filaments)"), std::string::npos) << out;
    ASSERT_EQ(m->datasets.size(), 6u);
    ASSERT_EQ(m->names.size(), 6u);
    ASSERT_EQ(m->labels.size(), 6u);
    EXPECT_EQ(m->datasets[0]->size(), 3u);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(m->datasets[i]->size(), 0u) << i;
    EXPECT_EQ(m->datasets[5]->size(), 3u);
    EXPECT_EQ(m->names[1], broken);
    FerrowDatasetManager::Destroy();
}
