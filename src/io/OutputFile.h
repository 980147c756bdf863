// The output file of a join, written through a buffer in large blocks.
#pragma once

#include "io/SysUtils.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace vantrel {

// The output of a join. A regular file is written under a new hidden name
// beside the final one (".NAME.vantrel-partial-XXXXXX", created exclusively)
// and renamed over the final name by Commit: a failure or a full disk leaves
// whatever stood at the name as it was, and an abandoned output takes its
// partial file with it. The partial file is made with the permissions the
// output will have (those of the file it replaces, or a new file's), so that
// nobody reads in it what the old file kept from them, and both names are
// used relative to their folder, so that an output whose full name is as
// long as the system allows still has room for its partial file's. An output
// that replaces a file reaches the disk before it takes the name, so that a
// power cut never costs the old file; a new name has nothing to lose, and is
// handed to the system's write-back without waiting for it. An output
// that is not a regular file (a pipe, /dev/stdout, a device) is written
// directly; it is opened write-only and never waits for a reader.
class TOutputFile
{
public:
    // Raises "Cannot create file %s" with the reason: also for a name longer
    // than its folder allows, and a symbolic link that leads round in a loop.
    explicit TOutputFile(const std::string& FileName);
    // Without Commit: removes the partial file; a pipe or a device gets what
    // is still buffered, errors ignored (the error that ended the join is the
    // one the user hears about).
    virtual ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // Every write is checked: a failed or short write raises "Unable to write
    // file %s" with the reason.
    void Write(const void* Source, std::size_t Count);
    // Room for Count bytes in the write buffer, counted as written: the caller
    // fills it in place, which saves a copy of everything a join passes on.
    // Null when Count is more than WriteBufferSize; then use Write.
    std::uint8_t* Claim(std::size_t Count);
    // Gives back the last Count claimed bytes: filling them failed, or they
    // are not wanted after all.
    void Unclaim(std::size_t Count);
    // Writes out the buffer.
    void Flush();
    // Bytes written so far, those still in the buffer included.
    std::int64_t Position() const { return m_Position; }
    // Writes Count bytes over what was written at Position (a regular output,
    // or a regular file's descriptor not opened to append; elsewhere it does
    // nothing and returns false). Retried and stopped as Write is.
    bool WriteAt(std::int64_t Position, const void* Source, std::size_t Count);
    // Flushes, syncs and closes the output and gives it its name. Raises
    // "Unable to write file %s" with the reason; the partial file then goes.
    // A stop asked while it works (during the sync, say) and not before it
    // began raises TStopped before the name is taken: whatever stood there
    // stays, as at any other moment of the join.
    void Commit();

    bool IsRegular() const { return !m_PartName.empty(); }
    // True when Commit replaces a file that stood at the name.
    bool Replaces() const { return m_Replaces; }

    // False: nothing is synced at all (a fuzzer's throw-away outputs).
    bool Durable = true;
    int Handle() const { return m_Handle.Get(); }
    const std::string& FileName() const { return m_FileName; }

    // Asked after every interrupted or short write, positioned ones
    // included, and by Commit: true gives up with TStopped. A pipe or a
    // device is not written to at all once it is true: its reader may be
    // what stalls.
    TStopCheck StopRequested;

    static constexpr std::size_t WriteBufferSize = 128 * 1024;

protected:
    // The system's write and positioned write; a test's full disk fails them.
    virtual ssize_t WriteSome(const void* Source, std::size_t Count);
    virtual ssize_t WriteSomeAt(const void* Source, std::size_t Count, std::int64_t Position);

private:
    void CreatePartial(const std::string& Target, const struct stat* Old);
    void WriteThrough(const void* Source, std::size_t Count) { WriteAll(Source, Count, -1); }
    // Writes the buffer's bytes up to the last boundary of the file's blocks
    // of WriteBufferSize bytes that they reach; the rest stays in the buffer.
    void FlushBlocks();
    // Writes everything, at Position (or at the descriptor's place when it is
    // negative), retrying an interrupted call a bounded number of times.
    void WriteAll(const void* Source, std::size_t Count, std::int64_t Position);
    [[noreturn]] void RaiseWriteError(int Code) const;
    [[noreturn]] void RaiseStopped();
    bool Stopping() const { return StopRequested && StopRequested(); }
    // Starts writing back what the buffer handed to the system, so that the
    // sync at the end waits for little and the disk works while we read.
    void WriteBack();

    std::string m_FileName;
    TFileHandle m_Handle;
    // The folder of a regular output, and the partial and final names in it.
    TFileHandle m_Folder;
    std::string m_PartName;
    std::string m_FinalName;
    bool m_Committed = false;
    bool m_Replaces = false;
    // Where a descriptor output that can be patched began; -1 for none.
    std::int64_t m_Origin = -1;
    std::vector<std::uint8_t> m_Buffer;
    std::size_t m_Buffered = 0;
    std::int64_t m_Position = 0;
    std::int64_t m_Written = 0; // handed to the system
    std::int64_t m_WrittenBack = 0;
    bool m_Failed = false;
};

// The program's own descriptor that an output name stands for: /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N. Such an output is written through
// the descriptor, in place.
std::optional<int> OutputDescriptor(const std::string& Name);

// True when an output called Output is written in place into the file that
// descriptor Fd has open: the program's own descriptors, and pipes,
// terminals and devices by name. A regular file by name is replaced, never
// written into.
bool WritesInto(int Fd, const std::string& Output);

// The name a symbolic link leads to, so that the output replaces the file the
// link names and not the link; the name itself when it is no link.
std::string OutputTarget(std::string Name);

// Removes the partial files of an output called FileName that no running
// join holds (each holds a lock on its own while it writes): what a join
// killed before it could clean up left behind.
void SweepPartials(const std::string& FileName);

// The name the partial file of an output called FileName gets, before its
// random part: ".NAME.vantrel-partial-", NAME shortened to fit a file name
// of its folder.
std::string PartialFilePrefix(const std::string& FileName);

} // namespace vantrel
