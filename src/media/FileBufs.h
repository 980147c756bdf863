// Random access to an open file through one window held in memory.
#pragma once

#include <cstdint>
#include <memory>

namespace vantrel {

// Packet headers are parsed one to five bytes at a time at nearby positions;
// this turns those small reads into one system read per window, while reads
// longer than half a window (whole packets, payloads) go straight to the file
// so that they are not copied twice and do not evict the window.
class TFileReadBuffer
{
public:
    // Handle is borrowed: the caller closes it after destroying the buffer.
    // The window must hold at least 8192 bytes: a window read is at most half a
    // window long and starts at most 4095 bytes into a freshly loaded window.
    // Raises "Unable to receive file size" when the size cannot be taken.
    TFileReadBuffer(int Handle, std::uint32_t WindowSize);
    TFileReadBuffer(const TFileReadBuffer&) = delete;
    TFileReadBuffer& operator=(const TFileReadBuffer&) = delete;

    // Copies up to Count bytes at Position into Dest. Returns the bytes
    // delivered: fewer at the end of the file, 0 at or past it, -1 when a
    // direct read fails. Raises "Unable to read file" when a window load
    // delivers less than the file size promised (the file shrank or failed).
    std::int32_t Read(void* Dest, std::uint32_t Count, std::int64_t Position);

    std::int64_t FileSize() const { return m_FileSize; }
    std::uint32_t WindowSize() const { return m_WindowSize; }
    // File position of the first window byte; -1 before the first load.
    std::int64_t WindowStart() const { return m_WindowStart; }

    static constexpr std::uint32_t MinWindowSize = 8192;

private:
    void LoadWindow(std::int64_t Position);

    int m_Handle;
    std::unique_ptr<std::uint8_t[]> m_Buffer;
    std::int64_t m_WindowStart = -1;
    std::uint32_t m_WindowSize;
    std::int64_t m_FileSize;
};

} // namespace vantrel
