#include "common/error.h"
#include "common/fileio.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

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

mode_t ModeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return st.st_mode & 07777;
}

// Sets the process's umask for one scope.
class UmaskScope {
public:
    explicit UmaskScope(mode_t mask) : old_(::umask(mask)) {}
    ~UmaskScope() { ::umask(old_); }
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    mode_t old_;
};

TEST_F(FileIo, NewFilesHonourTheUmaskAndReplacedFilesKeepTheirMode) {
    const fs::path p = dir_ / "cv.txt";
    {
        UmaskScope mask(077);
        WriteFileAtomic(p.string(), "private");
        EXPECT_EQ(ModeOf(p), 0600u); // not readable by other users
    }
    {
        UmaskScope mask(022);
        WriteFileAtomic((dir_ / "open.txt").string(), "x");
        EXPECT_EQ(ModeOf(dir_ / "open.txt"), 0644u);
        WriteFileAtomic((dir_ / "secret.txt").string(), "x", 0600);
        EXPECT_EQ(ModeOf(dir_ / "secret.txt"), 0600u);

        // A replaced file keeps the mode its owner gave it, whichever way that
        // differs from what a new file would get.
        fs::permissions(p, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        WriteFileAtomic(p.string(), "second", 0600);
        EXPECT_EQ(ModeOf(p), 0640u);
        fs::permissions(dir_ / "open.txt", fs::perms::owner_read | fs::perms::owner_write);
        WriteFileAtomic((dir_ / "open.txt").string(), "second");
        EXPECT_EQ(ModeOf(dir_ / "open.txt"), 0600u);
        EXPECT_EQ(ReadFileBytes(p.string()), "second");
    }
}

TEST_F(FileIo, SymbolicLinksAreRefusedOrWrittenThroughNeverReplaced) {
    const fs::path target = dir_ / "real.qfo";
    const fs::path link = dir_ / "link.qfo";
    WriteFileAtomic(target.string(), "old", 0640);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink("real.qfo", link);

    // Refused: the link and its target stay as they were.
    try {
        WriteFileAtomic(link.string(), "new");
        FAIL() << "a link was written";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("symbolic link"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(link.string()), std::string::npos) << e.what();
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(target.string()), "old");

    // Followed: the file at the end of the chain changes, keeping its mode;
    // every link stays a link.
    const fs::path chain = dir_ / "chain.qfo";
    fs::create_symlink(link, chain);
    WriteFileAtomic(chain.string(), "new", 0600, FollowLinks::Yes);
    EXPECT_TRUE(fs::is_symlink(chain));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(target.string()), "new");
    EXPECT_EQ(ModeOf(target), 0640u);

    // A link to a file not there yet creates it where the link points.
    fs::create_directories(dir_ / "sub");
    fs::create_symlink("sub/later.txt", dir_ / "dangling");
    WriteFileAtomic((dir_ / "dangling").string(), "made", 0666, FollowLinks::Yes);
    EXPECT_EQ(ReadFileBytes((dir_ / "sub" / "later.txt").string()), "made");

    // A loop of links ends in an error, not a hang.
    fs::create_symlink("loop2", dir_ / "loop1");
    fs::create_symlink("loop1", dir_ / "loop2");
    EXPECT_THROW(WriteFileAtomic((dir_ / "loop1").string(), "x", 0666, FollowLinks::Yes),
                 FileError);
    // Only link files and the written files are in the folder: no temporary left.
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry;
    }
}

TEST_F(FileIo, FailedReplaceLeavesNoTemporaryFileBehind) {
    // A folder in the way makes the final rename fail after the bytes were
    // written: the temporary copy must be cleaned up and the folder kept.
    fs::create_directories(dir_ / "taken" / "child");
    EXPECT_THROW(WriteFileAtomic((dir_ / "taken").string(), "data"), FileError);
    EXPECT_TRUE(fs::is_directory(dir_ / "taken" / "child"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// A file written in pieces appears only when committed, and a writer given
// up on (its content could not be read to the end) leaves the old file as it
// was and nothing beside it.
TEST_F(FileIo, PiecewiseWritesAppearWholeOrNotAtAll) {
    const std::string p = (dir_ / "cv.pdf").string();
    WriteFileAtomic(p, "old", 0640);
    {
        AtomicFileWriter w(p);
        w.Write("new ");
        EXPECT_EQ(ReadFileBytes(p), "old");
    } // abandoned
    EXPECT_EQ(ReadFileBytes(p), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    AtomicFileWriter w(p, 0666, FollowLinks::No, Durability::Deferred);
    std::string whole;
    for (int i = 0; i < 100; ++i) {
        const std::string piece(1000 + static_cast<std::size_t>(i),
                                static_cast<char>('a' + i % 26));
        w.Write(piece);
        whole += piece;
    }
    w.Commit();
    EXPECT_EQ(ReadFileBytes(p), whole);
    EXPECT_EQ(ModeOf(p), 0640u); // kept
    EXPECT_THROW(w.Write("more"), FileError);
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

TEST_F(FileIo, ReaderStatusIsTheFileOpenedEvenWhenItsNameIsTakenOver) {
    const std::string p = (dir_ / "message").string();
    WriteFileAtomic(p, "first");
    struct stat before {};
    ASSERT_EQ(::stat(p.c_str(), &before), 0);
    FileReader reader(p);
    WriteFileAtomic(p, "second, longer"); // a new file renamed over the name
    EXPECT_EQ(reader.Status().st_ino, before.st_ino);
    EXPECT_EQ(reader.Status().st_size, 5);
    std::string got;
    reader.ReadSome(got, 100);
    EXPECT_EQ(got, "first");
}

TEST_F(FileIo, NameLimitMemosNestAndStayOnTheirThread) {
    const std::string folder = dir_.string();
    const std::size_t limit = FileNameLimit(folder);
    {
        FileNameLimitMemo outer;
        EXPECT_EQ(FileNameLimit(folder), limit);
        {
            FileNameLimitMemo inner;
            EXPECT_EQ(FileNameLimit(folder + "/not-yet"), limit);
        }
        // The outer memo is in force again, and another thread has none.
        EXPECT_EQ(FileNameLimit(folder), limit);
        std::size_t other = 0;
        std::thread([&] { other = FileNameLimit(folder); }).join();
        EXPECT_EQ(other, limit);
    }
    EXPECT_EQ(FileNameLimit(folder), limit);
}

} // namespace
} // namespace qf
