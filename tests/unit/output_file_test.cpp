#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <string>

#include "base/checked_file.h"
#include "platform/image/png_writer.h"
#include "support/fixtures.h"

TEST(OutputFile, FullDeviceFailsAtTheFlushOrTheWriteAndNamesFileAndReason)
{
    if (!std::filesystem::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    OutputFile small;
    ASSERT_TRUE(small.open("/dev/full", "trace file"));
    EXPECT_TRUE(small.write("header\n"));  // still in the buffer
    EXPECT_FALSE(small.close());
    EXPECT_EQ(small.error(), "cannot write trace file /dev/full: No space left on device");

    OutputFile large;
    ASSERT_TRUE(large.open("/dev/full", "trace file"));
    const std::string block(1 << 20, 'x');
    EXPECT_FALSE(large.write(block));
    EXPECT_FALSE(large.write("more"));  // later writes are skipped, the first cause kept
    EXPECT_FALSE(large.close());
    EXPECT_EQ(large.error(), "cannot write trace file /dev/full: No space left on device");

    RgbaImage picture{2, 2, std::vector<uint8_t>(16, 0x7F)};
    std::string error;
    EXPECT_FALSE(writePng("/dev/full", picture, error));
    EXPECT_EQ(error, "cannot write picture /dev/full: No space left on device");
}

TEST(OutputFile, FileSizeLimitFailsTheWriteThatCrossesIt)
{
    TempDir dir;
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    OutputFile file;
    const bool opened = file.open(dir.file("t.csv"), "trace file");
    const bool wrote = file.write(std::string(100000, 'x'));
    const bool closed = file.close();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(opened);
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(closed);
    EXPECT_EQ(file.error(), "cannot write trace file " + dir.file("t.csv") + ": File too large");
}

TEST(OutputFile, PathsThatCannotBeCreatedFailAtOpen)
{
    TempDir dir;
    OutputFile file;
    EXPECT_FALSE(file.open(dir.file("no-such-folder/t.csv"), "trace file"));
    EXPECT_EQ(file.error(), "cannot create trace file " + dir.file("no-such-folder/t.csv") + ": No such file or directory");
    EXPECT_FALSE(file.open(dir.path(), "screenshot"));
    EXPECT_EQ(file.error(), "cannot create screenshot " + dir.path() + ": Is a directory");
}

TEST(OutputFile, RewriteReplacesTheWholeContent)
{
    TempDir dir;
    OutputFile file;
    ASSERT_TRUE(file.open(dir.file("shot.png"), "screenshot"));
    ASSERT_TRUE(file.write("a much longer first version"));
    ASSERT_TRUE(file.rewrite("second", 6));
    ASSERT_TRUE(file.close());
    EXPECT_EQ(readFile(dir.file("shot.png")), "second");
}

TEST(OutputFile, AnExistingFileIsReplacedOnlyByACompleteCloseAndAFileMadeHereCanBeDiscarded)
{
    TempDir dir;
    writeFile(dir.file("old.csv"), "old");
    std::filesystem::create_symlink(dir.file("old.csv"), dir.file("link.csv"));
    OutputFile replaced;
    ASSERT_TRUE(replaced.open(dir.file("link.csv"), "trace file"));
    ASSERT_TRUE(replaced.write("new"));
    ASSERT_TRUE(replaced.flush());
    EXPECT_EQ(readFile(dir.file("old.csv")), "old");  // untouched until the close
    ASSERT_TRUE(replaced.close());
    EXPECT_EQ(readFile(dir.file("old.csv")), "new");  // through the link, which stays a link
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.csv")));

    for (const bool discard : {true, false}) {
        OutputFile unfinished;
        ASSERT_TRUE(unfinished.open(dir.file("old.csv"), "trace file"));
        ASSERT_TRUE(unfinished.write("lost"));
        if (discard) unfinished.discard();
    }  // or destroyed without a close
    EXPECT_EQ(readFile(dir.file("old.csv")), "new");

    OutputFile created;
    ASSERT_TRUE(created.open(dir.file("made.png"), "screenshot"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("made.png")));
    created.discard();
    EXPECT_FALSE(std::filesystem::exists(dir.file("made.png")));
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2u);  // old.csv and link.csv, no hidden leftovers

    OutputFile log;
    EXPECT_FALSE(log.open(dir.file("link.csv"), "the log", OutputFile::Accept::RegularOnly));
    EXPECT_EQ(log.error(), "the log " + dir.file("link.csv") + " is a symbolic link, which is never followed");
}

TEST(InputFile, OnlyRegularFilesAreOpened)
{
    TempDir dir;
    errno = 0;
    EXPECT_EQ(openRegularFile(dir.path()), nullptr);
    EXPECT_EQ(openFailureReason(errno), "is a directory");
    EXPECT_EQ(openRegularFile("/dev/null"), nullptr);
    EXPECT_EQ(openFailureReason(errno), "is not a regular file");
    EXPECT_EQ(openRegularFile(dir.file("absent")), nullptr);
    EXPECT_EQ(openFailureReason(errno), "No such file or directory");
    dir.writeText("present", "x");
    std::FILE* f = openRegularFile(dir.file("present"));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fgetc(f), 'x');
    std::fclose(f);
}

TEST(OutputFile, ALongNameIsReplacedThroughAShortHiddenNameWithoutPrivilegeBits)
{
    TempDir dir;
    const std::string name = dir.file(std::string(250, 'n'));
    writeFile(name, "old");
    ASSERT_EQ(chmod(name.c_str(), 04755), 0);
    OutputFile out;
    ASSERT_TRUE(out.open(name, "trace file")) << out.error();
    ASSERT_TRUE(out.write("new"));
    ASSERT_TRUE(out.close()) << out.error();
    EXPECT_EQ(readFile(name), "new");
    struct stat info {};
    ASSERT_EQ(stat(name.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0755u);
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 1u);
}

// /dev/fd/N is the descriptor itself, not the file reopened from its start: what others wrote
// before and after stays, and nothing is truncated or renamed.
TEST(OutputFile, DescriptorsAreWrittenWhereTheyStand)
{
    TempDir dir;
    const std::string log = dir.file("log.txt");
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "header\n", 7), 7);
    OutputFile out;
    ASSERT_TRUE(out.open("/dev/fd/" + std::to_string(fd), "trace file")) << out.error();
    EXPECT_FALSE(out.seekable());
    ASSERT_TRUE(out.write("first\n"));
    ASSERT_TRUE(out.rewrite("rows\n", 5));  // a stream only gets the new content
    ASSERT_TRUE(out.close()) << out.error();
    ASSERT_EQ(::write(fd, "footer\n", 7), 7);
    ::close(fd);
    EXPECT_EQ(readFile(log), "header\nfirst\nrows\nfooter\n");

    const int reading = ::open(log.c_str(), O_RDONLY);
    ASSERT_GE(reading, 0);
    EXPECT_FALSE(out.open("/proc/self/fd/" + std::to_string(reading), "trace file"));
    EXPECT_EQ(out.error(), "cannot create trace file /proc/self/fd/" + std::to_string(reading) +
                               ": the descriptor is not open for writing");
    ::close(reading);
    EXPECT_FALSE(out.open("/dev/fd/987", "trace file"));
    EXPECT_EQ(out.error(), "cannot create trace file /dev/fd/987: Bad file descriptor");
}
