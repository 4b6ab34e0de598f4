/*
 * memory_host.c - a host that builds a Macintosh file entirely from memory,
 * in plain C, using only varnel.h; then reads it back and checks it.
 *
 * Writes a MacBinary II file holding a data fork, a string resource with
 * attributes and a MacRoman name, and an icon family drawn here as RGBA
 * pixels (ICN#, icl4, icl8 and ics#, ics8) with transparent corners; no
 * owner resource and no bundle, so the file holds exactly these resources.
 * Reads it back and decodes the icons, which must give the pixels it
 * started from.
 *
 *   memory_host [OUTPUT]      (default: memory_host.bin)
 *
 * Exit status: 0 when everything read back as written, 1 otherwise.
 */
#include <stdio.h>
#include <string.h>

#include "varnel.h"

static int errors_reported;

/* The library reports failures through the message method. */
static void count_errors(const char *module, const char *text, int32_t severity) {
  if (severity >= MACBIN_ERROR) {
    ++errors_reported;
    fprintf(stderr, "%s: %s\n", module, text);
  }
}

static int fail(const char *what) {
  fprintf(stderr, "memory_host: %s\n", what);
  return 1;
}

/* Colours of the band and the corner, for each table: the 16-colour one
 * (icl4), the 256-colour one (icl8, ics8) and black and white (ICN#, ics#). */
static const uint8_t kTable16[2][4] = {{0xDD, 0x08, 0x06, 0xFF}, {0x00, 0x00, 0xD4, 0xFF}};
static const uint8_t kTable256[2][4] = {{0xFF, 0x00, 0x00, 0xFF}, {0x00, 0x00, 0xCC, 0xFF}};
static const uint8_t kBlackAndWhite[2][4] = {{0x00, 0x00, 0x00, 0xFF}, {0x00, 0x00, 0x00, 0xFF}};

/* A document icon of `side` pixels: a white page with a black edge, a band
 * and a corner in the two colours given (each in the table of the icon they
 * are for, so that the icon keeps them exactly), and transparent pixels
 * left and right of the page. */
static void draw_page(uint8_t *rgba, int side, const uint8_t colours[2][4]) {
  static const uint8_t white[4] = {0xFF, 0xFF, 0xFF, 0xFF}, black[4] = {0x00, 0x00, 0x00, 0xFF},
                       clear[4] = {0, 0, 0, 0};
  const int left = side / 8, right = side - side / 8 - 1;
  int x, y;
  for (y = 0; y < side; ++y) {
    for (x = 0; x < side; ++x) {
      const uint8_t *colour = white;
      if (x < left || x > right) colour = clear;
      else if (x == left || x == right || y == 0 || y == side - 1) colour = black;
      else if (y == side / 2) colour = colours[0];
      else if (x > right - side / 4 && y < side / 4) colour = colours[1];
      memcpy(rgba + ((size_t)y * (size_t)side + (size_t)x) * 4, colour, 4);
    }
  }
}

/* The reference of `type` and `id` in a reading channel, or NULL. */
static const MacBinRefEntry *find_resource(MacBinChannel *channel, const char *type, int32_t id) {
  int32_t t, r;
  for (t = 0; t < channel->type_count; ++t) {
    if (memcmp(channel->types[t].type, type, 4) != 0) continue;
    for (r = 0; r < channel->types[t].count; ++r)
      if (channel->types[t].refs[r].id == id) return &channel->types[t].refs[r];
  }
  return NULL;
}

/* Decodes `type` 128 and compares it with the pixels it was made from:
 * transparent pixels come back as 0, 0, 0, 0. */
static int decodes_to(MacBinChannel *channel, const char *type, const uint8_t *rgba, int side) {
  const MacBinRefEntry *ref = find_resource(channel, type, 128);
  MacBinPixels pixels;
  char error[128];
  size_t i, count = (size_t)side * (size_t)side;
  int same = 1;
  if (ref == NULL || MacBin_DecodeResource(channel, ref, &pixels, error) != 1) {
    fprintf(stderr, "memory_host: %s 128 does not decode: %s\n", type, ref != NULL ? error : "missing");
    return 0;
  }
  if (pixels.width != side || pixels.height != side) same = 0;
  for (i = 0; same && i < count; ++i) {
    const uint8_t *want = rgba + i * 4, *got = pixels.rgba + i * 4;
    same = want[3] == 0 ? got[3] == 0 && got[0] == 0 && got[1] == 0 && got[2] == 0 : memcmp(want, got, 4) == 0;
  }
  MacBin_FreePixels(&pixels);
  if (!same) fprintf(stderr, "memory_host: %s 128 decodes to other pixels\n", type);
  return same;
}

/* Encodes the pixels as `type` and adds the data as resource 128. */
static int add_icon(MacBinChannel *channel, const char *type, const uint8_t *rgba, int side) {
  MacBinPixels pixels;
  uint8_t data[1024];
  char error[128];
  int32_t length;
  pixels.width = pixels.height = side;
  pixels.hot_x = pixels.hot_y = 0;
  pixels.rgba = (uint8_t *)(size_t)rgba; /* the encoder only reads them */
  length = MacBin_EncodeResource(type, &pixels, MACBIN_ENCODE_EXACT, data, (int32_t)sizeof data, error);
  if (length < 0 || length > (int32_t)sizeof data) {
    fprintf(stderr, "memory_host: %s not encoded: %s\n", type, error);
    return 0;
  }
  return MacBin_AddResourceData(channel, type, 128, NULL, MACBIN_ATTR_PURGEABLE, data, length) == 0;
}

int main(int argc, char **argv) {
  const char *output = argc > 1 ? argv[1] : "memory_host.bin";
  static const char data_fork[] = "Written from memory by libvarnel.\r";
  /* A Pascal string, and a name in MacRoman: 0x8E is e with an acute accent. */
  static const uint8_t greeting[] = {5, 'H', 'e', 'l', 'l', 'o'};
  static const char greeting_name[] = "Caf\x8E";
  const int32_t greeting_attributes = MACBIN_ATTR_PROTECTED | MACBIN_ATTR_PRELOAD;
  static uint8_t large4[32 * 32 * 4], large8[32 * 32 * 4], large1[32 * 32 * 4];
  static uint8_t small8[16 * 16 * 4], small1[16 * 16 * 4];
  char macintosh_name[32] = "From Memory";
  char name[256];
  uint8_t bytes[64];
  MacBinChannel *channel;
  MacBinFileInfo info;
  const MacBinRefEntry *ref;
  int ok = 1;

  if (MacBin_Init() == 0) return 1;
  MacBin_Setmethod((MacBinMethod)count_errors, MACBIN_METHOD_MESSAGE);
  draw_page(large4, 32, kTable16);
  draw_page(large8, 32, kTable256);
  draw_page(large1, 32, kBlackAndWhite);
  draw_page(small8, 16, kTable256);
  draw_page(small1, 16, kBlackAndWhite);

  /* ---- Writing ---- */
  MacBin_SetFormat(MACBIN_FORMAT_II);
  channel = MacBin_OpenW(output, macintosh_name, "VMEM", "TEXT");
  if (channel == NULL) return fail("cannot open the output");
  MacBin_SetFinderResources(channel, 0); /* no owner resource, no bundle */
  MacBin_PutBuf(data_fork, (int32_t)strlen(data_fork), (int32_t)strlen(data_fork));
  MacBin_AddResourceData(channel, "STR ", 128, greeting_name, greeting_attributes, greeting, sizeof greeting);
  /* The colour icons take their mask from the ICN# (ics#) of the same ID. */
  ok = add_icon(channel, "ICN#", large1, 32) && add_icon(channel, "icl4", large4, 32) &&
       add_icon(channel, "icl8", large8, 32) && add_icon(channel, "ics#", small1, 16) &&
       add_icon(channel, "ics8", small8, 16);
  MacBin_Close(channel);
  if (!ok || errors_reported != 0) return fail("the file was not written");

  /* ---- Reading back ---- */
  channel = MacBin_OpenR(output);
  if (channel == NULL) return fail("cannot read the file back");
  if (MacBin_GetFileInfo(channel, &info) != 1 || info.data_length != strlen(data_fork) ||
      MacBin_ReadDataFork(channel, 0, bytes, (int32_t)sizeof bytes) != (int32_t)strlen(data_fork) ||
      memcmp(bytes, data_fork, strlen(data_fork)) != 0)
    ok = fail("the data fork differs");
  if (MacBin_GetNrTypes(channel) != 6) ok = fail("the file holds other resources than those added");
  ref = find_resource(channel, "STR ", 128);
  if (ref == NULL || ref->attributes != greeting_attributes ||
      MacBin_GetResourceName(channel, ref, name, (int32_t)sizeof name) != 4 || strcmp(name, greeting_name) != 0 ||
      MacBin_ReadResourceData(channel, ref, bytes, (int32_t)sizeof bytes) != (int32_t)sizeof greeting ||
      memcmp(bytes, greeting, sizeof greeting) != 0)
    ok = fail("STR  128 differs");
  ok = decodes_to(channel, "ICN#", large1, 32) && ok;
  ok = decodes_to(channel, "icl4", large4, 32) && ok;
  ok = decodes_to(channel, "icl8", large8, 32) && ok;
  ok = decodes_to(channel, "ics#", small1, 16) && ok;
  ok = decodes_to(channel, "ics8", small8, 16) && ok;
  MacBin_Close(channel);
  if (!ok) return 1;
  printf("memory_host: wrote and read back %s\n", output);
  return 0;
}
