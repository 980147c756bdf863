#include "join/OutputRoom.h"

#include "io/OutputFile.h"
#include "io/SysUtils.h"
#include "join/ProgramStreamPass.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace vantrel {

namespace {

// The bytes a file system has free; -1 for one that reports no blocks at
// all, which says nothing about its room.
std::int64_t FreeRoom(const struct statvfs& Fs)
{
    return Fs.f_blocks == 0 ? -1
                            : static_cast<std::int64_t>(Fs.f_bavail) * static_cast<std::int64_t>(Fs.f_frsize);
}

// What of a file its disk holds, as its blocks say: holes (zeros the disk
// does not hold) are junk of which a join keeps no more than a gap between
// packets. Its size where it holds more (or the name tells nothing).
std::int64_t HeldBytes(const std::string& Name, std::int64_t Size)
{
    struct stat St
    {
    };
    if (::stat(Name.c_str(), &St) != 0)
        return Size;
    return std::min(Size, static_cast<std::int64_t>(St.st_blocks) * 512 + TProgramStreamPass::MaxKeptGap);
}

} // namespace

std::int64_t BytesToWrite(const std::vector<TInputRecord>& Inputs)
{
    std::int64_t Bytes = 0;
    for (const TInputRecord& Input : Inputs)
        Bytes += std::min(Input.StreamSize, HeldBytes(Input.FileName, Input.StreamSize));
    return Bytes;
}

void RefuseWithoutRoom(const std::string& OutputFileName, std::int64_t Needed)
{
    // Only a file in a file system needs room; a pipe or a device does not.
    struct stat St
    {
    };
    struct statvfs Fs
    {
    };
    std::int64_t Free = -1;
    if (const std::optional<int> Descriptor = OutputDescriptor(OutputFileName)) {
        if (::fstat(*Descriptor, &St) != 0 || !S_ISREG(St.st_mode) || ::fstatvfs(*Descriptor, &Fs) != 0)
            return;
        Free = FreeRoom(Fs);
    } else if (::stat(OutputFileName.c_str(), &St) == 0 && !S_ISREG(St.st_mode)) {
        return;
    } else if (::statvfs(ParentFolder(OutputTarget(OutputFileName)).c_str(), &Fs) == 0) {
        // The room that counts is where the file lands: through a link, the
        // target's folder.
        Free = FreeRoom(Fs);
    }
    if (Free >= 0 && Free < Needed)
        throw Exception(
            FileErrorMessage("Unable to write file %s", OutputFileName, 0,
                             Format("%s: the join needs %s, and only %s are free.", std::strerror(ENOSPC),
                                    ByteSizeText(Needed).c_str(), ByteSizeText(Free).c_str())));
}

} // namespace vantrel
