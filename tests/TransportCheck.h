// The suite's own check of a transport stream, from its bytes and the
// standards alone (not the core's reader): the first and second priority
// indicators of the DVB measurement guidelines (ETSI TR 101 290, 5.2), and
// the transport system target decoder of ISO/IEC 13818-1, 2.4.2, each fault
// with where it happens.
#pragma once

#include "TestSupport.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vantrel::test {

struct TTransportCheck
{
    std::size_t PacketSize = 0;
    std::int64_t Packets = 0;
    // First priority.
    int SyncLosses = 0;       // 1.1: two sync bytes or more missing in a row
    int SyncByteErrors = 0;   // 1.2
    int PATErrors = 0;        // 1.3: more than 0.5 s without a PAT, another table on PID 0, scrambled
    int ContinuityErrors = 0; // 1.4: a packet lost, out of order, or there a third time
    int PMTErrors = 0;        // 1.5: the same for each PMT
    // Second priority.
    int TransportErrors = 0;        // 2.1
    int CRCErrors = 0;              // 2.2: of PAT, CAT, PMT and SDT sections
    int PCRRepetitionErrors = 0;    // 2.3a: PCRs of a program more than 40 ms apart
    int PCRDiscontinuityErrors = 0; // 2.3b: a step outside 0 to 100 ms without its indicator
    int PTSErrors = 0;              // 2.5: PTSs of a stream more than 700 ms apart
    int CATErrors = 0;              // 2.6: scrambled packets and no CAT
    int ArrivalStepsBack = 0;       // 192-byte packets: an arrival stamp before the one before
    double MaxPATGap = 0, MaxPMTGap = 0, MaxPCRGap = 0, MaxPTSGap = 0; // seconds
    // The decoder model: each stream's bytes arrive at the times its
    // program's PCRs give (linear between them), pass a transport buffer of
    // 512 bytes that leaks at the stream type's rate, and a video stream's
    // a multiplex buffer that leaks into its elementary buffer (the leak
    // method); access units leave at their decode time.
    int Units = 0;                        // access units modelled
    int Late = 0;                         // not whole in their buffer at their decode time
    int Overflows = 0;                    // a transport, multiplex, elementary or main buffer over its size
    double WorstLate = 0;                 // seconds
    std::map<std::uint16_t, int> UnitsOf; // by PID
    std::map<std::uint16_t, std::int64_t> Peak, Size; // of the buffer after TB, by PID
    // The first fault of each kind: what, with the byte and the clock's second.
    std::vector<std::string> Faults;

    // No fault of the first or second priority, and the model holds.
    bool Clean() const;
    std::string Text() const;
};

TTransportCheck CheckTransport(const TBytes& File);

// The buffers of Joined fuller than they are in its Inputs: a join may keep
// an input's own overflow but make none worse, and none where the inputs
// have none. Streams are told by their buffers' sizes, the same for a
// stream of one coding whatever PID a file gives it; a buffer of a size no
// input has may be no fuller than that size. "" when there is none, else
// each such buffer ("PID 257 holds 4000 of 3584 bytes, the inputs 3746").
std::string FullerThanInputs(const TTransportCheck& Joined, const std::vector<TTransportCheck>& Inputs);

} // namespace vantrel::test
