#include "io/SysUtils.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel {

std::string Format(const char* Fmt, ...)
{
    va_list Args;
    va_start(Args, Fmt);
    va_list Copy;
    va_copy(Copy, Args);
    const int Length = std::vsnprintf(nullptr, 0, Fmt, Copy);
    va_end(Copy);
    std::string Result;
    if (Length > 0) {
        std::vector<char> Text(static_cast<std::size_t>(Length) + 1);
        std::vsnprintf(Text.data(), Text.size(), Fmt, Args);
        Result.assign(Text.data(), static_cast<std::size_t>(Length));
    }
    va_end(Args);
    return Result;
}

std::string FileErrorMessage(const char* Text, const std::string& Name, int Code, const std::string& Reason)
{
    std::string Message = Format(Text, Name.c_str());
    if (!Reason.empty())
        Message += "\r\n" + Reason;
    else if (Code != 0)
        Message += "\r\n" + std::string(std::strerror(Code));
    return Message;
}

TFileHandle& TFileHandle::operator=(TFileHandle&& Other) noexcept
{
    if (this != &Other) {
        Close();
        m_Fd = std::exchange(Other.m_Fd, -1);
    }
    return *this;
}

TFileHandle TFileHandle::TryOpenRead(const std::string& Name)
{
    return TFileHandle(::open(Name.c_str(), O_RDONLY | O_CLOEXEC));
}

bool TFileHandle::Close()
{
    if (m_Fd < 0)
        return true;
    const int Result = ::close(std::exchange(m_Fd, -1));
    return Result == 0;
}

bool FileExists(const std::string& Name)
{
    struct stat St
    {
    };
    return ::stat(Name.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

std::string ParentFolder(const std::string& Name)
{
    const std::size_t Slash = Name.rfind('/');
    if (Slash == std::string::npos)
        return ".";
    return Slash == 0 ? "/" : Name.substr(0, Slash);
}

std::string ByteSizeText(std::int64_t Bytes)
{
    if (Bytes < 1024)
        return Format("%lld bytes", static_cast<long long>(Bytes));
    static constexpr const char* Units[] = {"KB", "MB", "GB", "TB"};
    double Value = static_cast<double>(Bytes) / 1024;
    std::size_t Unit = 0;
    for (; Value >= 1024 && Unit + 1 < std::size(Units); ++Unit)
        Value /= 1024;
    return Format("%.1f %s", Value, Units[Unit]);
}

std::size_t Utf8Length(const std::string& Text, std::size_t I)
{
    const auto At = [&](std::size_t K) { return static_cast<unsigned char>(Text[I + K]); };
    const unsigned char C = At(0);
    const std::size_t Length = C < 0x80                ? 1
                               : C >= 0xC2 && C < 0xE0 ? 2
                               : C >= 0xE0 && C < 0xF0 ? 3
                               : C >= 0xF0 && C < 0xF5 ? 4
                                                       : 0;
    if (Length == 0 || I + Length > Text.size())
        return 0;
    for (std::size_t K = 1; K < Length; ++K)
        if ((At(K) & 0xC0) != 0x80)
            return 0;
    if ((C == 0xE0 && At(1) < 0xA0) || (C == 0xED && At(1) >= 0xA0) || (C == 0xF0 && At(1) < 0x90) ||
        (C == 0xF4 && At(1) >= 0x90))
        return 0;
    return Length;
}

bool IsUtf8(const std::string& Text)
{
    for (std::size_t I = 0, Length; I < Text.size(); I += Length)
        if ((Length = Utf8Length(Text, I)) == 0)
            return false;
    return true;
}

std::string PrintableText(const std::string& Text, bool KeepLineBreaks)
{
    static constexpr char Named[] = "abtnvfr"; // \a to \r, codes 7 to 13
    std::string Out;
    for (std::size_t I = 0; I < Text.size();) {
        const auto C = static_cast<unsigned char>(Text[I]);
        const std::size_t Length = Utf8Length(Text, I);
        // U+0080 to U+009F, the second set of control characters.
        const bool Control = C < 0x20 || C == 0x7F ||
                             (C == 0xC2 && Length == 2 && static_cast<unsigned char>(Text[I + 1]) < 0xA0);
        if (C == '\n' && KeepLineBreaks)
            Out += '\n';
        else if (C == '\\')
            Out += "\\\\";
        else if (C >= 7 && C <= 13)
            Out += std::string{'\\', Named[C - 7]};
        else if (Length == 0 || Control)
            for (std::size_t K = 0; K < std::max<std::size_t>(Length, 1); ++K)
                Out += Format("\\%03o", static_cast<unsigned char>(Text[I + K]));
        else
            Out += Text.substr(I, Length);
        I += std::max<std::size_t>(Length, 1);
    }
    return Out;
}

bool SameFile(const std::string& A, const std::string& B)
{
    struct stat Sa
    {
    };
    struct stat Sb
    {
    };
    if (::stat(A.c_str(), &Sa) != 0 || ::stat(B.c_str(), &Sb) != 0)
        return false;
    return Sa.st_dev == Sb.st_dev && Sa.st_ino == Sb.st_ino;
}

} // namespace vantrel
