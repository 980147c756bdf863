#include "FileBufs.h"

#include "SysUtils.h"

#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace vantrel {

namespace {
constexpr std::int64_t WindowAlignment = 4096;
}

TFileReadBuffer::TFileReadBuffer(int Handle, std::uint32_t WindowSize)
    : m_Handle(Handle), m_WindowSize(WindowSize)
{
    if (WindowSize < MinWindowSize)
        throw std::invalid_argument("TFileReadBuffer: window smaller than 8192 bytes");
    m_FileSize = ::lseek(Handle, 0, SEEK_END);
    if (m_FileSize < 0)
        throw Exception("Unable to receive file size");
    m_Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(WindowSize);
}

std::int32_t TFileReadBuffer::Read(void* Dest, std::uint32_t Count, std::int64_t Position)
{
    // Nothing to copy: Dest may then be null (an empty buffer's data()).
    if (Count == 0 || Position < 0 || Position >= m_FileSize)
        return 0;
    if (Count > m_WindowSize / 2)
        return static_cast<std::int32_t>(ReadFully(m_Handle, Dest, Count, Position));

    if (m_WindowStart < 0 || m_WindowStart > Position || Position + Count > m_WindowStart + m_WindowSize)
        LoadWindow(Position);
    const std::int64_t Delivered = std::min<std::int64_t>(Count, m_FileSize - Position);
    std::memcpy(Dest, m_Buffer.get() + (Position - m_WindowStart), static_cast<std::size_t>(Delivered));
    return static_cast<std::int32_t>(Delivered);
}

void TFileReadBuffer::LoadWindow(std::int64_t Position)
{
    m_WindowStart = Position & ~(WindowAlignment - 1);
    const std::int64_t Wanted = std::min<std::int64_t>(m_WindowSize, m_FileSize - m_WindowStart);
    if (ReadFully(m_Handle, m_Buffer.get(), static_cast<std::size_t>(Wanted), m_WindowStart) != Wanted)
        throw Exception("Unable to read file");
}

} // namespace vantrel
