// Random access to an open file through one window held in memory.
#pragma once

#include "io/ByteSource.h"
#include "io/SysUtils.h"

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

} // namespace vantrel
