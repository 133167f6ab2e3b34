/*
 * Tiny AMR encoder used only to build the test fixtures.
 *
 *   amr_encode nb <mode 0-7> <dtx 0|1>  < pcm_8000_s16le_mono  > out.amr
 *   amr_encode wb <mode 0-8> <dtx 0|1>  < pcm_16000_s16le_mono > out.amr
 *
 * Reads raw signed 16-bit little-endian mono PCM from stdin and writes a
 * single-channel AMR storage file (magic header followed by frames, each
 * starting with its one-byte frame header) to stdout.  The last partial
 * frame is padded with zeros.
 *
 * Build: cc -O2 -o amr_encode amr_encode.c -lopencore-amrnb -lvo-amrwbenc
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <opencore-amrnb/interf_enc.h>
#include <vo-amrwbenc/enc_if.h>

static void usage(void)
{
    fprintf(stderr, "usage: amr_encode nb <mode 0-7> <dtx 0|1>\n"
                    "       amr_encode wb <mode 0-8> <dtx 0|1>\n");
    exit(2);
}

/* Reads one frame of little-endian samples; returns the number of whole
 * samples read, the rest of the frame is zeroed. */
static size_t read_frame(short *pcm, size_t n)
{
    unsigned char buf[2 * 320];
    size_t got = fread(buf, 1, 2 * n, stdin);
    size_t samples = got / 2;
    for (size_t i = 0; i < n; i++) {
        if (i < samples)
            pcm[i] = (short)(buf[2 * i] | (buf[2 * i + 1] << 8));
        else
            pcm[i] = 0;
    }
    return samples;
}

int main(int argc, char **argv)
{
    if (argc != 4)
        usage();

    int wide;
    if (strcmp(argv[1], "nb") == 0)
        wide = 0;
    else if (strcmp(argv[1], "wb") == 0)
        wide = 1;
    else
        usage();

    char *end;
    long mode = strtol(argv[2], &end, 10);
    if (*end || mode < 0 || mode > (wide ? 8 : 7))
        usage();
    long dtx = strtol(argv[3], &end, 10);
    if (*end || (dtx != 0 && dtx != 1))
        usage();

    const size_t frame_samples = wide ? 320 : 160;
    short pcm[320];
    unsigned char out[64];
    void *enc = wide ? E_IF_init() : Encoder_Interface_init((int)dtx);
    if (!enc) {
        fprintf(stderr, "amr_encode: encoder init failed\n");
        return 1;
    }

    if (wide)
        fwrite("#!AMR-WB\n", 1, 9, stdout);
    else
        fwrite("#!AMR\n", 1, 6, stdout);

    for (;;) {
        size_t n = read_frame(pcm, frame_samples);
        if (n == 0)
            break;
        int bytes = wide ? E_IF_encode(enc, (int)mode, pcm, out, (int)dtx)
                         : Encoder_Interface_Encode(enc, (enum Mode)mode, pcm, out, 0);
        if (bytes <= 0) {
            fprintf(stderr, "amr_encode: encoder returned %d\n", bytes);
            return 1;
        }
        fwrite(out, 1, (size_t)bytes, stdout);
        if (n < frame_samples)
            break;
    }

    if (wide)
        E_IF_exit(enc);
    else
        Encoder_Interface_exit(enc);

    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "amr_encode: write error\n");
        return 1;
    }
    return 0;
}
