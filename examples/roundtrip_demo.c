/* Round-trips two seconds of a generated speech-like signal through every
 * codec, frame by frame through the public API, and prints what came back. */
#include <math.h>
#include <stdio.h>
#include <zelk_voice_engine.h>

#define RATE 8000
#define SECONDS 2
#define FRAME 160

static double snr_db(const int16_t* ref, const int16_t* out, int n) {
  double sig = 0, err = 0;
  for (int i = 0; i < n; ++i) {
    double d = (double)ref[i] - (double)out[i];
    sig += (double)ref[i] * ref[i];
    err += d * d;
  }
  return err == 0 ? INFINITY : 10.0 * log10(sig / err);
}

int main(void) {
  static int16_t in[RATE * SECONDS], out[RATE * SECONDS];
  const int total = RATE * SECONDS;
  /* A gliding vowel-like tone: a 120..220 Hz pitch with two formants. */
  double phase = 0;
  for (int i = 0; i < total; ++i) {
    double t = (double)i / RATE;
    phase += 2 * M_PI * (120 + 100 * t / SECONDS) / RATE;
    double v = 0.5 * sin(phase) + 0.3 * sin(5 * phase) + 0.15 * sin(11 * phase);
    in[i] = (int16_t)(v * 12000 * (0.6 + 0.4 * sin(2 * M_PI * 3 * t)));
  }

  static const struct {
    int type;
    const char* name;
  } codecs[] = {{G711_ALAW, "G.711 A-law"},
                {G711_ULAW, "G.711 mu-law"},
                {IMA_ADPCM, "IMA ADPCM"},
                {ADPCM_2BIT, "2-bit ADPCM"}};
  printf("zelk_voice_engine version 0x%08X\n", (unsigned)ZELK_VOICE_GetVersionNumber());
  printf("%-13s %10s %12s %9s\n", "codec", "kbit/s", "frame bytes", "SNR dB");
  for (unsigned c = 0; c < sizeof codecs / sizeof codecs[0]; ++c) {
    VoiceCodecState enc, dec;
    uint16_t frame[ZELK_VOICE_MAX_FRAME_WORDS];
    unsigned frameBytes = 0;
    if (ZELK_VOICE_EncReset(&enc, codecs[c].type) || ZELK_VOICE_DecReset(&dec, codecs[c].type)) {
      fprintf(stderr, "reset failed\n");
      return 1;
    }
    for (int pos = 0; pos < total; pos += FRAME) {
      int16_t got = 0;
      uint32_t status = ZELK_VOICE_EncodeFrame(&enc, in + pos, frame, FRAME, codecs[c].type);
      if (status == VOICE_OK) {
        /* L is the frame's third byte: frame words are little-endian on every host. */
        frameBytes = 4u + 2u * ((const unsigned char*)frame)[2];
        status = ZELK_VOICE_DecodeFrame(&dec, frame, out + pos, codecs[c].type, &got);
      }
      if (status != VOICE_OK || got != FRAME) {
        fprintf(stderr, "%s: status 0x%08X\n", codecs[c].name, (unsigned)status);
        return 1;
      }
    }
    printf("%-13s %10.1f %12u %9.2f\n", codecs[c].name, frameBytes * 8.0 * RATE / FRAME / 1000,
           frameBytes, snr_db(in, out, total));
  }
  return 0;
}
