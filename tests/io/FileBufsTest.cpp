#include "io/FileBufs.h"
#include "io/InputFile.h"
#include "io/SysUtils.h"

#include "TestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {
namespace {

using test::TBytes;

// A file whose byte at position p is p mod 251, so every read can be checked
// against its position.
class FileReadBufferTest : public ::testing::Test
{
protected:
    TFileHandle Make(std::size_t Size)
    {
        TBytes Bytes(Size);
        for (std::size_t I = 0; I < Size; ++I)
            Bytes[I] = static_cast<std::uint8_t>(I % 251);
        const std::string Name = Dir.File("data.bin");
        test::WriteFile(Name, Bytes);
        return TFileHandle::TryOpenRead(Name);
    }
    static bool HoldsPositions(const TBytes& Bytes, std::int64_t Position, std::int64_t Count)
    {
        for (std::int64_t I = 0; I < Count; ++I)
            if (Bytes[I] != static_cast<std::uint8_t>((Position + I) % 251))
                return false;
        return true;
    }
    test::TTempDir Dir;
};

TEST_F(FileReadBufferTest, ReadsAtOrPastTheEndDeliverNothing)
{
    TFileHandle File = Make(10000);
    TFileReadBuffer Buffer(File.Get(), 8192);
    TBytes Dest(5000);
    EXPECT_EQ(Buffer.Read(Dest.data(), 10, 10000), 0u);
    EXPECT_EQ(Buffer.Read(Dest.data(), 10, 20000), 0u);
    EXPECT_EQ(Buffer.Read(Dest.data(), 4097, 10000), 0u);
    EXPECT_EQ(Buffer.WindowStart(), -1);
}

struct ReadCase
{
    std::int64_t FileSize;
    std::uint32_t Count;
    std::int64_t Position;
    std::uint32_t Delivered;
    std::int64_t WindowStart; // after the read; -1 when the window was not used
};

class FileReadBufferRead : public FileReadBufferTest, public ::testing::WithParamInterface<ReadCase>
{
};

TEST_P(FileReadBufferRead, DeliversAndPlacesTheWindow)
{
    const ReadCase& C = GetParam();
    TFileHandle File = Make(static_cast<std::size_t>(C.FileSize));
    TFileReadBuffer Buffer(File.Get(), 8192);
    TBytes Dest(C.Count);
    EXPECT_EQ(Buffer.Read(Dest.data(), C.Count, C.Position), C.Delivered);
    EXPECT_TRUE(HoldsPositions(Dest, C.Position, C.Delivered));
    EXPECT_EQ(Buffer.WindowStart(), C.WindowStart);
}

INSTANTIATE_TEST_SUITE_P(Cases, FileReadBufferRead,
                         ::testing::Values(
                             // Half a window goes through the window, one byte more straight to the file.
                             ReadCase{20000, 4096, 100, 4096, 0}, ReadCase{20000, 4097, 100, 4097, -1},
                             // A window read that runs past the end is clamped to the file size.
                             ReadCase{10000, 300, 9900, 100, 8192},
                             // A direct read past the end delivers what the file has.
                             ReadCase{10000, 5000, 8000, 2000, -1},
                             // A file shorter than a page is one window load of its size.
                             ReadCase{3000, 16, 2990, 10, 0},
                             // Loading at 8192 in a 10000-byte file reads exactly 1808 bytes.
                             ReadCase{10000, 1808, 8192, 1808, 8192}));

TEST_F(FileReadBufferTest, ReloadsOnlyWhenTheReadLeavesTheWindow)
{
    TFileHandle File = Make(20000);
    TFileReadBuffer Buffer(File.Get(), 8192);
    TBytes Dest(300);
    ASSERT_EQ(Buffer.Read(Dest.data(), 10, 5000), 10u);
    EXPECT_EQ(Buffer.WindowStart(), 4096); // covers 4096 to 12287
    ASSERT_EQ(Buffer.Read(Dest.data(), 300, 11900), 300u);
    EXPECT_EQ(Buffer.WindowStart(), 4096); // still inside
    ASSERT_EQ(Buffer.Read(Dest.data(), 300, 12000), 300u);
    EXPECT_EQ(Buffer.WindowStart(), 8192); // ran past 12287
    EXPECT_TRUE(HoldsPositions(Dest, 12000, 300));
    ASSERT_EQ(Buffer.Read(Dest.data(), 1, 100), 1u);
    EXPECT_EQ(Buffer.WindowStart(), 0); // before the window
    EXPECT_TRUE(HoldsPositions(Dest, 100, 1));
}

TEST_F(FileReadBufferTest, EmptyFileNeverLoadsAWindow)
{
    TFileHandle File = Make(0);
    TFileReadBuffer Buffer(File.Get(), 8192);
    std::uint8_t Byte;
    EXPECT_EQ(Buffer.FileSize(), 0);
    EXPECT_EQ(Buffer.Read(&Byte, 1, 0), 0u);
    EXPECT_EQ(Buffer.WindowStart(), -1);
}

// Every byte below the size taken at the start must come: a file that
// shrank, or a read the disk fails, is an error that names the file.
TEST_F(FileReadBufferTest, MissingBytesRaiseUnableToReadFileWithTheReason)
{
    const std::string Name = Dir.File("data.bin");
    for (std::uint32_t Count : {1u, 5000u}) { // through the window, and straight
        TFileHandle File = Make(20000);
        TFileReadBuffer Buffer(File.Get(), 8192, Name);
        ASSERT_EQ(::truncate(Name.c_str(), 5000), 0);
        TBytes Dest(Count);
        try {
            Buffer.Read(Dest.data(), Count, 9000);
            FAIL() << "no exception";
        } catch (const Exception& E) {
            EXPECT_EQ(E.what(),
                      "Unable to read file " + Name + "\r\nThe file is shorter than when it was opened.");
        }
    }
    // A descriptor that cannot be read: the read fails as a dying disk's does.
    Make(20000);
    TFileHandle WriteOnly(::open(Name.c_str(), O_WRONLY | O_CLOEXEC));
    TFileReadBuffer Buffer(WriteOnly.Get(), 8192, Name);
    TBytes Dest(5000);
    try {
        Buffer.Read(Dest.data(), 5000, 0);
        FAIL() << "no exception";
    } catch (const Exception& E) {
        EXPECT_EQ(E.what(), "Unable to read file " + Name + "\r\nBad file descriptor");
    }
}

TEST_F(FileReadBufferTest, AFileThatGrewIsReadUpToItsLimit)
{
    TFileHandle File = Make(20000);
    TFileReadBuffer Buffer(File.Get(), 8192, "data.bin", 12000);
    EXPECT_EQ(Buffer.Size(), 12000);
    TBytes Dest(5000);
    EXPECT_EQ(Buffer.Read(Dest.data(), 5000, 10000), 2000u);
}

TEST_F(FileReadBufferTest, OnlyRegularFilesAreInputs)
{
    const std::string Fifo = Dir.File("fifo"), Folder = Dir.Path();
    ASSERT_EQ(::mkfifo(Fifo.c_str(), 0600), 0);
    // Opening a FIFO without a writer would wait for ever: refused before that.
    for (const std::string& Name : {Fifo, Folder, std::string("/dev/null")}) {
        try {
            TInputFile Input(Name);
            FAIL() << Name;
        } catch (const Exception& E) {
            EXPECT_EQ(E.what(), Name + " is not a regular file.");
        }
    }
    // One that shrank below the size a join measured is refused too.
    Make(100);
    EXPECT_THROW(TInputFile(Dir.File("data.bin"), 8192, 200), Exception);
    // Files the kernel makes up say so, not that their size is unknown.
    for (const auto& [Name, Where] : {std::pair{"/proc/self/status", "(/proc)"},
                                      {"/proc/cpuinfo", "(/proc)"},
                                      {"/sys/kernel/mm/transparent_hugepage/enabled", "(/sys)"},
                                      {"/sys/fs/cgroup/cpu/cpu.shares", "(cgroup)"},
                                      {"/sys/fs/cgroup/unified/cgroup.procs", "(cgroup2)"},
                                      {"/sys/fs/cgroup/cgroup.procs", "(cgroup2)"}}) {
        if (::access(Name, R_OK) != 0)
            continue;
        try {
            TInputFile Input(Name);
            FAIL() << Name;
        } catch (const Exception& E) {
            EXPECT_EQ(E.what(), std::string(Name) +
                                    " is not a video file: the kernel makes it up as it is read " + Where +
                                    ".");
        }
    }
}

// A file written again in place with its modification time put back (touch
// -d, a copy that keeps times) is not the file that was measured: neither
// by its name nor by the descriptor it is read from.
TEST_F(FileReadBufferTest, ARewriteWithItsTimesPutBackIsAnotherFile)
{
    const std::string Name = Dir.File("clip.mpg");
    test::WriteFile(Name, TBytes(100, 1));
    const TInputFile Input(Name);
    struct stat Before
    {
    };
    ASSERT_EQ(::stat(Name.c_str(), &Before), 0);
    EXPECT_EQ(Input.CurrentIdentity(), Input.Identity()); // reading changes nothing
    // The change time has a clock's resolution: let it move.
    ::usleep(20000);
    {
        const TFileHandle Writer(::open(Name.c_str(), O_WRONLY | O_CLOEXEC));
        ASSERT_EQ(::pwrite(Writer.Get(), "\2", 1, 50), 1);
    }
    const timespec Times[2] = {Before.st_atim, Before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, Name.c_str(), Times, 0), 0);
    EXPECT_EQ(IdentityOf(Name).ModifiedNs, Input.Identity().ModifiedNs);
    EXPECT_NE(IdentityOf(Name), Input.Identity());
    EXPECT_NE(Input.CurrentIdentity(), Input.Identity());
}

// A VCD track off a disc: RIFF/CDXA around 2352-byte sectors of which 2324
// bytes (from byte 24) are the stream.
TEST_F(FileReadBufferTest, SectorTracksAreReadAsTheStreamTheyHold)
{
    TBytes Stream(3 * 2324 - 100);
    for (std::size_t I = 0; I < Stream.size(); ++I)
        Stream[I] = static_cast<std::uint8_t>(I % 251);
    TBytes Sectors;
    for (std::size_t At = 0; At < Stream.size(); At += 2324) {
        TBytes Sector(2352, 0xEE);
        const std::size_t N = std::min<std::size_t>(2324, Stream.size() - At);
        std::copy_n(Stream.begin() + static_cast<long>(At), N, Sector.begin() + 24);
        Sectors.insert(Sectors.end(), Sector.begin(), Sector.end());
    }
    const auto Le32 = [](std::size_t V) {
        return TBytes{std::uint8_t(V), std::uint8_t(V >> 8), std::uint8_t(V >> 16), std::uint8_t(V >> 24)};
    };
    const TBytes Riff = test::Concat({{'R', 'I', 'F', 'F'},
                                      Le32(36 + Sectors.size()),
                                      {'C', 'D', 'X', 'A'},
                                      {'f', 'm', 't', ' '},
                                      Le32(16),
                                      TBytes(16, 0),
                                      {'d', 'a', 't', 'a'},
                                      Le32(Sectors.size()),
                                      Sectors});
    test::WriteFile(Dir.File("track.dat"), Riff);
    TInputFile Input(Dir.File("track.dat"));
    ASSERT_TRUE(Input.IsSectorTrack());
    EXPECT_EQ(Input.Source().Size(), 3 * 2324); // the last sector is whole on disc
    TBytes Read(3000);
    ASSERT_EQ(Input.Source().Read(Read.data(), 3000, 2000), 3000u); // across a sector boundary
    EXPECT_TRUE(HoldsPositions(Read, 2000, 3000));
}

TEST_F(FileReadBufferTest, UnseekableHandleRaisesUnableToReceiveFileSize)
{
    int Pipe[2];
    ASSERT_EQ(::pipe(Pipe), 0);
    TFileHandle ReadEnd(Pipe[0]), WriteEnd(Pipe[1]);
    try {
        TFileReadBuffer Buffer(ReadEnd.Get(), 8192);
        FAIL() << "no exception";
    } catch (const Exception& E) {
        EXPECT_STREQ(E.what(), "Unable to receive file size");
    }
}

} // namespace
} // namespace vantrel
