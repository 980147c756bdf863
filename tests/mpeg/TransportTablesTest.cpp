// The tables of a transport stream: sections across packets and several
// in one, PAT, PMT and SDT as ffmpeg writes them, the stream types and
// descriptors, DVB's character tables.
#include "mpeg/CRC32.h"
#include "mpeg/ts/ProgramTables.h"
#include "mpeg/ts/Sections.h"
#include "mpeg/ts/ServiceTable.h"
#include "mpeg/ts/TransportPacket.h"

#include "TestSupport.h"
#include "TransportSupport.h"

#include <gtest/gtest.h>
#include <map>

namespace vantrel {
namespace {

using namespace test;

TEST(Sections, AcrossPacketsAndSeveralInOne)
{
    // A 600-byte private section over four packets, then two short ones
    // in one packet behind a pointer field that ends the first.
    const TBytes Long = Section(0x42, 7, 3, Filled(600 - 12, 0x5A));
    const TBytes A = Section(0x00, 1, 0, {0, 1, 0xE1, 0}), B = Section(0x00, 1, 0, {0, 2, 0xE1, 1});
    std::uint8_t Counter = 0;
    std::vector<TBytes> Packets = PayloadPackets(0x20, Long, Counter, true);
    // The long one's end is moved into the next packet, behind its pointer.
    const std::size_t Tail = 30;
    TBytes Last = Packets.back();
    Packets.back() = TSPacket({0x20,
                               false,
                               static_cast<std::uint8_t>(Counter - 1),
                               {},
                               TBytes(Last.begin() + 4, Last.begin() + 188 - Tail)});
    const std::size_t Used = (1 + Long.size()) % 184; // bytes of the long one in its last packet
    TBytes Rest(Last.begin() + 4 + Used - Tail, Last.begin() + 4 + Used);
    Packets.push_back(TSPacket({0x20,
                                true,
                                Counter++,
                                {},
                                Concat({{static_cast<std::uint8_t>(Tail)},
                                        Rest,
                                        A,
                                        B,
                                        Filled(184 - 1 - Tail - A.size() - B.size(), 0xFF)})}));
    std::vector<TBytes> Got;
    TSectionAssembler Assembler;
    Assembler.OnSection = [&](std::span<const std::uint8_t> S) { Got.emplace_back(S.begin(), S.end()); };
    for (const TBytes& Bytes : Packets) {
        TTransportPacket P;
        ASSERT_TRUE(DecodeTransportPacket(Bytes.data(), 188, 0, P));
        Assembler.Add(P, Bytes.data());
    }
    ASSERT_EQ(Got.size(), 3u);
    EXPECT_EQ(Got[0], Long);
    EXPECT_EQ(Got[1], A);
    EXPECT_EQ(Got[2], B);
    // A damaged one is counted and not handed on; a lost packet drops the one in progress.
    TBytes Damaged = PayloadPackets(0x20, A, Counter, true).front();
    Damaged[10] ^= 1;
    TTransportPacket P;
    DecodeTransportPacket(Damaged.data(), 188, 0, P);
    Assembler.Add(P, Damaged.data());
    EXPECT_EQ(Assembler.CRCErrors(), 1);
    const std::vector<TBytes> Again = PayloadPackets(0x20, Long, Counter, true);
    for (std::size_t I = 0; I < Again.size(); ++I) {
        DecodeTransportPacket(Again[I].data(), 188, 0, P);
        Assembler.Add(P, Again[I].data(), I == 2);
    }
    EXPECT_EQ(Got.size(), 3u);
}

TEST(ProgramTables, OfFfmpegsStreams)
{
    // What ffmpeg wrote: PAT, PMT and SDT, each read from its packets.
    const TBytes Bytes = ReadFile(Stream("ts_pids.ts"));
    std::optional<TPAT> PAT;
    std::optional<TPMT> PMT;
    std::optional<TSDT> SDT;
    std::map<std::uint16_t, TSectionAssembler> Assemblers;
    Assemblers[PATPID].OnSection = [&](auto S) { PAT = PAT ? PAT : DecodePAT(S); };
    Assemblers[0x1100].OnSection = [&](auto S) { PMT = PMT ? PMT : DecodePMT(S); };
    Assemblers[SDTPID].OnSection = [&](auto S) { SDT = SDT ? SDT : DecodeSDT(S); };
    for (std::size_t At = 0; At + 188 <= Bytes.size(); At += 188) {
        TTransportPacket P;
        ASSERT_TRUE(DecodeTransportPacket(&Bytes[At], 188, At, P));
        if (Assemblers.count(P.PID))
            Assemblers[P.PID].Add(P, &Bytes[At]);
    }
    ASSERT_TRUE(PAT && PMT && SDT);
    ASSERT_EQ(PAT->Programs.size(), 1u);
    EXPECT_EQ(PAT->Programs[0].ProgramNumber, 28106);
    EXPECT_EQ(PAT->Programs[0].PID, 0x1100);
    EXPECT_EQ(PMT->ProgramNumber, 28106);
    EXPECT_EQ(PMT->PCRPID, 0x3F0);
    ASSERT_EQ(PMT->Streams.size(), 3u);
    const std::uint16_t PIDs[] = {0x3F0, 0x201, 0x3F2};
    const TStreamCoding Codings[] = {scMPEG2Video, scMPEGAudio, scAC3};
    const std::vector<std::string> Languages[] = {{}, {"deu"}, {"eng"}};
    for (std::size_t I = 0; I < 3; ++I) {
        EXPECT_EQ(PMT->Streams[I].PID, PIDs[I]);
        EXPECT_EQ(StreamCodingOf(PMT->Streams[I], PMT->Descriptors), Codings[I]);
        EXPECT_EQ(PMT->Streams[I].Descriptors.Languages, Languages[I]);
    }
    ASSERT_EQ(SDT->Services.size(), 1u);
    EXPECT_EQ(SDT->Services[0].ServiceId, 28106);
    EXPECT_EQ(SDT->Services[0].Name, "Vantrel Eins");
    EXPECT_EQ(SDT->Services[0].Provider, "Zentrova");
}

TEST(ProgramTables, StreamTypesAndDescriptors)
{
    const auto Descriptor = [](std::uint8_t Tag, const TBytes& Body) {
        return Concat({{Tag, static_cast<std::uint8_t>(Body.size())}, Body});
    };
    const TBytes AC3 = Descriptor(0x6A, {0}), EAC3 = Descriptor(0x7A, {0}), AAC = Descriptor(0x7C, {0x58});
    const TBytes Subtitles =
        Descriptor(0x59, {'d', 'e', 'u', 0x10, 0, 1, 0, 1, 'e', 'n', 'g', 0x10, 0, 2, 0, 2});
    const TBytes Teletext = Descriptor(0x56, {'f', 'r', 'a', 0x09, 0x00});
    const TBytes Registration = Descriptor(0x05, {'A', 'C', '-', '3'});
    const TBytes Section = test::Section(PMTTableId, 5, 0,
                                         PMTBody(0x100, {{0x02, 0x100, {}},
                                                         {0x04, 0x101, Descriptor(0x0A, {'p', 'o', 'l', 0})},
                                                         {0x06, 0x102, AC3},
                                                         {0x06, 0x103, EAC3},
                                                         {0x06, 0x104, Registration},
                                                         {0x0F, 0x105, AAC},
                                                         {0x11, 0x106, {}},
                                                         {0x06, 0x107, Subtitles},
                                                         {0x06, 0x108, Teletext},
                                                         {0x1B, 0x109, {}},
                                                         {0x81, 0x10A, {}},
                                                         {0x06, 0x10B, {}},
                                                         {0x05, 0x10C, {}}}));
    const std::optional<TPMT> PMT = DecodePMT(Section);
    ASSERT_TRUE(PMT);
    const TStreamCoding Expected[] = {scMPEG2Video, scMPEGAudio, scAC3,       scEnhancedAC3, scAC3,
                                      scAAC,        scLATM,      scSubtitles, scTeletext,    scH264,
                                      scAC3,        scOther,     scOther};
    ASSERT_EQ(PMT->Streams.size(), std::size(Expected));
    for (std::size_t I = 0; I < PMT->Streams.size(); ++I)
        EXPECT_EQ(StreamCodingOf(PMT->Streams[I], PMT->Descriptors), Expected[I]) << I;
    EXPECT_EQ(PMT->Streams[1].Descriptors.Languages, std::vector<std::string>{"pol"});
    EXPECT_EQ(PMT->Streams[7].Descriptors.Languages, (std::vector<std::string>{"deu", "eng"}));
    EXPECT_EQ(PMT->Streams[8].Descriptors.Languages, std::vector<std::string>{"fra"});
    // Where each entry stands: a PMT can be rewritten stream by stream.
    EXPECT_EQ(PMT->Streams[0].EntryOffset, 12);
    EXPECT_EQ(PMT->Streams[1].EntryOffset, 17);
    EXPECT_EQ(PMT->Streams[1].EntryLength, 11);
    // A stream loop that runs past the section is no PMT.
    TBytes Short = Section;
    Short[2] -= 8;
    EncodeSectionCRC(std::span(Short).first(Short[2] + 3));
    EXPECT_FALSE(DecodePMT(std::span(Short).first(Short[2] + 3)));
}

TEST(ServiceTable, DVBTexts)
{
    const struct
    {
        TBytes Text;
        std::string Utf8;
    } Cases[] = {
        {{'Z', 'D', 'F'}, "ZDF"},
        {{0x15, 0xC3, 0xA9, 't', 0xC3, 0xA9}, "\xC3\xA9t\xC3\xA9"},    // UTF-8
        {{0x10, 0x00, 0x01, 'K', 0xF6, 'l', 'n'}, "K\xC3\xB6ln"},      // ISO 8859-1
        {{'M', 0xC8, 'u', 'n', 'c', 'h', 'e', 'n'}, "M\xC3\xBCnchen"}, // ISO 6937's accent first
        {{'S', 't', 'r', 'a', 0xFB, 'e'},
         "Stra\xC3\x9F"
         "e"},                                                   // and its sharp s
        {{0x11, 0x00, 'A', 0x04, 0x10}, "A\xD0\x90"},            // UCS-2
        {{0x86, 'A', 'R', 'D', 0x87, 0x8A, 'H', 'D'}, "ARD HD"}, // emphasis, line break
        {{0x01, 'a', 0xC0}, "a?"},                               // ISO 8859-5, not read here
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(DVBText(Case.Text), Case.Utf8);
}

} // namespace
} // namespace vantrel
