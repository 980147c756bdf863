#!/usr/bin/env python3
# Copies a 188-byte transport stream from ffmpeg's muxer (its H.264 video
# on PID 0x100) with one change to the video, as other encoders write it:
#   no-timing: the timing information taken out of its sequence parameter
#     sets (timing_info_present_flag 0, the 65 bits of num_units_in_tick,
#     time_scale and fixed_frame_rate_flag gone); the PES packets keep their
#     stamps. Reads the sets libx264 writes (no scaling matrices,
#     pic_order_cnt_type 0 or 2), each within one packet.
#   end-units: an end of sequence and an end of stream NAL unit after its
#     last picture, in a packet of their own after the video's last.
# Usage: edit-h264-ts.py no-timing|end-units IN.ts OUT.ts
import re
import sys

HIGH_PROFILES = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135}


def unescape(nal):
    return re.sub(b"\x00\x00\x03", b"\x00\x00", nal)


def escape(rbsp):
    # 00 00 then 00 to 03 gets an 03 between (7.4.1).
    out, zeros = bytearray(), 0
    for byte in rbsp:
        if zeros >= 2 and byte <= 3:
            out.append(3)
            zeros = 0
        out.append(byte)
        zeros = zeros + 1 if byte == 0 else 0
    return bytes(out)


class Bits:
    def __init__(self, data, at):
        self.bits = "".join(f"{b:08b}" for b in data)
        self.at = at

    def read(self, n):
        value = int(self.bits[self.at:self.at + n], 2)
        self.at += n
        return value

    def ue(self):
        zeros = 0
        while self.read(1) == 0:
            zeros += 1
        return (1 << zeros) - 1 + (self.read(zeros) if zeros else 0)


def drop_timing(rbsp):
    bits = Bits(rbsp, 24 + 8)  # header byte, profile, constraints, level
    profile = rbsp[1]
    bits.ue()  # seq_parameter_set_id
    if profile in HIGH_PROFILES:
        if bits.ue() == 3:
            bits.read(1)
        bits.ue(), bits.ue(), bits.read(1)
        if bits.read(1):
            sys.exit("drop-h264-timing: scaling matrices are not read")
    bits.ue()  # log2_max_frame_num_minus4
    poc = bits.ue()
    if poc == 0:
        bits.ue()
    elif poc == 1:
        sys.exit("drop-h264-timing: pic_order_cnt_type 1 is not read")
    bits.ue(), bits.read(1), bits.ue(), bits.ue()
    if bits.read(1) == 0:  # frame_mbs_only_flag
        bits.read(1)
    bits.read(1)
    if bits.read(1):  # frame_cropping_flag
        for _ in range(4):
            bits.ue()
    if bits.read(1) == 0:  # no VUI
        return rbsp
    if bits.read(1) and bits.read(8) == 255:  # aspect_ratio_info_present_flag
        bits.read(32)
    if bits.read(1):  # overscan_info_present_flag
        bits.read(1)
    if bits.read(1):  # video_signal_type_present_flag
        bits.read(4)
        if bits.read(1):
            bits.read(24)
    if bits.read(1):  # chroma_loc_info_present_flag
        bits.ue(), bits.ue()
    flag = bits.at
    if bits.read(1) == 0:
        return rbsp
    kept = bits.bits[:flag] + "0" + bits.bits[flag + 66:]
    # The RBSP's stop bit and the zeros after it, again at a byte's end.
    kept = kept.rstrip("0")[:-1] + "1"
    kept += "0" * (-len(kept) % 8)
    return bytes(int(kept[i:i + 8], 2) for i in range(0, len(kept), 8))


VIDEO_PID = 0x100


def video_packets(data):
    for at in range(0, len(data) - 187, 188):
        if data[at] == 0x47 and (data[at + 1] & 0x1F) << 8 | data[at + 2] == VIDEO_PID:
            yield at


def no_timing(data):
    for at in video_packets(data):
        packet = data[at:at + 188]
        if not packet[3] & 0x10:
            continue
        payload = 4 + (1 + packet[4] if packet[3] & 0x20 else 0)
        for sps in re.finditer(b"\x00\x00\x01[\x07\x27\x47\x67]", packet[payload:]):
            begin = payload + sps.start() + 3
            end = packet.find(b"\x00\x00\x01", begin)
            if end < 0:
                sys.exit("edit-h264-ts: a sequence parameter set runs on into the next packet")
            # The shorter set and zero bytes up to the next start code, which
            # a byte stream allows between units (B.1.1): every packet keeps
            # its length.
            nal = escape(drop_timing(unescape(bytes(packet[begin:end]))))
            data[at + begin:at + end] = nal + bytes(end - begin - len(nal))
    return data


def end_units(data):
    last = list(video_packets(data))[-1]
    units = b"\x00\x00\x00\x01\x0a\x00\x00\x00\x01\x0b"
    # The packet goes on with the PES packet before it (ffmpeg leaves a
    # video PES packet's length open): no unit start, the next continuity
    # counter, an adaptation field of stuffing before the units.
    header = bytes([0x47, VIDEO_PID >> 8, VIDEO_PID & 0xFF, 0x30 | (data[last + 3] + 1) & 0x0F])
    stuffing = 188 - len(header) - 1 - len(units)
    packet = header + bytes([stuffing, 0]) + b"\xff" * (stuffing - 1) + units
    return data[:last + 188] + packet + data[last + 188:]


def main():
    mode, source, target = sys.argv[1:4]
    data = bytearray(open(source, "rb").read())
    open(target, "wb").write({"no-timing": no_timing, "end-units": end_units}[mode](data))


main()
