#include "Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace vantrel {

std::size_t TMemoryStream::Read(void* Dest, std::size_t Count)
{
    if (Count == 0 || m_Position >= m_Data.size())
        return 0;
    const std::size_t N = std::min(Count, m_Data.size() - m_Position);
    std::memcpy(Dest, m_Data.data() + m_Position, N);
    m_Position += N;
    return N;
}

void TMemoryStream::Write(const void* Source, std::size_t Count)
{
    if (Count == 0)
        return;
    if (m_Data.size() < m_Position + Count)
        m_Data.resize(m_Position + Count);
    std::memcpy(m_Data.data() + m_Position, Source, Count);
    m_Position += Count;
}

void TMemoryStream::SetPosition(std::int64_t Position)
{
    m_Position = static_cast<std::size_t>(std::max<std::int64_t>(Position, 0));
}

void TMemoryStream::SetSize(std::int64_t Size)
{
    m_Data.resize(static_cast<std::size_t>(std::max<std::int64_t>(Size, 0)));
}

TFileStream::TFileStream(const std::string& FileName, TMode Mode) : m_FileName(FileName)
{
    if (Mode == TMode::Read) {
        m_Handle = TFileHandle::TryOpenRead(FileName);
        if (!m_Handle.IsOpen())
            throw Exception(Format("Cannot open file %s", FileName.c_str()));
    } else {
        m_Handle = TFileHandle::TryCreate(FileName);
        if (!m_Handle.IsOpen())
            throw Exception(Format("Cannot create file %s", FileName.c_str()));
        m_Buffer.resize(WriteBufferSize);
    }
}

TFileStream::~TFileStream()
{
    if (!m_Failed && m_Buffered > 0) {
        try {
            Flush();
        } catch (const Exception&) {
            // The error that brought us here is the one the user hears about.
        }
    }
}

std::size_t TFileStream::Read(void* Dest, std::size_t Count)
{
    const std::int64_t N = ReadFully(m_Handle.Get(), Dest, Count);
    return N > 0 ? static_cast<std::size_t>(N) : 0;
}

void TFileStream::Write(const void* Source, std::size_t Count)
{
    // An empty write may come with a null Source (an empty buffer's data()).
    if (Count == 0)
        return;
    if (m_Buffer.empty()) {
        WriteThrough(Source, Count);
        return;
    }
    if (m_Buffered + Count > m_Buffer.size()) {
        Flush();
        if (Count >= m_Buffer.size()) {
            WriteThrough(Source, Count);
            return;
        }
    }
    std::memcpy(m_Buffer.data() + m_Buffered, Source, Count);
    m_Buffered += Count;
}

std::uint8_t* TFileStream::Claim(std::size_t Count)
{
    if (Count > m_Buffer.size())
        return nullptr;
    if (m_Buffered + Count > m_Buffer.size())
        Flush();
    std::uint8_t* Room = m_Buffer.data() + m_Buffered;
    m_Buffered += Count;
    return Room;
}

void TFileStream::Flush()
{
    const std::size_t N = std::exchange(m_Buffered, 0);
    WriteThrough(m_Buffer.data(), N);
}

void TFileStream::Close()
{
    if (!m_Handle.IsOpen())
        return;
    Flush();
    if (!m_Handle.Close())
        throw Exception(Format("Unable to write file %s", m_FileName.c_str()));
}

void TFileStream::WriteThrough(const void* Source, std::size_t Count)
{
    const auto* Data = static_cast<const std::uint8_t*>(Source);
    while (Count > 0) {
        const ssize_t N = ::write(m_Handle.Get(), Data, Count);
        if (N < 0 && errno == EINTR)
            continue;
        if (N <= 0) {
            m_Failed = true;
            throw Exception(Format("Unable to write file %s", m_FileName.c_str()));
        }
        Data += N;
        Count -= static_cast<std::size_t>(N);
    }
}

} // namespace vantrel
