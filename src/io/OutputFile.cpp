#include "io/OutputFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

void TOutputFile::Write(const void* Source, std::size_t Count)
{
    // An empty write may come with a null Source (an empty buffer's data()).
    if (Count == 0)
        return;
    FlushBlocks();
    if (Count >= WriteBufferSize) {
        Flush();
        m_Position += static_cast<std::int64_t>(Count);
        WriteThrough(Source, Count);
        return;
    }
    std::memcpy(m_Buffer.data() + m_Buffered, Source, Count);
    m_Buffered += Count;
    m_Position += static_cast<std::int64_t>(Count);
}

std::uint8_t* TOutputFile::Claim(std::size_t Count)
{
    if (Count > WriteBufferSize)
        return nullptr;
    FlushBlocks();
    std::uint8_t* Room = m_Buffer.data() + m_Buffered;
    m_Buffered += Count;
    m_Position += static_cast<std::int64_t>(Count);
    return Room;
}

void TOutputFile::Unclaim(std::size_t Count)
{
    Count = std::min(Count, m_Buffered);
    m_Buffered -= Count;
    m_Position -= static_cast<std::int64_t>(Count);
}

void TOutputFile::FlushBlocks()
{
    // The system takes a file's bytes quickest in whole blocks at block
    // boundaries (it keeps them in pieces of memory as large as the write
    // and its place allow), and packets of 188 bytes never fill the buffer
    // exactly: what runs past the last boundary waits for the next write.
    const auto Start = static_cast<std::size_t>((m_Position - static_cast<std::int64_t>(m_Buffered)) %
                                                static_cast<std::int64_t>(WriteBufferSize));
    if (Start + m_Buffered < WriteBufferSize)
        return;
    const std::size_t Count = (Start + m_Buffered) / WriteBufferSize * WriteBufferSize - Start;
    WriteThrough(m_Buffer.data(), Count);
    m_Buffered -= Count;
    std::memmove(m_Buffer.data(), m_Buffer.data() + Count, m_Buffered);
}

void TOutputFile::Flush()
{
    const std::size_t N = std::exchange(m_Buffered, 0);
    WriteThrough(m_Buffer.data(), N);
}

void TOutputFile::RaiseWriteError(int Code) const
{
    throw Exception(FileErrorMessage("Unable to write file %s", m_FileName, Code));
}

[[noreturn]] void TOutputFile::RaiseStopped()
{
    m_Failed = true;
    throw TStopped();
}

ssize_t TOutputFile::WriteSome(const void* Source, std::size_t Count)
{
    return ::write(m_Handle.Get(), Source, Count);
}

ssize_t TOutputFile::WriteSomeAt(const void* Source, std::size_t Count, std::int64_t Position)
{
    return ::pwrite(m_Handle.Get(), Source, Count, static_cast<off_t>(Position));
}

void TOutputFile::WriteAll(const void* Source, std::size_t Count, std::int64_t Position)
{
    const auto* Data = static_cast<const std::uint8_t*>(Source);
    int Interrupted = 0;
    while (Count > 0) {
        if (!IsRegular() && Stopping())
            RaiseStopped();
        const ssize_t N = Position < 0 ? WriteSome(Data, Count) : WriteSomeAt(Data, Count, Position);
        // The stop check may run the event loop, which sets errno as it likes.
        const int Code = errno;
        if (N < 0 && Code == EINTR) {
            if (Stopping())
                RaiseStopped();
            if (++Interrupted < InterruptedRetries)
                continue;
        }
        if (N <= 0) {
            m_Failed = true;
            RaiseWriteError(N < 0 ? Code : ENOSPC);
        }
        // A write cut short by a signal is where a stop request shows; the
        // loop asks again before it writes the rest.
        Data += N;
        Count -= static_cast<std::size_t>(N);
        if (Position >= 0)
            Position += N;
        else
            m_Written += N;
        Interrupted = 0;
    }
    if (Position < 0)
        WriteBack();
}

std::string OutputTarget(std::string Name)
{
    for (int Hops = 0; Hops < 40; ++Hops) {
        struct stat St
        {
        };
        if (::lstat(Name.c_str(), &St) != 0 || !S_ISLNK(St.st_mode))
            break;
        std::string Target(PATH_MAX, '\0');
        const ssize_t N = ::readlink(Name.c_str(), Target.data(), Target.size());
        if (N <= 0)
            break;
        Target.resize(static_cast<std::size_t>(N));
        Name = Target.front() == '/' ? Target : ParentFolder(Name) + "/" + Target;
    }
    return Name;
}

// The descriptor a name stands for: /dev/stdout, /dev/stderr, /dev/fd/N and
// /proc/self/fd/N are the program's own descriptors, not files to replace.
std::optional<int> OutputDescriptor(const std::string& Name)
{
    if (Name == "/dev/stdout")
        return STDOUT_FILENO;
    if (Name == "/dev/stderr")
        return STDERR_FILENO;
    for (const char* Prefix : {"/dev/fd/", "/proc/self/fd/"}) {
        const std::size_t Length = std::strlen(Prefix);
        if (Name.compare(0, Length, Prefix) != 0 || Name.size() == Length || Name.size() > Length + 9)
            continue;
        if (Name.find_first_not_of("0123456789", Length) == std::string::npos)
            return std::stoi(Name.substr(Length));
    }
    return std::nullopt;
}

namespace {

// The longest file name the folder takes: NAME_MAX on most file systems,
// less on some (an encrypted home's names are shorter).
std::size_t NameMax(const std::string& Folder)
{
    const long Max = ::pathconf(Folder.c_str(), _PC_NAME_MAX);
    return Max > 0 ? static_cast<std::size_t>(std::min<long>(Max, NAME_MAX)) : NAME_MAX;
}

std::string BaseName(const std::string& Name)
{
    return Name.substr(Name.rfind('/') + 1);
}

// Six random letters and digits for a partial file's name.
std::string RandomPart()
{
    static constexpr char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937 Random(std::random_device{}());
    std::string Part;
    for (int I = 0; I < 6; ++I)
        Part += Letters[Random() % (sizeof Letters - 1)];
    return Part;
}

} // namespace

bool WritesInto(int Fd, const std::string& Output)
{
    struct stat Open
    {
    };
    struct stat Named
    {
    };
    if (::fstat(Fd, &Open) != 0)
        return false;
    if (const std::optional<int> Descriptor = OutputDescriptor(Output)) {
        if (::fstat(*Descriptor, &Named) != 0)
            return false;
    } else if (::stat(Output.c_str(), &Named) != 0 || S_ISREG(Named.st_mode)) {
        return false;
    }
    return Open.st_dev == Named.st_dev && Open.st_ino == Named.st_ino;
}

void SweepPartials(const std::string& FileName)
{
    if (OutputDescriptor(FileName))
        return;
    const std::string Prefix = PartialFilePrefix(OutputTarget(FileName));
    const std::string Folder = ParentFolder(Prefix), Start = BaseName(Prefix);
    DIR* Listing = ::opendir(Folder.c_str());
    if (!Listing)
        return;
    // Names in the folder, not paths through it: a path as long as the
    // system allows would leave no room for them.
    std::vector<std::string> Names;
    while (const dirent* Entry = ::readdir(Listing))
        if (std::string Name = Entry->d_name;
            Name.size() == Start.size() + 6 && Name.compare(0, Start.size(), Start) == 0)
            Names.push_back(Name);
    const int Dir = ::dirfd(Listing);
    for (const std::string& Name : Names) {
        const TFileHandle Partial(
            ::openat(Dir, Name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat St
        {
        };
        if (Partial.IsOpen() && ::fstat(Partial.Get(), &St) == 0 && S_ISREG(St.st_mode) &&
            ::flock(Partial.Get(), LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(Dir, Name.c_str(), 0);
    }
    ::closedir(Listing);
}

std::string PartialFilePrefix(const std::string& FileName)
{
    const std::size_t Slash = FileName.rfind('/');
    const std::string Folder = Slash == std::string::npos ? "" : FileName.substr(0, Slash + 1);
    std::string Base = BaseName(FileName);
    // ".", the base, ".vantrel-partial-" and six random characters fit a name.
    constexpr std::size_t Extra = 1 + 17 + 6;
    const std::size_t Room = NameMax(Folder.empty() ? "." : Folder) - Extra;
    if (Base.size() > Room)
        Base.resize(Room);
    return Folder + "." + Base + ".vantrel-partial-";
}

TOutputFile::TOutputFile(const std::string& FileName) : m_FileName(FileName), m_Buffer(2 * WriteBufferSize)
{
    // Written through the descriptor as it is, in place: a file that the
    // shell opened to append (>>) is appended to, and nothing is renamed
    // over whatever the descriptor leads to.
    if (const std::optional<int> Descriptor = OutputDescriptor(FileName)) {
        const int Flags = ::fcntl(*Descriptor, F_GETFL);
        if (Flags < 0 || (Flags & O_ACCMODE) == O_RDONLY)
            throw Exception(FileErrorMessage("Cannot create file %s", FileName, Flags < 0 ? errno : EBADF));
        m_Handle = TFileHandle(::fcntl(*Descriptor, F_DUPFD_CLOEXEC, 0));
        if (!m_Handle.IsOpen())
            throw Exception(FileErrorMessage("Cannot create file %s", FileName, errno));
        // A regular file written from where the descriptor stands can still
        // be patched; one opened to append cannot (every write goes to its end).
        struct stat St
        {
        };
        if (!(Flags & O_APPEND) && ::fstat(m_Handle.Get(), &St) == 0 && S_ISREG(St.st_mode))
            m_Origin = ::lseek(m_Handle.Get(), 0, SEEK_CUR);
        return;
    }
    struct stat St
    {
    };
    const bool Exists = ::stat(FileName.c_str(), &St) == 0;
    // A link that leads round in a circle names no file to replace; renaming
    // over it would put a file where the link was.
    if (!Exists && errno == ELOOP)
        throw Exception(FileErrorMessage("Cannot create file %s", FileName, ELOOP));
    if (Exists && S_ISDIR(St.st_mode))
        throw Exception(FileErrorMessage("Cannot create file %s", FileName, EISDIR));
    if (Exists && !S_ISREG(St.st_mode)) {
        // A pipe without a reader refuses a non-blocking open (ENXIO) instead
        // of waiting for one.
        m_Handle = TFileHandle(::open(FileName.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        if (!m_Handle.IsOpen())
            throw Exception(FileErrorMessage("Cannot create file %s", FileName, errno));
        ::fcntl(m_Handle.Get(), F_SETFL, ::fcntl(m_Handle.Get(), F_GETFL) & ~O_NONBLOCK);
        return;
    }
    // A file its owner has made read-only is not replaced behind their back,
    // not even by someone the system would let.
    if (Exists && (::access(FileName.c_str(), W_OK) != 0 || (St.st_mode & 0222) == 0))
        throw Exception(Format("%s is write-protected.", FileName.c_str()));
    m_Replaces = Exists;
    CreatePartial(OutputTarget(FileName), Exists ? &St : nullptr);
}

void TOutputFile::CreatePartial(const std::string& Target, const struct stat* Old)
{
    const std::string Folder = ParentFolder(Target), Base = BaseName(Target);
    const auto Refuse = [&](int Code) {
        // The file is made in its folder: say which one cannot take it.
        if (Code == EACCES || Code == EPERM || Code == EROFS)
            throw Exception(FileErrorMessage(
                "Cannot create file %s", m_FileName, 0,
                Format("The folder %s cannot be written: %s", Folder.c_str(), std::strerror(Code))));
        throw Exception(FileErrorMessage("Cannot create file %s", m_FileName, Code));
    };
    // Known before a byte is written, not at the rename after all of them.
    if (Base.empty())
        Refuse(EISDIR);
    if (Base.size() > NameMax(Folder))
        Refuse(ENAMETOOLONG);
    m_Folder = TFileHandle(::open(Folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!m_Folder.IsOpen())
        Refuse(errno);
    // What the replaced file lets others do, the partial file lets them from
    // the start; a new file is made as any other.
    const mode_t Mode = Old ? Old->st_mode & 0777 : 0666;
    const std::string Prefix = BaseName(PartialFilePrefix(Target));
    for (int Attempt = 0; Attempt < 100 && !m_Handle.IsOpen(); ++Attempt) {
        const std::string Name = Prefix + RandomPart();
        m_Handle = TFileHandle(
            ::openat(m_Folder.Get(), Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, Mode));
        if (!m_Handle.IsOpen() && errno != EEXIST)
            Refuse(errno);
        if (!m_Handle.IsOpen())
            continue;
        m_PartName = Name;
        // Held until the file is closed: the next join to this name sweeps
        // only the partial files nobody holds.
        ::flock(m_Handle.Get(), LOCK_EX | LOCK_NB);
        // The replaced file's group, where we may give it, before the first
        // byte: its group bits are meant for that group.
        if (Old) {
            [[maybe_unused]] const int Owned = ::fchown(m_Handle.Get(), Old->st_uid, Old->st_gid);
        }
    }
    if (!m_Handle.IsOpen())
        Refuse(EEXIST);
    m_FinalName = Base;
}

TOutputFile::~TOutputFile()
{
    if (m_Committed)
        return;
    if (IsRegular()) {
        m_Handle.Close();
        ::unlinkat(m_Folder.Get(), m_PartName.c_str(), 0);
        return;
    }
    if (!m_Failed && m_Buffered > 0 && m_Handle.IsOpen()) {
        try {
            Flush();
        } catch (...) {
        }
    }
}

void TOutputFile::WriteBack()
{
#ifdef __linux__
    constexpr std::int64_t Step = 8 << 20;
    // Only an output that must be on the disk before it takes its name: the
    // sync at the end then waits for little.
    if (IsRegular() && m_Replaces && Durable && m_Written - m_WrittenBack >= Step) {
        ::sync_file_range(m_Handle.Get(), m_WrittenBack, m_Written - m_WrittenBack, SYNC_FILE_RANGE_WRITE);
        m_WrittenBack = m_Written;
    }
#endif
}

bool TOutputFile::WriteAt(std::int64_t Position, const void* Source, std::size_t Count)
{
    if (!IsRegular() && m_Origin < 0)
        return false;
    Flush();
    WriteAll(Source, Count, Position + std::max<std::int64_t>(m_Origin, 0));
    return true;
}

void TOutputFile::Commit()
{
    // A stop asked before is the caller's to weigh (a Cancel that keeps what
    // was joined); one that comes while the output is made durable is heard
    // before the name changes hands.
    const bool StoppedBefore = Stopping();
    Flush();
    // Whatever stands at the name now is what the rename would cost.
    struct stat Old
    {
    };
    m_Replaces =
        IsRegular() && ::fstatat(m_Folder.Get(), m_FinalName.c_str(), &Old, 0) == 0 && S_ISREG(Old.st_mode);
    if (m_Replaces && Durable) {
        int Result, Interrupted = 0;
        while ((Result = ::fsync(m_Handle.Get())) != 0 && errno == EINTR &&
               ++Interrupted < InterruptedRetries) {
        }
        if (Result != 0)
            RaiseWriteError(errno);
    }
    // A file that is replaced keeps its owner, where the system lets us give
    // it, and its permissions (after the owner: a change of owner clears the
    // set-id bits).
    if (m_Replaces) {
        [[maybe_unused]] const int Owned = ::fchown(m_Handle.Get(), Old.st_uid, Old.st_gid);
        ::fchmod(m_Handle.Get(), Old.st_mode & 07777);
    }
    if (!m_Handle.Close())
        RaiseWriteError(errno);
    if (!StoppedBefore && Stopping())
        RaiseStopped();
    if (!IsRegular()) {
        m_Committed = true;
        return;
    }
    if (::renameat(m_Folder.Get(), m_PartName.c_str(), m_Folder.Get(), m_FinalName.c_str()) != 0)
        RaiseWriteError(errno);
    m_Committed = true;
    // Make the new name of a replacing file durable; a file system that
    // cannot sync a folder has still renamed.
    if (!m_Replaces || !Durable)
        return;
    const TFileHandle Folder(::openat(m_Folder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (Folder.IsOpen())
        ::fsync(Folder.Get());
}

} // namespace vantrel
