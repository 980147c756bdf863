// Sequential byte streams: a growable in-memory stream; and a buffered file
// writer with the output file of a join.
// The header readers take any TStream, so the probe can hand them gathered
// payload in memory or an elementary stream straight from its file.
#pragma once

#include "SysUtils.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vantrel {

class TStream
{
public:
    virtual ~TStream() = default;
    // Reads up to Count bytes at the current position; returns the count read
    // (0 at the end of the stream or when the read fails).
    virtual std::size_t Read(void* Dest, std::size_t Count) = 0;
    // Writes Count bytes at the current position or raises an Exception.
    virtual void Write(const void* Source, std::size_t Count) = 0;
};

class TMemoryStream : public TStream
{
public:
    std::size_t Read(void* Dest, std::size_t Count) override;
    void Write(const void* Source, std::size_t Count) override;

    std::int64_t Size() const { return static_cast<std::int64_t>(m_Data.size()); }
    std::int64_t Position() const { return static_cast<std::int64_t>(m_Position); }
    // Positions may lie beyond the end; reads there deliver nothing.
    void SetPosition(std::int64_t Position);
    // Truncates or zero-extends; the position stays where it was.
    void SetSize(std::int64_t Size);
    const std::uint8_t* Data() const { return m_Data.data(); }

private:
    std::vector<std::uint8_t> m_Data;
    std::size_t m_Position = 0;
};

// Thrown by a write that a signal interrupted after the user asked to stop:
// the writer gives up rather than wait on a pipe nobody reads.
struct TWriteStopped
{
};

// A file written through a buffer, flushed in large blocks. Every write is
// checked: a failed or short write raises "Unable to write file %s" with the
// reason. Inputs are read through TInputFile (FileBufs).
class TFileStream
{
public:
    // Writes out what is still buffered, ignoring errors: on the error path the
    // output keeps whatever could be written. Call Close to see write errors.
    virtual ~TFileStream();
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    void Write(const void* Source, std::size_t Count);
    // Room for Count bytes in the write buffer, counted as written: the caller
    // fills it in place, which saves a copy of everything a join passes on.
    // Null when Count does not fit in the buffer; then use Write.
    std::uint8_t* Claim(std::size_t Count);
    // Gives back the last Count claimed bytes: filling them failed, or they
    // are not wanted after all.
    void Unclaim(std::size_t Count);
    // Writes out the buffer; raises "Unable to write file %s" on failure.
    void Flush();
    // Flushes and closes, raising on any failure.
    void Close();
    // Bytes written so far, those still in the buffer included.
    std::int64_t Position() const { return m_Position; }

    int Handle() const { return m_Handle.Get(); }
    const std::string& FileName() const { return m_FileName; }

    // Asked when a write was interrupted by a signal: true gives up with
    // TWriteStopped instead of trying again.
    std::function<bool()> StopRequested;

    static constexpr std::size_t WriteBufferSize = 128 * 1024;

protected:
    // A stream writing to Handle, opened by a derived class; shown as FileName.
    TFileStream(const std::string& FileName, TFileHandle Handle);
    [[noreturn]] void RaiseWriteError(int Code) const;
    // Called after each write to the system; Position: the bytes written so far.
    virtual void Flushed(std::int64_t) {}

    std::string m_FileName;
    TFileHandle m_Handle;

private:
    void WriteThrough(const void* Source, std::size_t Count);

    std::vector<std::uint8_t> m_Buffer;
    std::size_t m_Buffered = 0;
    std::int64_t m_Position = 0;
    std::int64_t m_Written = 0; // handed to the system
    bool m_Failed = false;
};

// The output of a join. A regular file is written under a new hidden name
// beside the final one (".NAME.vantrel-partial-XXXXXX", created exclusively)
// and renamed over the final name by Commit, after its data reached the
// disk: a failure, a crash or a full disk leaves whatever stood at the name as
// it was, and an abandoned output takes its partial file with it. An output
// that is not a regular file (a pipe, /dev/stdout, a device) is written
// directly; it is opened write-only and never waits for a reader.
class TOutputFile : public TFileStream
{
public:
    // Raises "Cannot create file %s" with the reason.
    explicit TOutputFile(const std::string& FileName);
    // Without Commit: removes the partial file.
    ~TOutputFile() override;

    // Writes Count bytes over what was written at Position (a regular output
    // only; elsewhere it does nothing and returns false).
    bool WriteAt(std::int64_t Position, const void* Source, std::size_t Count);
    // Flushes, syncs and closes the output and gives it its name. Raises
    // "Unable to write file %s" with the reason; the partial file then goes.
    void Commit();

    bool IsRegular() const { return !m_PartName.empty(); }

protected:
    // Starts writing back what the buffer handed to the system, so that the
    // sync at the end waits for little and the disk works while we read.
    void Flushed(std::int64_t Position) override;

private:
    std::string m_PartName;
    std::string m_FinalName;
    bool m_Committed = false;
    std::int64_t m_WrittenBack = 0;
};

// The name the partial file of an output called FileName gets, before its
// random part: ".NAME.vantrel-partial-", NAME shortened to fit a file name.
std::string PartialFilePrefix(const std::string& FileName);

} // namespace vantrel
