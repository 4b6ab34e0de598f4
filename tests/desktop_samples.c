/*
 * desktop_samples.c - writes one small file of each container the desktop
 * integration names, through the public API, for tests/desktop_test.sh:
 *   Sample.bin (MacBinary II), Classic.bin (MacBinary I), Sample.hqx
 *   (BinHex 4.0), Sample.as (AppleSingle), Doc and ._Doc (AppleDouble) and
 *   Sample.pict (a version 2 picture after its 512-byte header).
 *
 *   desktop_samples FOLDER
 *
 * Exit status: 0 when every file was written, 1 otherwise.
 */
#include <stdio.h>
#include <string.h>

#include "varnel.h"

static int write_container(int32_t format, const char *folder, const char *file_name) {
  static const uint8_t text[] = {5, 'H', 'e', 'l', 'l', 'o'};
  char path[4096];
  char name[32] = "";
  MacBinChannel *channel;
  MacBinCheckReport report;
  if (snprintf(path, sizeof path, "%s/%s", folder, file_name) >= (int)sizeof path) return 1;
  if (MacBin_SetFormat(format) != 1) return 1;
  channel = MacBin_OpenW(path, name, "VARN", "TEXT");
  if (channel == NULL) return 1;
  MacBin_PutBuf("A sample data fork.\n", 20, 20);
  MacBin_AddResourceData(channel, "STR ", 128, "Greeting", MACBIN_ATTR_PURGEABLE, text, sizeof text);
  MacBin_Close(channel);
  /* What was written must be sound, else the MIME test proves nothing. */
  if (format == MACBIN_FORMAT_APPLEDOUBLE) {
    if (snprintf(path, sizeof path, "%s/._%s", folder, file_name) >= (int)sizeof path) return 1;
  }
  if (MacBin_CheckFile(path, 0, NULL, NULL, &report) != 0) {
    fprintf(stderr, "desktop_samples: %s is not a sound %s file\n", path, report.container);
    return 1;
  }
  return 0;
}

/* A picture of 16 x 16 pixels that draws nothing: the version 2 header, a
 * clip region and the end, after the 512 bytes of a PICT file's header. */
static int write_picture(const char *folder) {
  static const uint8_t picture[] = {
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x10, /* size, frame */
      0x00, 0x11, 0x02, 0xFF,                                     /* version 2 */
      0x0C, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,                         /* header: version -1 */
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,             /* frame, fixed point */
      0x00, 0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x1E,                                                 /* default highlight */
      0x00, 0x01, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x10, /* clip */
      0x00, 0xFF};                                                /* end */
  static const uint8_t header[512];
  char path[4096];
  FILE *file;
  int ok;
  if (snprintf(path, sizeof path, "%s/Sample.pict", folder) >= (int)sizeof path) return 1;
  file = fopen(path, "wb");
  if (file == NULL) return 1;
  ok = fwrite(header, 1, sizeof header, file) == sizeof header &&
       fwrite(picture, 1, sizeof picture, file) == sizeof picture;
  return fclose(file) == 0 && ok ? 0 : 1;
}

int main(int argc, char **argv) {
  int failed = 0;
  if (argc != 2) {
    fprintf(stderr, "usage: desktop_samples FOLDER\n");
    return 1;
  }
  if (MacBin_Init() == 0) return 1;
  failed |= write_container(MACBIN_FORMAT_II, argv[1], "Sample.bin");
  failed |= write_container(MACBIN_FORMAT_CLASSIC, argv[1], "Classic.bin");
  failed |= write_container(MACBIN_FORMAT_BINHEX, argv[1], "Sample.hqx");
  failed |= write_container(MACBIN_FORMAT_APPLESINGLE, argv[1], "Sample.as");
  failed |= write_container(MACBIN_FORMAT_APPLEDOUBLE, argv[1], "Doc");
  failed |= write_picture(argv[1]);
  return failed;
}
