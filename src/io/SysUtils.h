// Errors, message formatting and the thin POSIX file layer the core reads and
// writes through. Nothing here knows about MPEG.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <utility>

namespace vantrel {

// The one exception class of the program: it carries the message a user sees.
class Exception : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// printf-style formatting into a std::string.
std::string Format(const char* Fmt, ...) __attribute__((format(printf, 1, 2)));

// A message about a file, with the system's reason on the next line the way
// the system error text has it: Text (a format with one %s for the name),
// CR LF, then Reason, or the text of errno code Code when Reason is empty.
// Neither given: the text alone.
std::string FileErrorMessage(const char* Text, const std::string& Name, int Code,
                             const std::string& Reason = {});

// Asked by the file layer after every interrupted or short read and write:
// true when the user wants the work to stop, which then raises TStopped.
// Once true it must stay true, so that no stop request is lost.
using TStopCheck = std::function<bool()>;

// Raised where a read or a write gives up because a stop was asked for: on a
// pipe whose reader stalls, or a disk that keeps interrupting, waiting on
// would never end.
class TStopped : public Exception
{
public:
    TStopped() : Exception("The join was stopped.") {}
};

// How often a read or a write interrupted before it moved a byte is tried
// again: a mount that interrupts every call would otherwise spin for ever.
constexpr int InterruptedRetries = 1000;

// An open POSIX file descriptor, closed when the object goes away.
//
// POSIX has no share modes: where a Windows program would let other programs
// read but not write a file it has open, we simply open it; a writer elsewhere
// is not locked out. The reader copes with a file that changes under it by
// reporting short reads.
class TFileHandle
{
public:
    TFileHandle() = default;
    explicit TFileHandle(int Fd) : m_Fd(Fd) {}
    ~TFileHandle() { Close(); }
    TFileHandle(TFileHandle&& Other) noexcept : m_Fd(std::exchange(Other.m_Fd, -1)) {}
    TFileHandle& operator=(TFileHandle&& Other) noexcept;
    TFileHandle(const TFileHandle&) = delete;
    TFileHandle& operator=(const TFileHandle&) = delete;

    // Opens an existing file for reading; -1 handle on failure, errno is kept.
    static TFileHandle TryOpenRead(const std::string& Name);

    int Get() const { return m_Fd; }
    bool IsOpen() const { return m_Fd >= 0; }
    // Closes the descriptor; returns false when close() reported an error.
    bool Close();

private:
    int m_Fd = -1;
};

// True for an existing regular file; a folder is not a file.
bool FileExists(const std::string& Name);

// The folder part of a file name: "." for a bare name, "/" for a name in the root.
std::string ParentFolder(const std::string& Name);

// A size for people: "812 bytes", "14.2 KB", "3.5 MB", "1.2 GB" (units of 1024).
std::string ByteSizeText(std::int64_t Bytes);

// The length of the UTF-8 sequence at Text[I], or 0 where none starts:
// shortest forms only, no surrogates, nothing above U+10FFFF (RFC 3629).
std::size_t Utf8Length(const std::string& Text, std::size_t I);
bool IsUtf8(const std::string& Text);

// Text as a terminal shows it without acting on it: escape sequences, a
// carriage return that hides what came before and the like are escaped as
// ls -b escapes them: \n, \t and the like, \\ for a backslash, and \NNN in
// octal for other control characters and for bytes that are not UTF-8.
// KeepLineBreaks: line feeds are the text's own and stay.
std::string PrintableText(const std::string& Text, bool KeepLineBreaks = false);

// True when both names refer to the same file (device and inode), whatever
// path, symbolic link or hard link leads to it. False when either is missing.
bool SameFile(const std::string& A, const std::string& B);

} // namespace vantrel
