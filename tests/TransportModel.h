// The transport system target decoder of ISO/IEC 13818-1, 2.4.2, for one
// elementary stream, from its bytes and their arrival times alone: the
// transport buffer (512 bytes, leaking at the stream type's rate), then a
// video stream's multiplex buffer leaking into its elementary buffer (the
// leak method; for H.264 with the sizes of 2.14.3.1) or a sound stream's
// main buffer; access units leave whole at their decode times.
#pragma once

#include "StreamChecks.h"
#include "TestSupport.h"
#include "TransportCheck.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::test {

enum TModelKind
{
    mdNone,
    mdVideo, // MPEG-1 and MPEG-2 video
    mdH264,
    mdMPEGAudio,
    mdAC3, // and enhanced AC-3
    mdAAC, // in ADTS frames
    mdLATM
};

struct TModelledStream
{
    std::uint16_t PID = 0;
    TModelKind Kind = mdNone;
    TBytes ES; // the elementary stream, PES headers left out
    struct TPacket
    {
        double Arrival;       // 27 MHz, of its last byte
        std::size_t Bytes;    // of the elementary stream it brings
        std::size_t Position; // in the file, for where a fault happens
    };
    std::vector<TPacket> Packets; // every transport packet of the PID
    struct TPES
    {
        std::size_t ESOffset;         // where its payload starts in ES
        std::optional<double> Decode; // its DTS, else its PTS, 27 MHz on the arrival clock
    };
    std::vector<TPES> PESs;
};

// Fault(Count, Kind, Position, What) counts a fault and notes the first of
// its kind.
using TFaultNote =
    std::function<void(int& Count, const char* Kind, std::size_t Position, const std::string& What)>;

// Runs S through the model, adding its units, late units and overflows to
// Check (with the buffer's peak and size), noting each fault.
void ModelStream(const TModelledStream& S, TTransportCheck& Check, const TFaultNote& Fault);

} // namespace vantrel::test
