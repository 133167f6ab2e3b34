#!/usr/bin/env bash
# Regenerates the audio fixtures used by the tests.
#
#   tests/data/make_fixtures.sh
#
# Can be run from any directory; everything is written next to this script.
# Output is deterministic for a given set of tools (ffmpeg, lame, sox,
# opencore-amrnb, vo-amrwbenc): no timestamps, no encoder version strings
# from ffmpeg (bitexact), and all "random" bytes come from a fixed LCG.
#
# Needs: bash, ffmpeg/ffprobe, lame, sox (with AMR support, optional), cc,
# perl, libopencore-amrnb-dev, libvo-amrwbenc-dev.

set -euo pipefail
export LC_ALL=C

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
cd "$here"

for tool in ffmpeg ffprobe lame sox cc perl; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)
BITEXACT=(-fflags +bitexact -flags +bitexact)

# ---------------------------------------------------------------------------
# Source signal: 440 Hz sine at amplitude 0.5 (about -6 dBFS), the same tone
# in every channel. Lengths are given in samples per channel so they are
# exact: 0.5 s is rate/2 samples, rounded down (5512 at 11025 Hz).
# ---------------------------------------------------------------------------
SINE='0.5*sin(2*PI*440*t)'

# tone RATE CHANNELS SAMPLES OUTPUT [extra ffmpeg output options...]
tone() {
    local rate=$1 channels=$2 samples=$3 out=$4
    shift 4
    local expr=$SINE
    if [ "$channels" -eq 2 ]; then expr="$SINE|$SINE"; fi
    "${FF[@]}" -f lavfi -i "aevalsrc=exprs=$expr:s=$rate" \
        -af "atrim=end_sample=$samples" "${BITEXACT[@]}" "$@" "$out"
}

# source_wav RATE CHANNELS SAMPLES -> prints path of a 16-bit PCM WAV in $tmp
source_wav() {
    local path="$tmp/src_${1}_${2}_${3}.wav"
    [ -f "$path" ] || tone "$1" "$2" "$3" "$path" -c:a pcm_s16le
    printf '%s\n' "$path"
}

# source_raw RATE SAMPLES -> prints path of raw s16le mono PCM in $tmp
source_raw() {
    local path="$tmp/src_${1}_${2}.raw"
    [ -f "$path" ] || tone "$1" 1 "$2" "$path" -f s16le -c:a pcm_s16le
    printf '%s\n' "$path"
}

khz() { # 44100 -> 44.1, 8000 -> 8
    perl -e 'printf "%s\n", $ARGV[0] / 1000' "$1"
}

# Pseudo-random bytes from a fixed LCG: lcg_bytes SEED COUNT [avoid_ff]
# With avoid_ff=1 no 0xFF byte is produced, so no MPEG frame sync can appear.
lcg_bytes() {
    perl -e '
        my ($x, $n, $noff) = @ARGV;
        my $out = "";
        for (1 .. $n) {
            $x = ($x * 1103515245 + 12345) & 0x7fffffff;
            my $b = ($x >> 16) & 0xff;
            $b = 0xfe if $noff && $b == 0xff;
            $out .= chr($b);
        }
        binmode STDOUT;
        print $out;
    ' "$1" "$2" "${3:-0}"
}

# ---------------------------------------------------------------------------
# MP3 (lame). lame writes the Xing/LAME frame carrying the encoder delay and
# padding, so a gapless-aware decoder gets back exactly the source length.
# ---------------------------------------------------------------------------
LAME=(lame --quiet --noreplaygain --nohist)

# mp3 OUTPUT RATE CHANNELS SAMPLES [extra lame options...]
mp3() {
    local out=$1 rate=$2 channels=$3 samples=$4
    shift 4
    local src mode=()
    src="$(source_wav "$rate" "$channels" "$samples")"
    if [ "$channels" -eq 2 ]; then mode=(-m j); else mode=(-m m); fi
    "${LAME[@]}" "${mode[@]}" --resample "$(khz "$rate")" "$@" "$src" "$out"
}

# lame leaves the Xing/LAME frame out when it would not fit in one CBR frame,
# which rules out the lowest bitrates at MPEG-2 and MPEG-2.5 rates.
mp3 mp3_mpeg1_cbr_stereo_44100.mp3  44100 2 44100 -b 128
mp3 mp3_mpeg1_vbr_mono_48000.mp3    48000 1 24000 -V 4
mp3 mp3_mpeg1_cbr_mono_32000.mp3    32000 1 16000 -b 64
mp3 mp3_mpeg2_cbr_mono_22050.mp3    22050 1 11025 -b 56
mp3 mp3_mpeg2_vbr_stereo_24000.mp3  24000 2 12000 -V 4
mp3 mp3_mpeg2_cbr_stereo_16000.mp3  16000 2  8000 -b 48
mp3 mp3_mpeg25_cbr_mono_8000.mp3     8000 1  4000 -b 24
mp3 mp3_mpeg25_vbr_stereo_11025.mp3 11025 2  5512 -V 4
mp3 mp3_mpeg25_cbr_mono_12000.mp3   12000 1  6000 -b 32

# Tags. lame's own tag writer is used for ID3v1/ID3v2 (ASCII only, so the
# result does not depend on the locale). lame writes ID3v2 text as UTF-16.
# No comment in the ID3v2 tag: lame 3.100 writes its COMM description
# without a BOM and FFmpeg then drops the frame.
TAGS=(--tt "Tone Title" --ta "Tone Artist" --tl "Tone Album" --ty 2024 --tn 3)
mp3 mp3_id3v1.mp3 44100 2 22050 -b 128 --id3v1-only "${TAGS[@]}" --tc "fixture"
mp3 mp3_id3v2.mp3 44100 2 22050 -b 128 --id3v2-only "${TAGS[@]}"

# About 150 KB of incompressible RGB noise, stored as PNG, as front cover.
{
    printf 'P6\n224 224\n255\n'
    lcg_bytes 20240101 $((224 * 224 * 3))
} > "$tmp/cover.ppm"
"${FF[@]}" -i "$tmp/cover.ppm" -frames:v 1 -c:v png "${BITEXACT[@]}" "$tmp/cover.png"
mp3 mp3_id3v2_picture.mp3 44100 2 22050 -b 128 --id3v2-only --tt "Tone With Cover" \
    --ti "$tmp/cover.png"

# APEv2 tag (header + items + footer) appended after the audio; the title
# is UTF-8 with non-ASCII letters.
mp3 mp3_ape.mp3 44100 2 22050 -b 128
perl -e '
    my @items = (
        ["Title",  "Tone APE \xc3\xb1and\xc3\xba"],   # "Tone APE ñandú"
        ["Artist", "Tone Artist"],
        ["Album",  "Tone Album"],
        ["Track",  "3"],
    );
    my $body = "";
    $body .= pack("VV", length($_->[1]), 0) . $_->[0] . "\0" . $_->[1] for @items;
    my $size = length($body) + 32;                  # items + footer
    my $n = scalar @items;
    binmode STDOUT;
    print pack("a8VVVVx8", "APETAGEX", 2000, $size, $n, 0xA0000000),  # header
          $body,
          pack("a8VVVVx8", "APETAGEX", 2000, $size, $n, 0x80000000);  # footer
' >> mp3_ape.mp3

# No Xing/LAME frame: the decoder sees encoder delay and padding as audio.
mp3 mp3_no_gapless_header.mp3 44100 2 22050 -b 128 -t

# Damaged: 2 KB in the middle of a 1 s stereo tone replaced by noise.
cp mp3_mpeg1_cbr_stereo_44100.mp3 damaged.mp3
lcg_bytes 7 2048 > "$tmp/damage.bin"
perl -e '
    open(my $f, "+<:raw", $ARGV[0]) or die "$ARGV[0]: $!";
    open(my $d, "<:raw", $ARGV[1]) or die "$ARGV[1]: $!";
    local $/; my $noise = <$d>;
    seek($f, $ARGV[2], 0) or die; print $f $noise; close($f) or die;
' damaged.mp3 "$tmp/damage.bin" 6144

# Corrupt: a valid ID3v2.3 tag (TIT2 "Corrupt") followed by 4 KB of bytes
# that never contain 0xFF, so no MPEG audio frame can be found.
{
    perl -e '
        my $frame = "TIT2" . pack("N", 8) . "\0\0" . "\0Corrupt";
        my $n = length($frame);
        my $ss = (($n >> 21) & 0x7f) << 24 | (($n >> 14) & 0x7f) << 16
               | (($n >> 7) & 0x7f) << 8 | ($n & 0x7f);
        binmode STDOUT;
        print "ID3", pack("CCC", 3, 0, 0), pack("N", $ss), $frame;
    '
    lcg_bytes 99 4096 1
} > corrupt.mp3

cat > text.mp3 <<'EOF'
This is not an MP3 file.
It is plain text with an .mp3 extension,
used to check that the player rejects it cleanly.
EOF

: > zero.mp3

# A 16-bit PCM WAV file that only pretends to be an MP3.
tone 8000 1 4000 wav_named.mp3 -c:a pcm_s16le -f wav

# Non-ASCII file name with spaces (UTF-8, NFC).
cp mp3_mpeg2_cbr_mono_22050.mp3 "tone ñandú Ünïcode – space.mp3"

# ---------------------------------------------------------------------------
# WAV (ffmpeg). 8/16-bit PCM and the G.711 codecs get the plain
# WAVEFORMATEX header; ffmpeg writes WAVEFORMATEXTENSIBLE for samples wider
# than 16 bits, and a 'fact' chunk for non-PCM format tags (float, ADPCM,
# A-law, mu-law).
# ---------------------------------------------------------------------------
tone  8000 1  4000 wav_u8_mono_8000.wav         -c:a pcm_u8
tone 22050 1 11025 wav_s16_mono_22050.wav       -c:a pcm_s16le
tone 44100 2 22050 wav_s16_stereo_44100.wav     -c:a pcm_s16le
tone 16000 2  8000 wav_s24_stereo_16000.wav     -c:a pcm_s24le
tone 16000 1  8000 wav_s32_mono_16000.wav       -c:a pcm_s32le
tone  8000 2  4000 wav_f32_stereo_8000.wav      -c:a pcm_f32le
tone  8000 1  4000 wav_f64_mono_8000.wav        -c:a pcm_f64le
tone 22050 1 11025 wav_adpcm_ima_mono_22050.wav -c:a adpcm_ima_wav
tone 22050 2 11025 wav_adpcm_ms_stereo_22050.wav -c:a adpcm_ms
tone  8000 1  4000 wav_alaw_mono_8000.wav       -c:a pcm_alaw
tone  8000 1  4000 wav_mulaw_mono_8000.wav      -c:a pcm_mulaw

# Truncated: the header announces 8000 data bytes, only 3000 follow.
tone 8000 1 4000 "$tmp/full.wav" -c:a pcm_s16le
head -c $((44 + 3000)) "$tmp/full.wav" > wav_truncated.wav

# No samples: a canonical header announcing 0 data bytes.
head -c 44 "$tmp/full.wav" > wav_no_samples.wav
perl -e '
    open(my $f, "+<:raw", $ARGV[0]) or die "$ARGV[0]: $!";
    seek($f, 4, 0);  print $f pack("V", 36);
    seek($f, 40, 0); print $f pack("V", 0);
    close($f) or die;
' wav_no_samples.wav

# Huge claim: 0.1 s of PCM whose RIFF and data sizes say 0xFFFFFFF0.
tone 8000 1 800 wav_huge_claim.wav -c:a pcm_s16le
perl -e '
    open(my $f, "+<:raw", $ARGV[0]) or die "$ARGV[0]: $!";
    read($f, my $h, 44) == 44 or die "short header";
    substr($h, 0, 4) eq "RIFF" && substr($h, 36, 4) eq "data" or die "unexpected header";
    seek($f, 4, 0);  print $f pack("V", 0xFFFFFFF0);
    seek($f, 40, 0); print $f pack("V", 0xFFFFFFF0);
    close($f) or die;
' wav_huge_claim.wav

# ---------------------------------------------------------------------------
# AMR (ffmpeg can decode AMR but has no encoder here, so use a small
# helper around opencore-amrnb / vo-amrwbenc).
# ---------------------------------------------------------------------------
cc -O2 -o "$tmp/amr_encode" "$here/amr_encode.c" -lopencore-amrnb -lvo-amrwbenc

"$tmp/amr_encode" nb 7 0 < "$(source_raw 8000 8000)"  > amrnb_122.amr
"$tmp/amr_encode" nb 0 0 < "$(source_raw 8000 4000)"  > amrnb_475.amr
"$tmp/amr_encode" wb 8 0 < "$(source_raw 16000 8000)" > amrwb_2385.amr
"$tmp/amr_encode" wb 0 0 < "$(source_raw 16000 8000)" > amrwb_660.amr

# DTX: 0.4 s tone, 1.2 s digital silence, 0.4 s tone (2.0 s in all). The
# silent stretch must come out as SID and NO_DATA frames.
"${FF[@]}" -f lavfi -i "aevalsrc=exprs=$SINE*(lt(n\,3200)+gte(n\,12800)):s=8000" \
    -af atrim=end_sample=16000 "${BITEXACT[@]}" -f s16le -c:a pcm_s16le "$tmp/dtx.raw"
"$tmp/amr_encode" nb 7 1 < "$tmp/dtx.raw" > amrnb_dtx.amr
rm -f "$tmp/amr_encode"

# amr_frame_types FILE -> "speech=N sid=N no_data=N other=N frames=N"
amr_frame_types() {
    perl -e '
        open(my $f, "<:raw", $ARGV[0]) or die "$ARGV[0]: $!";
        local $/; my $d = <$f>;
        my ($pos, $sid, @size);
        if ($d =~ /^#!AMR-WB\n/) {
            $pos = 9; $sid = 9; @size = (17,23,32,36,40,46,50,58,60,5,0,0,0,0,0,0);
        } elsif ($d =~ /^#!AMR\n/) {
            $pos = 6; $sid = 8; @size = (12,13,15,17,19,20,26,31,5,0,0,0,0,0,0,0);
        } else { die "$ARGV[0]: no AMR magic\n" }
        my %c = (speech => 0, sid => 0, no_data => 0, other => 0);
        my $frames = 0;
        while ($pos < length($d)) {
            my $ft = (ord(substr($d, $pos, 1)) >> 3) & 0x0f;
            if ($ft < $sid)       { $c{speech}++ }
            elsif ($ft == $sid)   { $c{sid}++ }
            elsif ($ft == 15)     { $c{no_data}++ }
            else                  { $c{other}++ }
            $pos += 1 + $size[$ft];
            $frames++;
        }
        die "$ARGV[0]: truncated last frame\n" if $pos != length($d);
        print "speech=$c{speech} sid=$c{sid} no_data=$c{no_data} other=$c{other} frames=$frames\n";
    ' "$1"
}

for f in amrnb_122.amr amrnb_475.amr amrnb_dtx.amr amrwb_2385.amr amrwb_660.amr; do
    echo "$f frame types: $(amr_frame_types "$f")"
done
# FFmpeg 5.1's native AMR-NB decoder rejects SID and NO_DATA frames, so it
# only returns the speech frames of this file; opencore (sox) decodes all of it.
dtx_counts="$(amr_frame_types amrnb_dtx.amr)"
case "$dtx_counts" in
    *" sid=0 "*|*" no_data=0 "*) echo "amrnb_dtx.amr: expected SID and NO_DATA frames" >&2; exit 1 ;;
esac

# Optional: the same tone through sox's AMR-NB writer, if this sox has one.
rm -f amrnb_sox.amr
if ! sox -V1 "$(source_wav 8000 1 4000)" -t amr-nb -C 7 amrnb_sox.amr 2>/dev/null; then
    rm -f amrnb_sox.amr
    echo "sox cannot write AMR-NB here; skipped amrnb_sox.amr"
fi

# ---------------------------------------------------------------------------
# Sanity checks on what the encoders produced.
# ---------------------------------------------------------------------------
# has_bytes FILE OFFSET LENGTH PATTERN: does the byte range match PATTERN?
has_bytes() {
    perl -e '
        open(my $f, "<:raw", $ARGV[0]) or die "$ARGV[0]: $!";
        local $/; my $d = <$f>;
        my $off = $ARGV[1] < 0 ? length($d) + $ARGV[1] : $ARGV[1];
        exit(($off >= 0 && substr($d, $off, $ARGV[2]) =~ /$ARGV[3]/s) ? 0 : 1);
    ' "$@"
}
fail() { echo "fixture check failed: $*" >&2; exit 1; }

for f in mp3_mpeg*.mp3 mp3_ape.mp3; do
    has_bytes "$f" 0 200 '(Xing|Info).*LAME' || fail "$f has no Xing/LAME frame"
    ! has_bytes "$f" 0 3 '^ID3' || fail "$f has an ID3v2 tag"
done
! has_bytes mp3_no_gapless_header.mp3 0 400 '(Xing|Info|LAME)' || fail "mp3_no_gapless_header.mp3 has a Xing/LAME frame"
has_bytes mp3_id3v1.mp3 -128 3 '^TAG' || fail "mp3_id3v1.mp3 has no ID3v1 tag"
! has_bytes mp3_id3v1.mp3 0 3 '^ID3' || fail "mp3_id3v1.mp3 has an ID3v2 tag"
for f in mp3_id3v2.mp3 mp3_id3v2_picture.mp3; do
    has_bytes "$f" 0 3 '^ID3' || fail "$f has no ID3v2 tag"
    ! has_bytes "$f" -128 3 '^TAG' || fail "$f has an ID3v1 tag"
done
has_bytes mp3_id3v2_picture.mp3 0 200 'APIC' || fail "mp3_id3v2_picture.mp3 has no APIC frame"
has_bytes mp3_ape.mp3 -32 8 '^APETAGEX' || fail "mp3_ape.mp3 has no APE footer"
corrupt_bytes=$(ffmpeg -nostdin -v quiet -i corrupt.mp3 -map 0:a:0 -f s16le - 2>/dev/null | wc -c || true)
[ "$corrupt_bytes" -eq 0 ] || fail "corrupt.mp3 still decodes to audio"

# ---------------------------------------------------------------------------
# Summary
# ---------------------------------------------------------------------------
printf '\n%-44s %8s  %-26s %s\n' "file" "bytes" "codec,rate,channels" "decoded samples/ch"
total=0
for f in *; do
    case "$f" in make_fixtures.sh|amr_encode.c|README.md) continue ;; esac
    [ -f "$f" ] || continue
    size=$(stat -c %s "$f")
    total=$((total + size))
    info=$(ffprobe -v error -select_streams a:0 \
        -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 "$f" 2>/dev/null || true)
    decoded="-"
    channels=${info##*,}
    if [ -n "$info" ] && [ "$channels" -gt 0 ] 2>/dev/null; then
        bytes=$(ffmpeg -nostdin -v quiet -i "$f" -map 0:a:0 -f s16le - 2>/dev/null | wc -c || true)
        decoded=$((bytes / 2 / channels))
    fi
    printf '%-44s %8d  %-26s %s\n' "$f" "$size" "${info:--}" "$decoded"
done
printf '%-44s %8d\n' "total" "$total"
