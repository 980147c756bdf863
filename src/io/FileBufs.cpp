#include "io/FileBufs.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace vantrel {

namespace {
constexpr std::int64_t WindowAlignment = 4096;
}

TFileReadBuffer::TFileReadBuffer(int Handle, std::uint32_t WindowSize, std::string FileName,
                                 std::int64_t SizeLimit)
    : m_Handle(Handle), m_FileName(std::move(FileName)), m_WindowSize(WindowSize)
{
    if (WindowSize < MinWindowSize)
        throw std::invalid_argument("TFileReadBuffer: window smaller than 8192 bytes");
    m_FileSize = ::lseek(Handle, 0, SEEK_END);
    if (m_FileSize < 0)
        throw Exception("Unable to receive file size");
    if (SizeLimit >= 0 && SizeLimit < m_FileSize)
        m_FileSize = SizeLimit;
    m_Buffer = std::make_unique_for_overwrite<std::uint8_t[]>(WindowSize);
}

std::uint32_t TFileReadBuffer::Read(void* Dest, std::uint32_t Count, std::int64_t Position)
{
    // Nothing to copy: Dest may then be null (an empty buffer's data()).
    if (Count == 0 || Position < 0 || Position >= m_FileSize)
        return 0;
    const auto Delivered = static_cast<std::uint32_t>(std::min<std::int64_t>(Count, m_FileSize - Position));
    if (Count > m_WindowSize / 2) {
        ReadExactly(Dest, Delivered, Position);
        return Delivered;
    }
    if (m_WindowStart < 0 || m_WindowStart > Position || Position + Count > m_WindowStart + m_WindowSize)
        LoadWindow(Position);
    std::memcpy(Dest, m_Buffer.get() + (Position - m_WindowStart), Delivered);
    return Delivered;
}

void TFileReadBuffer::LoadWindow(std::int64_t Position)
{
    m_WindowStart = Position & ~(WindowAlignment - 1);
    const std::int64_t Wanted = std::min<std::int64_t>(m_WindowSize, m_FileSize - m_WindowStart);
    ReadExactly(m_Buffer.get(), static_cast<std::size_t>(Wanted), m_WindowStart);
}

void TFileReadBuffer::ReadExactly(void* Dest, std::size_t Count, std::int64_t Position)
{
    auto* Out = static_cast<std::uint8_t*>(Dest);
    int Interrupted = 0;
    for (std::size_t Done = 0; Done < Count;) {
        const ssize_t N = ::pread(m_Handle, Out + Done, Count - Done, Position + static_cast<off_t>(Done));
        if (N < 0 && errno == EINTR) {
            if (StopRequested && StopRequested())
                throw TStopped();
            if (++Interrupted < InterruptedRetries)
                continue;
        }
        if (N < 0)
            throw Exception(FileErrorMessage("Unable to read file %s", m_FileName, errno));
        if (N == 0)
            throw Exception(FileErrorMessage("Unable to read file %s", m_FileName, 0,
                                             "The file is shorter than when it was opened."));
        Done += static_cast<std::size_t>(N);
        Interrupted = 0;
        if (Done < Count && StopRequested && StopRequested())
            throw TStopped();
    }
}

} // namespace vantrel
