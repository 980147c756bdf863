// An input file opened for reading, with its read window, and which file a
// name stands for.
#pragma once

#include "io/ByteSource.h"
#include "io/FileBufs.h"
#include "io/SysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace vantrel {

// Which file a name stood for and in what state: a file replaced, rewritten
// or grown since gives another identity, one merely read keeps it. The
// change time counts because nobody can set it: a rewrite whose modification
// time was put back (touch -d, a copy that keeps times) still moves it. So do
// a change of permissions, a rename and a new hard link, which then cost the
// file a second look.
struct TFileIdentity
{
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::int64_t Size = -1;
    std::int64_t ModifiedNs = 0; // modification time, nanoseconds since 1970
    std::int64_t ChangedNs = 0;  // change time of the inode, the same
    bool operator==(const TFileIdentity&) const = default;
};

// An input file opened for reading, with its read window. Only regular files
// are inputs: a FIFO, a device or a socket would block or never end, and is
// refused before anything could wait on it. A VCD track copied from a disc
// (RIFF/CDXA sectors) is read as the system stream its sectors hold.
class TInputFile
{
public:
    // SizeLimit >= 0 is the size measured when a join began: a file that has
    // grown since is read up to it, one that has shrunk is refused. Raises
    // "Cannot open file %s" with the reason, or "%s is not a regular file.".
    explicit TInputFile(const std::string& FileName,
                        std::uint32_t WindowSize = TFileReadBuffer::MinWindowSize,
                        std::int64_t SizeLimit = -1);
    // Bytes that stand for a file without being read from one (a test's
    // failing disk, a fuzzer's memory), under the file's name and identity.
    TInputFile(const std::string& FileName, std::unique_ptr<TByteSource> Source,
               const TFileIdentity& Identity);
    ~TInputFile();
    TInputFile(const TInputFile&) = delete;
    TInputFile& operator=(const TInputFile&) = delete;

    // The stream's bytes: the file itself, or the stream inside its sectors.
    TByteSource& Source() { return m_Track ? *m_Track : *m_Buffer; }
    const std::string& FileName() const { return m_FileName; }
    // The size of the file on disk (within the limit).
    std::int64_t FileSize() const { return m_Buffer ? m_Buffer->FileSize() : m_Track->Size(); }
    bool IsSectorTrack() const { return m_Track != nullptr && m_Buffer != nullptr; }
    // The file as it was opened, from the descriptor that is read.
    const TFileIdentity& Identity() const { return m_Identity; }
    // The file as it is now, by the same descriptor: another size or
    // modification time means someone wrote to it meanwhile.
    TFileIdentity CurrentIdentity() const;
    // Reads that are interrupted ask this whether to give up.
    void SetStopCheck(TStopCheck Check);

private:
    std::string m_FileName;
    TFileHandle m_Handle;
    TFileIdentity m_Identity;
    std::unique_ptr<TFileReadBuffer> m_Buffer;
    std::unique_ptr<TByteSource> m_Track;
};

// Raises "%s is not a regular file." unless Name is one (or does not exist:
// opening it then says why). Checked before any open that could block.
void RefuseIrregularFile(const std::string& Name);

TFileIdentity IdentityOf(const struct ::stat& St);
// What stands at Name now; Size -1 when nothing can be found there.
TFileIdentity IdentityOf(const std::string& Name);

} // namespace vantrel
