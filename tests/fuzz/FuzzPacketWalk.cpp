// The packet walk over arbitrary bytes in memory: every packet read whole and
// as payload, a look ahead and back, then the payloads of the first video and
// audio streams gathered. The same bytes as a transport stream: every packet,
// its counter, the sections of the PIDs below 0x20 and the PES packets of
// the others put back together.
#include "mpeg/ps/ProgramStreamReader.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/ts/Sections.h"
#include "mpeg/ts/ServiceTable.h"
#include "mpeg/ts/TransportPES.h"
#include "mpeg/ts/TransportStreamReader.h"

#include <map>
#include <memory>
#include <vector>

using namespace vantrel;

namespace {

void WalkTransport(TMemorySource& Source)
{
    TTransportStreamReader Reader;
    if (!Reader.Open(Source))
        return;
    TContinuityTracker Continuity;
    std::map<std::uint16_t, TSectionAssembler> Sections;
    std::map<std::uint16_t, std::unique_ptr<TPESAssembler>> PES;
    const auto OnSection = [](std::span<const std::uint8_t> S) {
        DecodePAT(S);
        if (const auto PMT = DecodePMT(S))
            for (const TPMTStream& Stream : PMT->Streams)
                StreamCodingOf(Stream, PMT->Descriptors);
        DecodeSDT(S);
    };
    while (Reader.NextPacket()) {
        const TTransportPacket& P = Reader.Packet();
        const bool Lost = Continuity.Check(P) == ccLost;
        if (P.PID < 0x20) {
            TSectionAssembler& A = Sections[P.PID];
            A.OnSection = OnSection;
            A.Add(P, Reader.Bytes(), Lost);
            continue;
        }
        std::unique_ptr<TPESAssembler>& A = PES[P.PID];
        if (!A) {
            A = std::make_unique<TPESAssembler>(P.PID, 4096);
            A->OnHeader = [](const TTransportPES& E) { E.FilePosition(E.Header.PTSPosition ? 9 : 0); };
        }
        A->Add(P, Reader.Bytes(), Lost);
    }
    for (auto& [PID, A] : PES)
        A->Flush();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    TMemorySource Source(Data, Size);
    try {
        TProgramStreamReader Reader;
        Reader.Open(Source);
        std::vector<std::uint8_t> Buffer;
        while (Reader.NextPacket()) {
            Buffer.resize(Reader.PacketLength());
            Reader.ReadPacket(Buffer.data());
            if (Reader.PacketKind() == pkPES) {
                Buffer.resize(Reader.PES().PayloadLength);
                Reader.ReadPayload(Buffer.data());
            }
            const TPacket Mark = Reader.Mark();
            if (Reader.NextPacket())
                Reader.Restore(Mark);
        }
        TProgramStreamReader Extractor;
        Extractor.Open(Source);
        std::vector<std::uint8_t> Video, Audio;
        Extractor.ExtractStream(0xE0, Video, 200, 8192);
        Extractor.ExtractStream(0xC0, Audio, 0, 0);
        WalkTransport(Source);
    } catch (const Exception&) {
    }
    return 0;
}
