#!/usr/bin/env bash
# Makes the small MPEG streams the integration tests use, with two independent
# muxers (ffmpeg and mjpegtools), so our reader meets both packet layouts:
# ffmpeg writes one system header and large packets, mplex writes VCD-sized
# packets with padding packets (0xBE) and two system headers.
#
# Usage: make-streams.sh OUTDIR
# Every file is rebuilt only when missing, so running it twice is cheap.
set -euo pipefail

out=${1:?usage: make-streams.sh OUTDIR}
tools=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# Two seconds of a moving test picture and a tone; $1 size, $2 rate, $3 seconds.
video_src() { echo "testsrc=size=$1:rate=$2:duration=$3"; }
audio_src() { echo "sine=frequency=$1:sample_rate=$2:duration=$3"; }

make() {
    local name=$1
    shift
    [ -s "$name" ] && return 0
    "$@" || { rm -f "$name"; echo "make-streams: failed to make $name" >&2; exit 1; }
}

# ffmpeg MPEG-1 system streams: PAL size, 25 fps, mp2 stereo 44.1 kHz.
make ff_pal.mpg ff -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 440 44100 2)" \
    -ac 2 -c:v mpeg1video -b:v 1000k -bf 0 -c:a mp2 -b:a 192k -f mpeg ff_pal.mpg
make ff_pal_b.mpg ff -f lavfi -i "$(video_src 352x288 25 3)" -f lavfi -i "$(audio_src 660 44100 3)" \
    -ac 2 -c:v mpeg1video -b:v 1000k -bf 2 -c:a mp2 -b:a 192k -f mpeg ff_pal_b.mpg
# Same video, other audio: 48 kHz mono.
make ff_pal_mono48.mpg ff -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 440 48000 2)" \
    -ac 1 -c:v mpeg1video -b:v 1000k -bf 2 -c:a mp2 -b:a 128k -f mpeg ff_pal_mono48.mpg
# Same video, dual channel layer II (twolame) and joint stereo layer III (lame).
make ff_pal_dual.mpg ff -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 440 44100 2)" \
    -ac 2 -c:v mpeg1video -b:v 1000k -bf 2 -c:a libtwolame -mode dual_channel -b:a 192k -f mpeg ff_pal_dual.mpg
make ff_pal_mp3.mpg ff -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 440 44100 2)" \
    -ac 2 -c:v mpeg1video -b:v 1000k -bf 2 -c:a libmp3lame -b:a 128k -f mpeg ff_pal_mp3.mpg
# Video only, no audio stream at all.
make ff_pal_noaudio.mpg ff -f lavfi -i "$(video_src 352x288 25 2)" \
    -c:v mpeg1video -b:v 1000k -bf 2 -f mpeg ff_pal_noaudio.mpg
# NTSC VCD: 352x240 at 29.97 fps, B-frames, VCD packet layout.
make ff_vcd.mpg ff -f lavfi -i "$(video_src 352x240 30000/1001 2)" -f lavfi -i "$(audio_src 440 44100 2)" \
    -ac 2 -target ntsc-vcd -bf 2 ff_vcd.mpg
# Other picture size at 25 fps.
make ff_small.mpg ff -f lavfi -i "$(video_src 320x240 25 2)" -f lavfi -i "$(audio_src 440 44100 2)" \
    -ac 2 -c:v mpeg1video -b:v 800k -bf 2 -c:a mp2 -b:a 192k -f mpeg ff_small.mpg
# A video elementary stream of the PAL picture.
make ff_pal.m1v ff -f lavfi -i "$(video_src 352x288 25 2)" -c:v mpeg1video -b:v 1000k -bf 2 -f mpeg1video ff_pal.m1v
# AC-3 as a DVD carries it: 48 kHz 5.1 at 448 kbit/s, and stereo at 44.1 kHz.
make ff_51.ac3 ff -f lavfi -i "$(audio_src 440 48000 1)" -af "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0" \
    -c:a ac3 -b:a 448k -f ac3 ff_51.ac3
make ff_stereo48.dts ff -f lavfi -i "$(audio_src 440 48000 1)" -ac 2 -c:a dca -strict -2 -f dts ff_stereo48.dts
make ff_stereo441.ac3 ff -f lavfi -i "$(audio_src 440 44100 1)" -ac 2 -c:a ac3 -b:a 192k -f ac3 ff_stereo441.ac3
# MPEG-2 program streams as DVD-Video and DVD recorders write them: 2048-byte
# packs, navigation packs, AC-3 (5.1 on the NTSC one), LPCM and DTS in
# private stream 1; an SVCD (2324-byte packs, MPEG audio).
for n in 1 2 3; do
    make dvd_pal$n.vob ff -f lavfi -i "$(video_src 720x576 25 $n)" \
        -f lavfi -i "$(audio_src $((300 + 100 * n)) 48000 $n)" -ac 2 -target pal-dvd -aspect 16:9 dvd_pal$n.vob
done
for n in 1 2; do
    make dvd_ntsc$n.vob ff -f lavfi -i "$(video_src 720x480 30000/1001 $n)" \
        -f lavfi -i "$(audio_src $((300 + 100 * n)) 48000 $n)" \
        -af "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0" -target ntsc-dvd -aspect 4:3 dvd_ntsc$n.vob
    make svcd$n.mpg ff -f lavfi -i "$(video_src 480x576 25 $((n + 1)))" \
        -f lavfi -i "$(audio_src $((300 + 100 * n)) 44100 $((n + 1)))" -ac 2 -target pal-svcd -aspect 4:3 svcd$n.mpg
    make vob_mp2_$n.vob ff -f lavfi -i "$(video_src 720x576 25 $n)" \
        -f lavfi -i "$(audio_src $((300 + 100 * n)) 48000 $n)" -ac 2 -c:v mpeg2video -b:v 4000k -aspect 4:3 \
        -c:a mp2 -b:a 224k -f vob vob_mp2_$n.vob
done
# ffmpeg's LPCM muxing warns of every packet; the file is what it is.
make vob_lpcm.vob ff -loglevel fatal -f lavfi -i "$(video_src 720x576 25 2)" -f lavfi -i "$(audio_src 500 48000 2)" \
    -ac 2 -c:v mpeg2video -b:v 5000k -aspect 4:3 -c:a pcm_s16be -f dvd vob_lpcm.vob
make vob_dts.vob ff -f lavfi -i "$(video_src 720x576 25 2)" -f lavfi -i "$(audio_src 500 48000 2)" \
    -ac 2 -c:v mpeg2video -b:v 5000k -aspect 4:3 -c:a dca -strict -2 -f dvd vob_dts.vob
# DVDs whose channel is full, as a camcorder's .mod or a DVD near its ceiling
# holds them: interlaced MPEG-2 near 9 Mbit/s and AC-3 in 10.08 Mbit/s of
# 2048-byte packs, more than 2 MiB a file.
for n in 1 2; do
    make dvd_full$n.vob ff -f lavfi -i "$(video_src 720x576 25 $((n + 2)))" \
        -f lavfi -i "$(audio_src $((300 + 100 * n)) 48000 $((n + 2)))" -vf "noise=alls=40:allf=t" \
        -c:v mpeg2video -b:v 8800k -maxrate 9300k -minrate 8800k -bufsize 1835008 -flags +ilme+ildct -top 1 \
        -g 12 -bf 2 -c:a ac3 -b:a 448k -ac 2 -muxrate 10080k -packetsize 2048 -aspect 4:3 -f dvd dvd_full$n.vob
done
# A DVD with two sound streams (two AC-3 sub-streams of private stream 1).
for n in 1 2; do
    make dvd_two$n.vob ff -f lavfi -i "$(video_src 720x576 25 $((n + 1)))" -f lavfi -i "$(audio_src 500 48000 $((n + 1)))" \
        -f lavfi -i "$(audio_src 700 48000 $((n + 1)))" -map 0:v -map 1:a -map 2:a -target pal-dvd -c:a ac3 -b:a 192k \
        -ac 2 dvd_two$n.vob
done
# A recording of a DVD recorder's length that the tests cut in pieces.
make dvd_rec.vob ff -f lavfi -i "$(video_src 720x576 25 6)" -f lavfi -i "$(audio_src 700 48000 6)" \
    -ac 2 -target pal-dvd -b:v 3000k dvd_rec.vob
# Clips cut out of a DVD with ffmpeg's stream copy, as people cut them: each
# opens with pictures that refer to what was cut away (an open group of
# pictures) and with the rest of an AC-3 frame, which its first packet's
# pointer does not name: it names the frame the cut left out.
make dvd_cutsrc.vob ff -f lavfi -i "$(video_src 720x576 25 8)" -f lavfi -i "$(audio_src 500 48000 8)" -ac 2 \
    -target pal-dvd -b:v 2000k -b:a 192k -aspect 4:3 dvd_cutsrc.vob
make dvd_cut1.vob ff -loglevel fatal -ss 1.3 -i dvd_cutsrc.vob -t 3 -c copy -f dvd dvd_cut1.vob
make dvd_cut2.vob ff -loglevel fatal -ss 4.7 -i dvd_cutsrc.vob -t 3 -c copy -f dvd dvd_cut2.vob
# The same as a DVD holds them once authored: navigation packs filled in
# with times and addresses.
authored() {
    local name=$1 input=$2 tmp
    tmp=$(mktemp -d)
    VIDEO_FORMAT=PAL dvdauthor -o "$tmp/dvd" -t "$input" >/dev/null 2>&1 &&
        cp "$tmp/dvd/VIDEO_TS/VTS_01_1.VOB" "$name"
    local rc=$?
    rm -rf "$tmp"
    return $rc
}
# An authored title of one still picture under a minute of AC-3 5.1 (mplex
# wants the picture's sequence ended).
still() {
    local tmp
    tmp=$(mktemp -d)
    ff -f lavfi -i "$(video_src 720x576 25 0.04)" -vf noise=alls=14 -c:v mpeg2video -q:v 3 -frames:v 1 \
        -f mpeg2video "$tmp/v.m2v" &&
        printf '\000\000\001\267' >> "$tmp/v.m2v" &&
        ff -f lavfi -i "$(audio_src 440 48000 60)" -af "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0" \
            -c:a ac3 -b:a 448k -f ac3 "$tmp/a.ac3" &&
        mplex -v 0 -f 8 -o "$tmp/still.mpg" "$tmp/v.m2v" "$tmp/a.ac3" &&
        authored "$1" "$tmp/still.mpg"
    local rc=$?
    rm -rf "$tmp"
    return $rc
}
make dvd_authored1.vob authored dvd_authored1.vob dvd_pal1.vob
make dvd_authored2.vob authored dvd_authored2.vob dvd_pal2.vob
make dvd_still.vob still dvd_still.vob
# MPEG-2 streams of other layouts.
make ff_mpeg2.vob ff -f lavfi -i "$(video_src 720x576 25 1)" -f lavfi -i "$(audio_src 440 48000 1)" \
    -ac 2 -c:v mpeg2video -c:a mp2 -f vob ff_mpeg2.vob
make ff_mpeg2_dvd.mpg ff -f lavfi -i "$(video_src 720x576 25 1)" -f lavfi -i "$(audio_src 440 48000 1)" \
    -ac 2 -c:v mpeg2video -c:a mp2 -f dvd ff_mpeg2_dvd.mpg

# PAL VCD from ffmpeg: constant-rate 2324-byte packs, like mplex -f 1 below.
make ff_pal_vcd.mpg ff -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 440 44100 2)" \
    -ac 2 -target pal-vcd ff_pal_vcd.mpg
# Time stamps that wrap past 2^33 (26.5 hours) a few tenths of a second in.
make ff_pal_wrap.mpg ff -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 440 44100 2)" \
    -ac 2 -c:v mpeg1video -b:v 1000k -bf 2 -c:a mp2 -b:a 192k -output_ts_offset 95443 -f mpeg ff_pal_wrap.mpg
# The same sound at another bit rate, which the joiner must read per file.
make ff_pal_64k.mpg ff -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 440 44100 2)" \
    -ac 2 -c:v mpeg1video -b:v 1000k -bf 0 -c:a mp2 -b:a 64k -f mpeg ff_pal_64k.mpg
# Audio whose frames hold bit patterns that decode as other headers: mono
# layer II at 384k and 256k, and stereo in 2324-byte packets.
make ff_mono384.mpg ff -f lavfi -i "$(video_src 352x288 25 4)" -f lavfi -i "$(audio_src 440 44100 4)" \
    -ac 1 -c:v mpeg1video -c:a mp2 -b:a 384k -f mpeg ff_mono384.mpg
make ff_mono256.mpg ff -f lavfi -i "$(video_src 352x288 25 4)" -f lavfi -i "$(audio_src 440 44100 4)" \
    -ac 1 -c:v mpeg1video -c:a mp2 -b:a 256k -f mpeg ff_mono256.mpg
make ff_pal_2324.mpg ff -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 440 44100 2)" \
    -ac 2 -c:v mpeg1video -b:v 1000k -bf 2 -c:a mp2 -b:a 192k -packetsize 2324 -f mpeg ff_pal_2324.mpg
# A small picture, which the tests give an early encoder's frame-rate code.
# Muxed at a rate close to the streams' own (2000 kbit/s for 1.7 Mbit/s of
# video and sound), 2048-byte packets; NTSC with B-frames; NTSC VCD clips of
# other lengths and tones: joints where the channel has little room.
for n in 1 2 3; do
    make ff_rate$n.mpg ff -f lavfi -i "$(video_src 352x288 25 $((n + 1)))" \
        -f lavfi -i "$(audio_src $((300 + 100 * n)) 44100 $((n + 1)))" -ac 2 -c:v mpeg1video -b:v 1500k \
        -maxrate 1500k -bufsize 327680 -bf 2 -c:a mp2 -b:a 192k -packetsize 2048 -muxrate 2000k \
        -f mpeg ff_rate$n.mpg
    make ff_ntsc$n.mpg ff -f lavfi -i "$(video_src 352x240 30000/1001 $((n + 1)))" \
        -f lavfi -i "$(audio_src $((300 + 100 * n)) 44100 $((n + 1)))" -ac 2 -c:v mpeg1video -b:v 1150k \
        -bf 2 -c:a mp2 -b:a 224k -f mpeg ff_ntsc$n.mpg
    make ff_ntscvcd$n.mpg ff -f lavfi -i "$(video_src 352x240 30000/1001 $((n + 1)))" \
        -f lavfi -i "$(audio_src $((300 + 100 * n)) 44100 $((n + 1)))" -ac 2 -target ntsc-vcd -bf 2 \
        ff_ntscvcd$n.mpg
done
# MPEG-1 in 2048-byte packets at a free rate that leaves room (2000 kbit/s for
# 1150 kbit/s of NTSC video with B-frames in groups of 15, and 224 kbit/s of
# sound), whose clock starts long before its pictures.
for n in 1 2 3; do
    make ff_free$n.mpg ff -f lavfi -i "$(video_src 352x240 30000/1001 $((n + 2)))" \
        -f lavfi -i "$(audio_src $((300 + 100 * n)) 44100 $((n + 2)))" -vf "noise=alls=5:allf=t" -ac 2 \
        -c:v mpeg1video -b:v 1150k -bf 2 -g 15 -c:a mp2 -b:a 224k -packetsize 2048 -muxrate 2000k \
        -f mpeg ff_free$n.mpg
done
make ff_qsif.m1v ff -f lavfi -i "$(video_src 160x120 25 2)" -c:v mpeg1video -f mpeg1video ff_qsif.m1v
# MPEG-2 video: an elementary stream (also under an .mpg name) and inside an
# MPEG-1 system stream.
make ff_mpeg2.m2v ff -f lavfi -i "$(video_src 352x288 25 1)" -c:v mpeg2video -f mpeg2video ff_mpeg2.m2v
make ff_mpeg2_b.m2v ff -f lavfi -i "$(video_src 352x288 25 2)" -c:v mpeg2video -bf 2 -f mpeg2video ff_mpeg2_b.m2v
make ff_mpeg2_es.mpg cp ff_mpeg2.m2v ff_mpeg2_es.mpg
make ff_mpeg2_in_mpeg1.mpg ff -f lavfi -i "$(video_src 352x288 25 1)" -c:v mpeg2video -f mpeg ff_mpeg2_in_mpeg1.mpg

# A VCD track as it comes off a disc: RIFF/CDXA around raw 2352-byte mode 2
# form 2 sectors (sync, header, subheader, 2324 bytes of stream, EDC), after
# $3 empty sectors.
cdxa_track() {
    perl -e '
        my ($in, $out, $empty) = @ARGV;
        open(my $I, "<:raw", $in) or die; open(my $O, ">:raw", $out) or die;
        local $/; my $s = <$I>;
        $s = ("\0" x (2324 * $empty)) . $s;
        $s .= "\0" x ((2324 - length($s) % 2324) % 2324);
        my $n = length($s) / 2324;
        print $O "RIFF", pack("V", 36 + $n * 2352), "CDXA", "fmt ", pack("V", 16), "\0" x 16,
            "data", pack("V", $n * 2352);
        for my $i (0 .. $n - 1) {
            my $sync = "\0" . ("\xFF" x 10) . "\0";
            print $O $sync, pack("C4", 0, 2, $i % 75, 2), pack("C4", 1, 1, 0x64, 0x0F) x 2,
                substr($s, $i * 2324, 2324), "\0" x 4;
        }' "$2" "$1" "$3"
}
make vcd_track.dat cdxa_track vcd_track.dat ff_pal_vcd.mpg 0
make vcd_track_empty.dat cdxa_track vcd_track_empty.dat ff_pal_vcd.mpg 8
# A track cut at a pack in the middle of a group of pictures: its first
# sequence header stands tens of KB into its video.
make vcd_cut.mpg sh -c 'tail -c +$((2324 * 12 + 1)) ff_pal_vcd.mpg > vcd_cut.mpg'

# A track as it stands on a disc that vcdimager made: its sectors cut out of
# the image, from the track's index 00 (with the 150 empty sectors before its
# start) or index 01, to the end (with the empty sectors after its end).
disc_track() {
    local name=$1 index=$2 tmp
    tmp=$(mktemp -d)
    (cd "$tmp" && vcdimager -t vcd2 -c v.cue -b v.bin "$OLDPWD/mplex_vcd.mpg" >/dev/null) || return 1
    local at
    at=$(awk -v i="$index" '/TRACK 02/ { t = 1 } t && $1 == "INDEX" && $2 == i {
        split($3, m, ":"); print (m[1] * 60 + m[2]) * 75 + m[3] }' "$tmp/v.cue")
    dd if="$tmp/v.bin" of="$name" bs=2352 skip="$at" status=none
    local rc=$?
    rm -rf "$tmp"
    return $rc
}

# mjpegtools: mpeg2enc (VCD profile) + mp2enc + mplex, PAL VCD and a generic
# MPEG-1 stream. mplex VCD output carries padding packets and two system headers.
mjpeg_pal() {
    local name=$1 format=$2 seconds=$3
    local tmp
    tmp=$(mktemp -d)
    ff -f lavfi -i "$(video_src 352x288 25 "$seconds")" -pix_fmt yuv420p -f yuv4mpegpipe "$tmp/v.y4m"
    ff -f lavfi -i "$(audio_src 550 44100 "$seconds")" -ac 2 "$tmp/a.wav"
    mpeg2enc -v 0 -f 1 -o "$tmp/v.m1v" < "$tmp/v.y4m"
    mp2enc -v 0 -r 44100 -b 224 -o "$tmp/a.mp2" < "$tmp/a.wav"
    mplex -v 0 -f "$format" -o "$name" "$tmp/v.m1v" "$tmp/a.mp2"
    local rc=$?
    rm -rf "$tmp"
    return $rc
}
# mjpegtools' DVD: mpeg2enc -f 8 and mplex -f 8, which writes navigation
# packs; $3 $4 $5: picture size, rate and encoder options (default PAL). With
# -p, film at 23.976 fps is coded for 29.97 with 3:2 pulldown: every other
# picture repeats its first field. The video stream stays beside it.
mjpeg_dvd() {
    local name=$1 seconds=$2 size=${3:-720x576} rate=${4:-25} options=${5:-}
    local tmp
    tmp=$(mktemp -d)
    ff -f lavfi -i "$(video_src "$size" "$rate" "$seconds")" -pix_fmt yuv420p -f yuv4mpegpipe "$tmp/v.y4m"
    ff -f lavfi -i "$(audio_src 550 48000 "$seconds")" -ac 2 "$tmp/a.wav"
    mpeg2enc -v 0 -f 8 -a 2 $options -o "$tmp/v.m2v" < "$tmp/v.y4m" 2>/dev/null
    mp2enc -v 0 -r 48000 -b 224 -o "$tmp/a.mp2" < "$tmp/a.wav"
    mplex -v 0 -f 8 -o "$name" "$tmp/v.m2v" "$tmp/a.mp2"
    local rc=$?
    cp "$tmp/v.m2v" "${name%.*}.m2v"
    rm -rf "$tmp"
    return $rc
}
# mjpegtools' encoder takes half of the time here on one core: its streams
# are made beside the others, and the script waits for them at its end.
(
make mplex_dvd1.mpg mjpeg_dvd mplex_dvd1.mpg 2
make mplex_dvd2.mpg mjpeg_dvd mplex_dvd2.mpg 3
make mplex_film1.mpg mjpeg_dvd mplex_film1.mpg 2 720x480 24000/1001 -p
make mplex_film2.mpg mjpeg_dvd mplex_film2.mpg 3 720x480 24000/1001 -p
make mplex_vcd.mpg mjpeg_pal mplex_vcd.mpg 1 2
make mplex_vcd_b.mpg mjpeg_pal mplex_vcd_b.mpg 1 3
make mplex_generic.mpg mjpeg_pal mplex_generic.mpg 0 2
make disc_track.bin disc_track disc_track.bin 01
make disc_pregap.bin disc_track disc_pregap.bin 00
# mplex's VCD of a rate of its own choosing (-f 2), in two lengths.
make mplex_uvcd.mpg mjpeg_pal mplex_uvcd.mpg 2 2
make mplex_uvcd_b.mpg mjpeg_pal mplex_uvcd_b.mpg 2 3
) &
mjpegtools_streams=$!

# H.264 in transport streams, from libx264 with ffmpeg's muxer. AVCHD
# camcorders: 192-byte packets (a 4-byte arrival stamp before each packet),
# 1080-line interlaced pictures (MBAFF, top field first) with delimiters,
# four slices a picture, an HRD and pic_timing, and AC-3 or LPCM sound. HD
# broadcasts: 188-byte packets at a constant mux rate, AAC, 720p50 and
# 1080i25 in closed and open GOPs (open: the I picture after each GOP comes
# before the B pictures that show ahead of it; keyint 26 against groups of
# four pictures makes sure some do).
x264() {
    local out=$1 size=$2 rate=$3 seconds=$4 params=$5
    shift 5
    ff -f lavfi -i "$(video_src "$size" "$rate" "$seconds")" -f lavfi -i "$(audio_src 440 48000 "$seconds")" \
        -pix_fmt yuv420p -c:v libx264 -preset ultrafast -bf 3 -x264-params "8x8dct=1:$params" "$@" "$out"
}
avchd() {
    x264 "$1" "${SIZE:-1920x1080}" "$2" "$3" \
        "tff=1:aud=1:slices=4:pic-struct=1:nal-hrd=vbr:colorprim=bt709:transfer=bt709:colormatrix=bt709:keyint=$4" \
        -flags +ilme+ildct -level 4.0 -maxrate 15M -bufsize 12M "${@:5}" -f mpegts -mpegts_m2ts_mode 1
}
make avchd_1080i50_1.m2ts avchd avchd_1080i50_1.m2ts 25 2 25 -af "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0" \
    -c:a ac3 -b:a 448k
make avchd_1080i50_2.m2ts avchd avchd_1080i50_2.m2ts 25 1 25 -af "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0" \
    -c:a ac3 -b:a 448k
make avchd_1080i60_1.m2ts avchd avchd_1080i60_1.m2ts 30000/1001 2 15 -ac 2 -c:a ac3 -b:a 256k
make avchd_1080i60_2.m2ts avchd avchd_1080i60_2.m2ts 30000/1001 1 15 -ac 2 -c:a ac3 -b:a 256k
# The camcorders' long-play size: 1440 samples a line, each 4:3 wide.
avchd_1440() { SIZE=1440x1080 avchd "$@" -aspect 16:9; }
make avchd_lpcm.m2ts avchd_1440 avchd_lpcm.m2ts 25 1 25 -af "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0" \
    -c:a pcm_bluray -sample_fmt s32
# A recording a camcorder split at a file size: the second half goes on at
# the next aligned unit of 32 packets (6144 bytes), in no particular place
# of its stream.
split_recording() {
    local from=$1 first=$2 second=$3 units
    units=$(($(stat -c %s "$from") / 6144 / 2))
    head -c $((units * 6144)) "$from" > "$first" && tail -c +$((units * 6144 + 1)) "$from" > "$second"
}
make avchd_1080i60_1b.m2ts split_recording avchd_1080i60_1.m2ts avchd_1080i60_1a.m2ts avchd_1080i60_1b.m2ts
broadcast() {
    x264 "$1" "$2" "$3" "$4" "keyint=$5:$6" "${@:7}" -ac 2 -c:a aac -b:a 128k -f mpegts
}
make hd_720p50_1.ts broadcast hd_720p50_1.ts 1280x720 50 2 25 "aud=1"
make hd_720p50_2.ts broadcast hd_720p50_2.ts 1280x720 50 1 25 "aud=1"
make hd_720p50_open.ts broadcast hd_720p50_open.ts 1280x720 50 2 26 "aud=1:open-gop=1:overscan=crop"
# 1080i25 at a constant rate with the HRD's filler, and a constant mux rate.
# The VUI's optional parts: colours (AVCHD), overscan (720p50 open), chroma
# sample places (1080i25).
hd_1080i25() {
    broadcast "$1" 1920x1080 25 "$2" 26 "tff=1:aud=1:nal-hrd=cbr:chromaloc=1:$3" -flags +ilme+ildct -b:v 3M -minrate 3M \
        -maxrate 3M -bufsize 3M -muxrate 4M
}
make hd_1080i25_1.ts hd_1080i25 hd_1080i25_1.ts 2 "open-gop=0"
make hd_1080i25_2.ts hd_1080i25 hd_1080i25_2.ts 1 "open-gop=0"
make hd_1080i25_open.ts hd_1080i25 hd_1080i25_open.ts 2 "open-gop=1"
# H.264 whose sequence parameter sets hold no timing information, as some
# encoders write it: its rate, 23.976 frames a second, is in its stamps only.
no_timing() {
    broadcast "$1.part" 640x360 24000/1001 "$2" 24 "aud=1" && python3 "$tools/edit-h264-ts.py" no-timing "$1.part" "$1" &&
        rm "$1.part"
}
make h264_notiming_1.ts no_timing h264_notiming_1.ts 2
make h264_notiming_2.ts no_timing h264_notiming_2.ts 1
# Broadcasts whose video ends with an end of sequence and an end of stream
# NAL unit, as some encoders close a recording.
end_units() {
    broadcast "$1.part" 640x360 25 "$2" 25 "aud=1" && python3 "$tools/edit-h264-ts.py" end-units "$1.part" "$1" &&
        rm "$1.part"
}
make h264_ends_1.ts end_units h264_ends_1.ts 2
make h264_ends_2.ts end_units h264_ends_2.ts 1
# A broadcast recording that begins at an open GOP's I picture: its leading
# B pictures refer to the GOP before, which is not there.
make hd_720p50_open_cut.ts ff -ss 0.5 -i hd_720p50_open.ts -c copy -f mpegts hd_720p50_open_cut.ts
# Their video as elementary streams, for the syntax tests (not of the second
# half of a split recording: where ffmpeg begins one is its own choice); and
# a small progressive Baseline picture, cropped, with 12:11 pixels.
for name in avchd_1080i50_1.m2ts avchd_1080i50_2.m2ts avchd_1080i60_1.m2ts avchd_1080i60_2.m2ts avchd_lpcm.m2ts \
    hd_720p50_1.ts hd_720p50_2.ts hd_720p50_open.ts hd_720p50_open_cut.ts hd_1080i25_1.ts hd_1080i25_2.ts \
    hd_1080i25_open.ts; do
    make "${name%.*}.h264" ff -i "$name" -map 0:v -c copy -f h264 "${name%.*}.h264"
done
make h264_baseline.h264 ff -f lavfi -i "$(video_src 320x180 25 1)" -pix_fmt yuv420p -c:v libx264 \
    -preset ultrafast -profile:v baseline -level 1.3 -vf setsar=12/11 -f h264 h264_baseline.h264
# The sound of HD broadcasts on its own: AAC in ADTS and in LOAS/LATM,
# enhanced AC-3 (5.1 and stereo at 44.1 kHz).
make ff_stereo.aac ff -f lavfi -i "$(audio_src 440 48000 1)" -ac 2 -c:a aac -b:a 128k -f adts ff_stereo.aac
make ff_51.latm ff -f lavfi -i "$(audio_src 440 48000 1)" -ac 6 -c:a aac -b:a 256k -f latm ff_51.latm
make ff_51.eac3 ff -f lavfi -i "$(audio_src 440 48000 1)" -ac 6 -c:a eac3 -b:a 384k -f eac3 ff_51.eac3
make ff_stereo441.eac3 ff -f lavfi -i "$(audio_src 440 44100 1)" -ac 2 -c:a eac3 -b:a 96k -f eac3 \
    ff_stereo441.eac3

# MPEG-2 transport streams as DVB receivers record them: MPEG-2 video with
# MPEG audio (German) and AC-3 (English) under DVB's descriptors, a channel
# name in the SDT; variable and constant rate (-muxrate), 188-byte packets
# and 192-byte ones with arrival stamps (M2TS), other PIDs and service ids,
# another table version, a clock that wraps past 2^33, a multiplex of two
# programs; AAC in ADTS and LATM, enhanced AC-3.
# The DVB-like ones send a PCR at every picture (40 ms apart at most) and
# their packets at most 0.15 s before they are decoded, as broadcasts do;
# the others keep ffmpeg's 80 ms and 0.7 s.
ts() {
    local name=$1 seconds=$2 tone=$3
    shift 3
    ff -f lavfi -i "$(video_src 720x576 25 "$seconds")" -f lavfi -i "$(audio_src "$tone" 48000 "$seconds")" \
        -f lavfi -i "$(audio_src $((tone * 3 / 2)) 48000 "$seconds")" -map 0 -map 1 "$@" -c:v mpeg2video \
        -b:v 3000k -maxrate 4000k -bufsize 600k -g 12 -bf 2 -aspect 16:9 -c:a:0 mp2 -b:a:0 192k -ac:a:0 2 \
        -metadata:s:a:0 language=deu -metadata service_name="Vantrel Eins" -metadata service_provider=Zentrova \
        -pcr_period 20 -max_delay 150000 -mpegts_flags system_b -f mpegts "$name"
}
# The second sound stream: AC-3 5.1 in English.
ac3=(-map 2 -c:a:1 ac3 -b:a:1 384k -ac:a:1 6 -metadata:s:a:1 language=eng)
make ts_mp2.ts ts ts_mp2.ts 2 440
make ts_ac3.ts ts ts_ac3.ts 2 550 "${ac3[@]}"
make ts_cbr.ts ts ts_cbr.ts 2 660 "${ac3[@]}" -muxrate 6000k
make ts_m2ts.m2ts ts ts_m2ts.m2ts 2 440 "${ac3[@]}" -mpegts_m2ts_mode 1
make ts_pids.ts ts ts_pids.ts 2 440 "${ac3[@]}" -mpegts_start_pid 0x200 -mpegts_pmt_start_pid 0x1100 \
    -streamid 0:0x3F0 -streamid 2:0x3F2 -mpegts_service_id 28106
make ts_pmtv1.ts ts ts_pmtv1.ts 2 330 "${ac3[@]}" -tables_version 1
make ts_wrap.ts ts ts_wrap.ts 2 440 -output_ts_offset 95443
# Longer than what a join follows closely near a file's end (4 MiB): the
# middle of its pictures passes the quick way.
make ts_long.m2ts ts ts_long.m2ts 7 770 "${ac3[@]}" -muxrate 9000k -mpegts_m2ts_mode 1
make ts_rec.ts ts ts_rec.ts 6 440 "${ac3[@]}"
# The full-rate DVD pictures and sound copied into a transport stream at
# their own rate, as a recorder's copy of a disc holds them: near 10 Mbit/s,
# joints where the decoder's buffers are full.
for n in 1 2; do
    make ts_full$n.ts ff -i dvd_full$n.vob -map 0:v -map 0:a -c copy -f mpegts ts_full$n.ts
done
# Other recordings of the channel, another day: constant rate and 192-byte.
make ts_cbr2.ts ts ts_cbr2.ts 2 880 "${ac3[@]}" -muxrate 6000k -output_ts_offset 3000
make ts_m2ts2.m2ts ts ts_m2ts2.m2ts 2 550 "${ac3[@]}" -mpegts_m2ts_mode 1 -output_ts_offset 500
make ts_aac.ts ff -f lavfi -i "$(video_src 720x576 25 2)" -f lavfi -i "$(audio_src 440 48000 2)" \
    -c:v mpeg2video -b:v 3000k -c:a aac -b:a 128k -ac 2 -f mpegts ts_aac.ts
make ts_latm.ts ff -f lavfi -i "$(video_src 720x576 25 2)" -f lavfi -i "$(audio_src 440 48000 2)" \
    -c:v mpeg2video -b:v 3000k -c:a aac -b:a 128k -ac 2 -mpegts_flags latm -f mpegts ts_latm.ts
make ts_eac3.ts ff -f lavfi -i "$(video_src 720x576 25 2)" -f lavfi -i "$(audio_src 440 48000 2)" \
    -c:v mpeg2video -b:v 3000k -c:a eac3 -b:a 192k -ac 2 -mpegts_flags system_b -f mpegts ts_eac3.ts
# Two channels in one multiplex, each with its video and its sound.
make ts_mux.ts ff -f lavfi -i "$(video_src 720x576 25 2)" -f lavfi -i "$(audio_src 440 48000 2)" \
    -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 660 48000 2)" -map 0 -map 1 -map 2 -map 3 \
    -c:v mpeg2video -b:v 2000k -c:a mp2 -b:a 128k -ac 2 \
    -program program_num=1:title=One:st=0:st=1 -program program_num=2:title=Two:st=2:st=3 \
    -f mpegts ts_mux.ts
# The same multiplex as broadcasts send it: a PCR of each channel every
# 20 ms, at a variable rate and at one rate.
mux_dvb() {
    local name=$1
    shift
    ff -f lavfi -i "$(video_src 720x576 25 2)" -f lavfi -i "$(audio_src 440 48000 2)" \
        -f lavfi -i "$(video_src 352x288 25 2)" -f lavfi -i "$(audio_src 660 48000 2)" \
        -map 0 -map 1 -map 2 -map 3 -c:v mpeg2video -b:v 2000k -maxrate 3000k -bufsize 600k -g 12 -bf 2 \
        -c:a mp2 -b:a 128k -ac 2 -program program_num=1:title=One:st=0:st=1 \
        -program program_num=2:title=Two:st=2:st=3 -pcr_period 20 -max_delay 150000 -mpegts_flags system_b \
        "$@" -f mpegts "$name"
}
make ts_mux_dvb.ts mux_dvb ts_mux_dvb.ts
make ts_mux_cbr.ts mux_dvb ts_mux_cbr.ts -muxrate 7000k
# 204-byte packets: 16 parity bytes after each packet, as some receivers
# record them (zeros here: nothing checks them).
make ts_204.ts perl -e 'open(my $I, "<:raw", "ts_mp2.ts") or die; open(my $O, ">:raw", "ts_204.ts") or die;
    while (read($I, my $p, 188) == 188) { print $O $p, "\0" x 16 }'

wait "$mjpegtools_streams"
