// Sequential byte streams: a growable in-memory stream and a file stream.
// The header readers take any TStream, so the probe can hand them gathered
// payload in memory or an elementary stream straight from its file.
#pragma once

#include "SysUtils.h"

#include <algorithm>
#include <cstdint>
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

// A file opened for reading (unbuffered reads) or created for writing
// (buffered writes, flushed in large blocks). Every write is checked: a
// failed or short write raises "Unable to write file %s".
class TFileStream : public TStream
{
public:
    enum class TMode
    {
        Read,
        Create
    };
    // Raises "Cannot open file %s" or "Cannot create file %s".
    TFileStream(const std::string& FileName, TMode Mode);
    // Writes out what is still buffered, ignoring errors: on the error path the
    // output keeps whatever could be written. Call Close to see write errors.
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::size_t Read(void* Dest, std::size_t Count) override;
    void Write(const void* Source, std::size_t Count) override;
    // Room for Count bytes in the write buffer, counted as written: the caller
    // fills it in place, which saves a copy of everything a join passes on.
    // Null when Count does not fit in the buffer; then use Write.
    std::uint8_t* Claim(std::size_t Count);
    // Gives back the last Count claimed bytes, when filling them failed.
    void Unclaim(std::size_t Count) { m_Buffered -= std::min(Count, m_Buffered); }
    // Writes out the buffer; raises "Unable to write file %s" on failure.
    void Flush();
    // Flushes and closes, raising on any failure.
    void Close();

    int Handle() const { return m_Handle.Get(); }
    const std::string& FileName() const { return m_FileName; }

    static constexpr std::size_t WriteBufferSize = 128 * 1024;

private:
    void WriteThrough(const void* Source, std::size_t Count);

    std::string m_FileName;
    TFileHandle m_Handle;
    std::vector<std::uint8_t> m_Buffer;
    std::size_t m_Buffered = 0;
    bool m_Failed = false;
};

} // namespace vantrel
