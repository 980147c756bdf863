#include "H264Model.h"

#include <algorithm>
#include <cstdint>

namespace vantrel::test {

namespace {

// The NAL units of a byte stream: where each start code and header byte stand.
struct TNal
{
    std::size_t Prefix, Header;
};
std::vector<TNal> Nals(const TBytes& D)
{
    std::vector<TNal> Found;
    for (std::size_t I = 0; I + 3 < D.size(); ++I)
        if (D[I] == 0 && D[I + 1] == 0 && D[I + 2] == 1) {
            Found.push_back({I > 0 && D[I - 1] == 0 ? I - 1 : I, I + 3});
            I += 2;
        }
    return Found;
}

// The bits of a NAL unit's payload, emulation prevention bytes (the 03 of
// 00 00 03) left out; past the end reads zeros.
class TBits
{
public:
    TBits(const TBytes& D, std::size_t From, std::size_t To)
    {
        for (std::size_t I = From, Zeros = 0; I < To; ++I) {
            if (Zeros >= 2 && D[I] == 3) {
                Zeros = 0;
                continue;
            }
            Zeros = D[I] == 0 ? Zeros + 1 : 0;
            m_Bytes.push_back(D[I]);
        }
    }
    std::uint32_t U(int N)
    {
        std::uint32_t V = 0;
        for (int I = 0; I < N; ++I, ++m_Bit)
            V = (V << 1) | (m_Bit / 8 < m_Bytes.size() ? (m_Bytes[m_Bit / 8] >> (7 - m_Bit % 8)) & 1 : 0);
        return V;
    }
    // 9.1: leading zeros, a one, as many bits again.
    std::uint32_t UE()
    {
        int Zeros = 0;
        while (U(1) == 0 && Zeros < 32)
            ++Zeros;
        return Zeros >= 32 ? 0 : (1u << Zeros) - 1 + U(Zeros);
    }
    void SE() { UE(); }

private:
    TBytes m_Bytes;
    std::size_t m_Bit = 0;
};

// Table A-1 by level_idc: MaxBR (cpbBrNalFactor bits a second) and MaxCPB
// (cpbBrNalFactor bits); level 1b as 9.
struct TLevel
{
    int Idc;
    double MaxBR, MaxCPB;
};
constexpr TLevel Levels[] = {
    {10, 64, 175},        {9, 128, 350},        {11, 192, 500},       {12, 384, 1000},
    {13, 768, 2000},      {20, 2000, 2000},     {21, 4000, 4000},     {22, 4000, 4000},
    {30, 10000, 10000},   {31, 14000, 14000},   {32, 20000, 20000},   {40, 20000, 25000},
    {41, 50000, 62500},   {42, 50000, 62500},   {50, 135000, 135000}, {51, 240000, 240000},
    {52, 240000, 240000}, {60, 240000, 240000}, {61, 480000, 480000}, {62, 800000, 800000}};

// Table A-2: 1200 below High, 1500 for High, 3600 for High 10, 4800 from
// the 4:2:2 profiles on.
double NalFactor(std::uint32_t Profile)
{
    return Profile == 100                                      ? 1500
           : Profile == 110                                    ? 3600
           : Profile == 122 || Profile == 244 || Profile == 44 ? 4800
                                                               : 1200;
}

// 7.3.2.1.1 up to the VUI's NAL HRD (E.1.1, E.1.2): the first schedule's
// cpb size in bits, 0 where the sequence declares none.
double HrdCpbBits(TBits& B, std::uint32_t Profile)
{
    B.UE(); // seq_parameter_set_id
    static constexpr std::uint32_t Chroma[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
    if (std::find(std::begin(Chroma), std::end(Chroma), Profile) != std::end(Chroma)) {
        const std::uint32_t Format = B.UE();
        if (Format == 3)
            B.U(1);
        B.UE(), B.UE(), B.U(1); // bit depths, qpprime_y_zero_transform_bypass_flag
        if (B.U(1))             // seq_scaling_matrix_present_flag
            for (int I = 0; I < (Format == 3 ? 12 : 8); ++I)
                if (B.U(1))
                    for (int J = 0, Last = 8, Next = 8; J < (I < 6 ? 16 : 64) && Next != 0; ++J) {
                        const std::uint32_t Code = B.UE();
                        const int Delta = Code & 1 ? int((Code + 1) / 2) : -int(Code / 2);
                        Next = (Last + Delta + 256) % 256;
                        Last = Next == 0 ? Last : Next;
                    }
    }
    B.UE(); // log2_max_frame_num_minus4
    if (const std::uint32_t Poc = B.UE(); Poc == 0) {
        B.UE();
    } else if (Poc == 1) {
        B.U(1), B.SE(), B.SE();
        for (std::uint32_t N = B.UE(), I = 0; I < N && I < 256; ++I)
            B.SE();
    }
    B.UE(), B.U(1), B.UE(), B.UE(); // references, gaps, width, height
    if (!B.U(1))                    // frame_mbs_only_flag
        B.U(1);
    B.U(1);
    if (B.U(1)) // frame cropping
        B.UE(), B.UE(), B.UE(), B.UE();
    if (!B.U(1)) // vui_parameters_present_flag
        return 0;
    if (B.U(1) && B.U(8) == 255) // aspect ratio, extended SAR
        B.U(16), B.U(16);
    if (B.U(1)) // overscan
        B.U(1);
    if (B.U(1)) { // video signal type
        B.U(4);
        if (B.U(1))
            B.U(24);
    }
    if (B.U(1)) // chroma sample places
        B.UE(), B.UE();
    if (B.U(1)) // timing
        B.U(32), B.U(32), B.U(1);
    if (!B.U(1)) // nal_hrd_parameters_present_flag
        return 0;
    B.UE(); // cpb_cnt_minus1
    B.U(4);
    const int SizeScale = static_cast<int>(B.U(4));
    B.UE(); // bit_rate_value_minus1[0]
    return double(B.UE() + 1) * double(1u << (4 + SizeScale));
}

} // namespace

std::vector<std::pair<std::size_t, std::size_t>> H264UnitRanges(const TBytes& D)
{
    const std::vector<TNal> All = Nals(D);
    const auto Type = [&](const TNal& N) { return D[N.Header] & 0x1F; };
    const bool Delimited = std::any_of(All.begin(), All.end(), [&](const TNal& N) { return Type(N) == 9; });
    constexpr std::size_t None = ~std::size_t{0};
    std::vector<std::pair<std::size_t, std::size_t>> Ranges;
    // The unit being read: its start, its first slice; the first SEI or
    // parameter set since the last slice, where the next unit would start.
    std::size_t Start = None, Slice = None, Pending = None;
    const auto Close = [&] {
        if (Start != None && Slice != None)
            Ranges.emplace_back(Start, Slice);
    };
    for (const TNal& N : All) {
        const int T = Type(N);
        const bool Vcl = T >= 1 && T <= 5;
        if (Delimited) {
            if (T == 9) {
                Close();
                Start = N.Prefix, Slice = None;
            } else if (Vcl && Slice == None) {
                Slice = N.Prefix;
            }
            continue;
        }
        if (!Vcl) {
            if ((T >= 6 && T <= 8) || (T >= 14 && T <= 18))
                Pending = std::min(Pending, N.Prefix);
            continue;
        }
        // first_mb_in_slice 0 is ue(v)'s single 1 bit.
        const bool First = T != 3 && T != 4 && N.Header + 1 < D.size() && (D[N.Header + 1] & 0x80);
        if (Slice == None || First) {
            Close();
            Start = std::min(Pending, N.Prefix), Slice = N.Prefix;
        }
        Pending = None;
    }
    Close();
    return Ranges;
}

std::optional<TH264Buffers> H264Buffers(const TBytes& D)
{
    for (const TNal& N : Nals(D)) {
        if ((D[N.Header] & 0x1F) != 7 || N.Header + 4 > D.size())
            continue;
        const std::uint32_t Profile = D[N.Header + 1];
        int Idc = D[N.Header + 3];
        // Level 1b below High: 11 with constraint_set3_flag.
        if (Idc == 11 && (Profile == 66 || Profile == 77 || Profile == 88) && (D[N.Header + 2] & 0x10))
            Idc = 9;
        const auto Level =
            std::find_if(std::begin(Levels), std::end(Levels), [&](const TLevel& L) { return L.Idc == Idc; });
        if (Level == std::end(Levels))
            return std::nullopt;
        TBits Bits(D, N.Header + 4, std::min(D.size(), N.Header + 1024));
        const double Factor = NalFactor(Profile), Rmax = Factor * Level->MaxBR / 8,
                     Most = Factor * Level->MaxCPB / 8;
        const double Hrd = HrdCpbBits(Bits, Profile) / 8;
        TH264Buffers B;
        B.Rx = B.Rbx = 1.2 * Rmax;
        B.EBS = Hrd > 0 ? std::min(Hrd, Most) : Most;
        const double Mux = std::max(Rmax, 2e6 / 8);
        B.MBS = 0.004 * Mux + Mux / 750 + Most - B.EBS;
        return B;
    }
    return std::nullopt;
}

} // namespace vantrel::test
