// The output file of a join on its own: interrupted writes, a stop at the
// last moment, the partial file's permissions and names at the system's limits.
#include "io/OutputFile.h"

#include "TestSupport.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

using namespace test;

// Names in a folder, the hidden ones included, sorted.
std::vector<std::string> Listing(const std::string& Folder)
{
    std::vector<std::string> Names;
    if (DIR* D = ::opendir(Folder.c_str())) {
        while (const dirent* Entry = ::readdir(D))
            if (std::string(Entry->d_name) != "." && std::string(Entry->d_name) != "..")
                Names.push_back(Entry->d_name);
        ::closedir(D);
    }
    std::sort(Names.begin(), Names.end());
    return Names;
}

std::string ErrorOf(const std::function<void()>& Action)
{
    try {
        Action();
    } catch (const TStopped&) {
        return "stopped";
    } catch (const Exception& E) {
        return E.what();
    }
    return "";
}

// A disk on which every write, or every positioned write, is interrupted
// before it moves a byte (a network mount that keeps being signalled).
struct TInterruptedOutput : TOutputFile
{
    TInterruptedOutput(const std::string& Name, bool Positioned) : TOutputFile(Name), Positioned(Positioned)
    {
    }
    ssize_t WriteSome(const void* Source, std::size_t Count) override
    {
        if (Positioned)
            return TOutputFile::WriteSome(Source, Count);
        return Interrupt();
    }
    ssize_t WriteSomeAt(const void*, std::size_t, std::int64_t) override { return Interrupt(); }
    ssize_t Interrupt()
    {
        ++Calls;
        errno = EINTR;
        return -1;
    }
    bool Positioned;
    int Calls = 0;
};

struct InterruptedCase
{
    bool Positioned;
    int StopAtCall; // 0: no stop is asked
    const char* Error;
    int Calls;
};

class OutputInterrupted : public ::testing::TestWithParam<InterruptedCase>
{
};

// Neither kind of write spins for ever, and neither ignores a stop asked
// while it retries.
TEST_P(OutputInterrupted, GivesUpOrStops)
{
    const InterruptedCase& Case = GetParam();
    const TTempDir Dir;
    const std::string Name = Dir.File("out.mpg");
    TInterruptedOutput Output(Name, Case.Positioned);
    Output.StopRequested = [&] { return Case.StopAtCall > 0 && Output.Calls >= Case.StopAtCall; };
    const std::string Error = ErrorOf([&] {
        Output.Write("abcd", 4);
        Output.Flush();
        Output.WriteAt(1, "x", 1);
    });
    EXPECT_EQ(Error,
              Case.Error[0] ? Case.Error : "Unable to write file " + Name + "\r\nInterrupted system call");
    EXPECT_EQ(Output.Calls, Case.Calls);
}

INSTANTIATE_TEST_SUITE_P(Writes, OutputInterrupted,
                         ::testing::Values(InterruptedCase{false, 0, "", InterruptedRetries},
                                           InterruptedCase{false, 3, "stopped", 3},
                                           InterruptedCase{true, 0, "", InterruptedRetries},
                                           InterruptedCase{true, 3, "stopped", 3}));

// Records where each write to the system began and how long it was.
struct TRecordedOutput : TOutputFile
{
    using TOutputFile::TOutputFile;
    ssize_t WriteSome(const void* Source, std::size_t Count) override
    {
        Writes.emplace_back(Written, Count);
        const ssize_t N = TOutputFile::WriteSome(Source, Count);
        Written += N > 0 ? N : 0;
        return N;
    }
    std::vector<std::pair<std::int64_t, std::size_t>> Writes;
    std::int64_t Written = 0;
};

// Packets of 188 bytes never fill the buffer exactly, claimed or written,
// one at a time or in runs: the system still gets whole blocks at block
// boundaries (its quickest way), but for the end, and every byte in order.
TEST(OutputFile, HandsTheSystemWholeBlocksWhateverThePieces)
{
    const TTempDir Dir;
    const std::string Name = Dir.File("out.ts");
    TRecordedOutput Output(Name);
    std::vector<std::uint8_t> Expected;
    std::uint8_t Next = 0;
    for (std::size_t Piece = 0; Expected.size() < 1500000; ++Piece) {
        const std::size_t Count = 188 * (1 + Piece % 70);
        std::vector<std::uint8_t> Bytes(Count);
        for (std::uint8_t& B : Bytes)
            B = Next++;
        if (Piece % 3 == 0)
            Output.Write(Bytes.data(), Count);
        else
            std::copy(Bytes.begin(), Bytes.end(), Output.Claim(Count));
        Expected.insert(Expected.end(), Bytes.begin(), Bytes.end());
    }
    Output.Commit();
    ASSERT_GT(Output.Writes.size(), 10u);
    for (std::size_t I = 0; I + 1 < Output.Writes.size(); ++I) {
        EXPECT_EQ(Output.Writes[I].first % TOutputFile::WriteBufferSize, 0) << "write " << I;
        EXPECT_EQ(Output.Writes[I].second % TOutputFile::WriteBufferSize, 0u) << "write " << I;
    }
    EXPECT_EQ(ReadFile(Name), Expected);
}

// A stop that comes while the output is made durable (a signal during the
// final sync) leaves the old file and no partial file; one asked before the
// commit began is the caller's choice to keep what was written.
TEST(OutputFile, AStopDuringTheCommitKeepsTheOldFile)
{
    const struct
    {
        int StopFromPoll; // the stop check answers true from this poll on
        TBytes Expected;
        const char* Error;
    } Cases[] = {{2, {1, 2, 3}, "stopped"}, {1, {7, 8}, ""}, {1000, {7, 8}, ""}};
    for (const auto& Case : Cases) {
        const TTempDir Dir;
        const std::string Name = Dir.File("out.mpg");
        WriteFile(Name, {1, 2, 3});
        int Polls = 0;
        {
            TOutputFile Output(Name);
            Output.StopRequested = [&] { return ++Polls >= Case.StopFromPoll; };
            Output.Write("\7\10", 2);
            EXPECT_EQ(ErrorOf([&] { Output.Commit(); }), Case.Error) << Case.StopFromPoll;
        }
        EXPECT_EQ(ReadFile(Name), Case.Expected) << Case.StopFromPoll;
        EXPECT_EQ(Listing(Dir.Path()), std::vector<std::string>{"out.mpg"});
    }
}

// Nobody reads in the partial file what the file it replaces kept from them,
// not even while it is being written or after a kill leaves it behind.
TEST(OutputFile, ThePartialFileHasTheOutputsPermissionsFromTheStart)
{
    const TTempDir Dir;
    const mode_t Umask = ::umask(022);
    const struct
    {
        const char* Name;
        mode_t Old; // 0: no file to replace
        mode_t Partial;
    } Cases[] = {{"private.mpg", 0600, 0600}, {"shared.mpg", 0640, 0640}, {"new.mpg", 0, 0644}};
    for (const auto& Case : Cases) {
        const std::string Name = Dir.File(Case.Name);
        if (Case.Old) {
            WriteFile(Name, {1});
            ASSERT_EQ(::chmod(Name.c_str(), Case.Old), 0);
        }
        TOutputFile Output(Name);
        Output.Write("x", 1);
        Output.Flush();
        struct stat St
        {
        };
        const std::string Prefix = "." + std::string(Case.Name) + ".vantrel-partial-";
        for (const std::string& Entry : Listing(Dir.Path())) {
            if (Entry.rfind(Prefix, 0) == 0) {
                ASSERT_EQ(::stat(Dir.File(Entry).c_str(), &St), 0);
            }
        }
        EXPECT_EQ(St.st_mode & 0777, Case.Partial) << Case.Name;
        Output.Commit();
        ASSERT_EQ(::stat(Name.c_str(), &St), 0);
        EXPECT_EQ(St.st_mode & 0777, Case.Partial) << Case.Name;
    }
    ::umask(Umask);
}

// A full name as long as the system takes is written, its partial file's
// longer name notwithstanding; a file name too long for its folder, and a
// link that leads round in a loop, are refused before anything is written.
TEST(OutputFile, NamesAtTheSystemsLimits)
{
    const TTempDir Dir;
    std::string Folder = Dir.Path();
    const std::string Part(200, 'd');
    while (Folder.size() + 1 + Part.size() + 1 + 60 < PATH_MAX - 1) {
        Folder += "/" + Part;
        ASSERT_EQ(::mkdir(Folder.c_str(), 0700), 0);
    }
    const std::string Long = Folder + "/" + std::string(PATH_MAX - 1 - Folder.size() - 1 - 4, 'f') + ".mpg";
    ASSERT_EQ(Long.size(), std::size_t{PATH_MAX - 1});
    {
        TOutputFile Output(Long);
        Output.Write("long", 4);
        Output.Commit();
    }
    EXPECT_EQ(ReadFile(Long), (TBytes{'l', 'o', 'n', 'g'}));
    EXPECT_EQ(Listing(Folder).size(), 1u);

    const std::string TooLong = Dir.File(std::string(252, 'n') + ".mpg");
    EXPECT_EQ(ErrorOf([&] { TOutputFile Output(TooLong); }),
              "Cannot create file " + TooLong + "\r\nFile name too long");
    const std::string A = Dir.File("a.mpg"), B = Dir.File("b.mpg");
    ASSERT_EQ(::symlink("b.mpg", A.c_str()), 0);
    ASSERT_EQ(::symlink("a.mpg", B.c_str()), 0);
    EXPECT_EQ(ErrorOf([&] { TOutputFile Output(A); }),
              "Cannot create file " + A + "\r\nToo many levels of symbolic links");
    struct stat St
    {
    };
    ASSERT_EQ(::lstat(A.c_str(), &St), 0);
    EXPECT_TRUE(S_ISLNK(St.st_mode));
    EXPECT_EQ(Listing(Dir.Path()), (std::vector<std::string>{"a.mpg", "b.mpg", Part}));
}

} // namespace
} // namespace vantrel
