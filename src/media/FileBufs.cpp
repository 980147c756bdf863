#include "FileBufs.h"

#include "CDXARead.h"

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

namespace {

// Files of /proc, /sys and debugfs are regular files to stat, but their
// sizes say nothing (0, or a page), and reading some has effects.
void RefuseKernelFile(int Handle, const std::string& Name)
{
    constexpr long ProcMagic = 0x9FA0, SysfsMagic = 0x62656572, DebugfsMagic = 0x64626720;
    struct statfs Fs
    {
    };
    if (::fstatfs(Handle, &Fs) != 0)
        return;
    const char* Where = Fs.f_type == ProcMagic      ? "/proc"
                        : Fs.f_type == SysfsMagic   ? "/sys"
                        : Fs.f_type == DebugfsMagic ? "debugfs"
                                                    : nullptr;
    if (Where)
        throw Exception(Format("%s is not a video file: the kernel makes it up as it is read (%s).",
                               Name.c_str(), Where));
}

} // namespace

void RefuseIrregularFile(const std::string& Name)
{
    struct stat St
    {
    };
    if (::stat(Name.c_str(), &St) == 0 && !S_ISREG(St.st_mode))
        throw Exception(Format("%s is not a regular file.", Name.c_str()));
}

TInputFile::TInputFile(const std::string& FileName, std::uint32_t WindowSize, std::int64_t SizeLimit)
    : m_FileName(FileName)
{
    RefuseIrregularFile(FileName);
    // Non-blocking, in case the name became a FIFO since the check: the open
    // then returns at once and the check below refuses it.
    m_Handle = TFileHandle(::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!m_Handle.IsOpen())
        throw Exception(FileErrorMessage("Cannot open file %s", FileName, errno));
    struct stat St
    {
    };
    if (::fstat(m_Handle.Get(), &St) != 0 || !S_ISREG(St.st_mode))
        throw Exception(Format("%s is not a regular file.", FileName.c_str()));
    RefuseKernelFile(m_Handle.Get(), FileName);
    ::fcntl(m_Handle.Get(), F_SETFL, ::fcntl(m_Handle.Get(), F_GETFL) & ~O_NONBLOCK);
    m_Identity = IdentityOf(St);
    m_Buffer = std::make_unique<TFileReadBuffer>(m_Handle.Get(), WindowSize, FileName, SizeLimit);
    if (SizeLimit >= 0 && m_Buffer->FileSize() < SizeLimit)
        throw Exception(FileErrorMessage("Unable to read file %s", FileName, 0,
                                         "The file is shorter than when the join began."));
    m_Track = OpenSectorTrack(*m_Buffer);
}

TInputFile::TInputFile(const std::string& FileName, std::unique_ptr<TByteSource> Source,
                       const TFileIdentity& Identity)
    : m_FileName(FileName), m_Identity(Identity), m_Track(std::move(Source))
{
}

// The buffer reads through the handle: it goes first.
TInputFile::~TInputFile()
{
    m_Track.reset();
    m_Buffer.reset();
}

TFileIdentity TInputFile::CurrentIdentity() const
{
    struct stat St
    {
    };
    if (!m_Handle.IsOpen() || ::fstat(m_Handle.Get(), &St) != 0)
        return m_Identity;
    return IdentityOf(St);
}

void TInputFile::SetStopCheck(TStopCheck Check)
{
    if (m_Buffer)
        m_Buffer->StopRequested = std::move(Check);
}

TFileIdentity IdentityOf(const std::string& Name)
{
    struct stat St
    {
    };
    return ::stat(Name.c_str(), &St) == 0 ? IdentityOf(St) : TFileIdentity{};
}

TFileIdentity IdentityOf(const struct stat& St)
{
    return {static_cast<std::uint64_t>(St.st_dev), static_cast<std::uint64_t>(St.st_ino),
            static_cast<std::int64_t>(St.st_size),
            static_cast<std::int64_t>(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec};
}

} // namespace vantrel
