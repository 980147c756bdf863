#include "io/InputFile.h"

#include "io/SectorTrack.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace vantrel {

namespace {

// Files of the kernel's own file systems (/proc, /sys and the others mounted
// below /sys) are regular files to stat, but their sizes say nothing (0, or
// a page), and reading some has effects. Magic numbers from <linux/magic.h>.
void RefuseKernelFile(int Handle, const std::string& Name)
{
    static constexpr struct
    {
        long Magic;
        const char* Where;
    } KernelFileSystems[] = {
        {0x9FA0, "/proc"},          {0x62656572, "/sys"},     {0x64626720, "debugfs"},
        {0x27E0EB, "cgroup"},       {0x63677270, "cgroup2"},  {0x74726163, "tracefs"},
        {0x73636673, "securityfs"}, {0x62656570, "configfs"}, {0xDE5E81E4, "efivarfs"},
        {0x6165676C, "pstore"},     {0xCAFE4A11, "bpf"},      {0xF97CFF8C, "selinuxfs"},
    };
    struct statfs Fs
    {
    };
    if (::fstatfs(Handle, &Fs) != 0)
        return;
    for (const auto& Kernel : KernelFileSystems)
        if (static_cast<unsigned long>(Fs.f_type) == static_cast<unsigned long>(Kernel.Magic))
            throw Exception(Format("%s is not a video file: the kernel makes it up as it is read (%s).",
                                   Name.c_str(), Kernel.Where));
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
    const auto Ns = [](const timespec& Time) {
        return static_cast<std::int64_t>(Time.tv_sec) * 1000000000 + Time.tv_nsec;
    };
    return {static_cast<std::uint64_t>(St.st_dev), static_cast<std::uint64_t>(St.st_ino),
            static_cast<std::int64_t>(St.st_size), Ns(St.st_mtim), Ns(St.st_ctim)};
}

} // namespace vantrel
