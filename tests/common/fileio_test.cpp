#include "common/error.h"
#include "common/fileio.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace qf {
namespace {

namespace fs = std::filesystem;

class FileIo : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qf-fileio-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(FileIo, AtomicWriteReplacesContentAndSetsMode) {
    const std::string p = (dir_ / "a.txt").string();
    WriteFileAtomic(p, "first", 0600);
    WriteFileAtomic(p, std::string("second\0x", 8), 0600);
    EXPECT_EQ(ReadFileBytes(p), std::string("second\0x", 8));
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // No temporary files are left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FileIo, FailedReplaceLeavesNoTemporaryFileBehind) {
    // A folder in the way makes the final rename fail after the bytes were
    // written: the temporary copy must be cleaned up and the folder kept.
    fs::create_directories(dir_ / "taken" / "child");
    EXPECT_THROW(WriteFileAtomic((dir_ / "taken").string(), "data"), FileError);
    EXPECT_TRUE(fs::is_directory(dir_ / "taken" / "child"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

TEST_F(FileIo, ErrorsNameThePath) {
    try {
        ReadFileBytes((dir_ / "missing").string());
        FAIL();
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
    }
    EXPECT_THROW(WriteFileAtomic((dir_ / "no/such/dir/x").string(), "x"), FileError);
}

TEST_F(FileIo, ReadFileHeadReadsAtMostTheLimit) {
    const std::string p = (dir_ / "big.bin").string();
    std::string bytes;
    for (int i = 0; i < 200000; ++i) {
        bytes += static_cast<char>(i % 251);
    }
    WriteFileAtomic(p, bytes);
    // Within one block, across blocks, the whole file, more than the file.
    for (std::size_t limit : {std::size_t{0}, std::size_t{16}, std::size_t{70000}, bytes.size(),
                              bytes.size() + 1, std::size_t{1} << 40}) {
        SCOPED_TRACE(limit);
        EXPECT_EQ(ReadFileHead(p, limit), bytes.substr(0, limit));
    }
    try {
        ReadFileHead((dir_ / "missing").string(), 10);
        FAIL();
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos);
    }
    // A folder opens but cannot be read: the reason says so.
    EXPECT_THROW(ReadFileHead(dir_.string(), 10), FileError);
}

TEST_F(FileIo, ReadsAtMostTheBytesAskedFor) {
    const std::string p = (dir_ / "big").string();
    const std::string bytes(200000, 'x'); // more than one read's worth
    WriteFileAtomic(p, bytes);
    EXPECT_EQ(ReadFileBytes(p), bytes);
    EXPECT_EQ(ReadFileBytes(p, 70000), bytes.substr(0, 70000));
    EXPECT_EQ(ReadFileBytes(p, 0), "");
    EXPECT_EQ(ReadFileBytes(p, 300000), bytes);
}

TEST_F(FileIo, FailuresCarryTheSystemsReason) {
    const std::string missing = (dir_ / "missing").string();
    try {
        ReadFileBytes(missing);
        FAIL();
    } catch (const FileError& e) {
        EXPECT_EQ(e.SystemError(), ENOENT);
        EXPECT_EQ(std::string(e.what()),
                  "Cannot open file " + missing + ": " + std::strerror(ENOENT));
    }
    // A folder opens but cannot be read as a file.
    try {
        ReadFileBytes(dir_.string());
        FAIL();
    } catch (const FileError& e) {
        EXPECT_EQ(e.SystemError(), EISDIR);
        EXPECT_NE(std::string(e.what()).find("Cannot read file " + dir_.string()),
                  std::string::npos);
    }
}

TEST_F(FileIo, ASymbolicLinkIsReadOnlyWhenAllowed) {
    const std::string target = (dir_ / "target").string();
    WriteFileAtomic(target, "secret");
    fs::create_symlink(target, dir_ / "link");
    const std::string link = (dir_ / "link").string();
    EXPECT_EQ(ReadFileBytes(link), "secret");
    try {
        ReadFileBytes(link, kNoSizeLimit, FollowLinks::No);
        FAIL();
    } catch (const FileError& e) {
        EXPECT_EQ(e.SystemError(), ELOOP);
    }
}

TEST_F(FileIo, ReaderHandsOutTheFileInPieces) {
    const std::string p = (dir_ / "pieces").string();
    WriteFileAtomic(p, "abcdefghij");
    FileReader reader(p);
    EXPECT_EQ(reader.SizeHint(), 10u);
    std::string got;
    EXPECT_EQ(reader.ReadSome(got, 4), 4u);
    EXPECT_EQ(reader.ReadSome(got, 100), 6u);
    EXPECT_EQ(reader.ReadSome(got, 100), 0u);
    EXPECT_EQ(got, "abcdefghij");
}

} // namespace
} // namespace qf
