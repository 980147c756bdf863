// Inputs and outputs of a join for tests: records made without a probe (the
// tests join packets no probe would take), and disks that fail.
#pragma once

#include "io/FileBufs.h"
#include "io/InputFile.h"
#include "io/OutputFile.h"
#include "probe/MPEGInfo.h"

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::test {

// A record as ProbeInput makes it, without the format: what the joiner needs
// of a file that stays as it is. A file that cannot be opened gets its name
// only, and the join says why.
inline TInputRecord MeasuredInput(const std::string& Name)
{
    try {
        TInputFile File(Name);
        return {Name, File.Identity(), File.Source().Size(), GetMediaFileKind(File.Source()), {}};
    } catch (const Exception&) {
        return {Name, {}, 0, mfkUnknown, {}};
    }
}

inline std::vector<TInputRecord> MeasuredInputs(const std::vector<std::string>& Names)
{
    std::vector<TInputRecord> Records;
    for (const std::string& Name : Names)
        Records.push_back(MeasuredInput(Name));
    return Records;
}

// An output whose disk is full after Room bytes.
class TFullDiskOutput : public TOutputFile
{
public:
    TFullDiskOutput(const std::string& Name, std::size_t Room) : TOutputFile(Name), m_Room(Room) {}

protected:
    ssize_t WriteSome(const void* Source, std::size_t Count) override
    {
        if (Count > m_Room) {
            errno = ENOSPC;
            return -1;
        }
        m_Room -= Count;
        return TOutputFile::WriteSome(Source, Count);
    }

private:
    std::size_t m_Room;
};

// The bytes of a file, read from memory, that fail from Bad on as a dying
// disk's do.
class TFailingSource : public TByteSource
{
public:
    TFailingSource(std::string Name, std::vector<std::uint8_t> Bytes, std::int64_t Bad)
        : m_Name(std::move(Name)), m_Bytes(std::move(Bytes)), m_Memory(m_Bytes), m_Bad(Bad)
    {
    }
    std::int64_t Size() const override { return m_Memory.Size(); }
    std::uint32_t Read(void* Dest, std::uint32_t Count, std::int64_t Position) override
    {
        if (Position + Count > m_Bad)
            throw Exception(FileErrorMessage("Unable to read file %s", m_Name, EIO));
        return m_Memory.Read(Dest, Count, Position);
    }

private:
    std::string m_Name;
    std::vector<std::uint8_t> m_Bytes;
    TMemorySource m_Memory;
    std::int64_t m_Bad;
};

} // namespace vantrel::test
