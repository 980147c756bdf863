// Random access to an open file through one window held in memory, and the
// input file that owns it.
#pragma once

#include "ByteSource.h"
#include "SysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace vantrel {

// Packet headers are parsed one to five bytes at a time at nearby positions;
// this turns those small reads into one system read per window, while reads
// longer than half a window (whole packets, payloads) go straight to the file
// so that they are not copied twice and do not evict the window.
//
// Every byte below the size taken at construction must come: a read that
// fails, or a file that has since become shorter, raises "Unable to read file
// %s" with the reason. A file that has grown is read up to that size only.
class TFileReadBuffer : public TByteSource
{
public:
    // Handle is borrowed: the caller closes it after destroying the buffer.
    // The window must hold at least 8192 bytes: a window read is at most half a
    // window long and starts at most 4095 bytes into a freshly loaded window.
    // SizeLimit >= 0 caps the size (a size measured earlier). Raises "Unable to
    // receive file size" when the size cannot be taken.
    TFileReadBuffer(int Handle, std::uint32_t WindowSize, std::string FileName = {},
                    std::int64_t SizeLimit = -1);
    TFileReadBuffer(const TFileReadBuffer&) = delete;
    TFileReadBuffer& operator=(const TFileReadBuffer&) = delete;

    // Copies up to Count bytes at Position into Dest. Returns the bytes
    // delivered: fewer at the end of the file, 0 at or past it.
    std::uint32_t Read(void* Dest, std::uint32_t Count, std::int64_t Position) override;
    std::int64_t Size() const override { return m_FileSize; }

    std::int64_t FileSize() const { return m_FileSize; }
    std::uint32_t WindowSize() const { return m_WindowSize; }
    // File position of the first window byte; -1 before the first load.
    std::int64_t WindowStart() const { return m_WindowStart; }

    static constexpr std::uint32_t MinWindowSize = 8192;

    // Asked when a read is interrupted: true gives up with TStopped.
    TStopCheck StopRequested;

private:
    void LoadWindow(std::int64_t Position);
    void ReadExactly(void* Dest, std::size_t Count, std::int64_t Position);

    int m_Handle;
    std::string m_FileName;
    std::unique_ptr<std::uint8_t[]> m_Buffer;
    std::int64_t m_WindowStart = -1;
    std::uint32_t m_WindowSize;
    std::int64_t m_FileSize;
};

// Which file a name stood for and in what state: a file replaced, rewritten
// or grown since gives another identity, one merely read keeps it.
struct TFileIdentity
{
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::int64_t Size = -1;
    std::int64_t ModifiedNs = 0; // modification time, nanoseconds since 1970
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
