/*
 * demo.c - a small host of libvarnel, in plain C, using only varnel.h.
 *
 * Writes one MacBinary II file: a text data fork, a version resource, two
 * file references (the application itself and its text documents), the
 * documents' icon (ICN# 129, encoded from RGBA pixels drawn here) and, added
 * by the library on close, the owner resource and the bundle.  Notices and
 * messages go through the library's default methods to standard output.
 *
 *   demo [OUTPUT]      (default: demo.bin)
 *
 * Exit status: 0 when the file was written, 1 otherwise.
 */
#include <stdio.h>
#include <string.h>

#include "varnel.h"

/* Set by the message method below when the library reports an error. */
static int errors_reported;
static MacBinMessageMethod print_message;

/* Prints every message as the default method does, and remembers errors:
 * a host learns of failures through the message method. */
static void watch_message(const char *module, const char *text, int32_t severity) {
  if (severity >= MACBIN_ERROR) ++errors_reported;
  print_message(module, text, severity);
}

/* The text documents' icon: a page with a black edge on a transparent
 * ground, as RGBA pixels, encoded as an ICN# (the icon and its mask). */
static int add_document_icon(MacBinChannel *channel) {
  static uint8_t rgba[32 * 32 * 4];
  MacBinPixels pixels = {32, 32, 0, 0, rgba};
  uint8_t icn[256];
  char error[128];
  int x, y;
  for (y = 0; y < 32; ++y)
    for (x = 0; x < 32; ++x) {
      uint8_t *p = rgba + (y * 32 + x) * 4;
      const int inside = x >= 4 && x <= 27, edge = x == 4 || x == 27 || y == 0 || y == 31;
      p[0] = p[1] = p[2] = edge ? 0x00 : 0xFF;
      p[3] = inside ? 0xFF : 0x00;
    }
  if (MacBin_EncodeResource("ICN#", &pixels, MACBIN_ENCODE_EXACT, icn, (int32_t)sizeof icn, error) != 256) {
    fprintf(stderr, "demo: icon not encoded: %s\n", error);
    return 1;
  }
  return MacBin_AddResourceData(channel, "ICN#", 129, NULL, MACBIN_ATTR_PURGEABLE, icn, (int32_t)sizeof icn);
}

int main(int argc, char **argv) {
  const char *output = argc > 1 ? argv[1] : "demo.bin";
  static const char data_fork[] =
      "This is the data fork of a file written by libvarnel.\r"
      "A Macintosh opens it as a text document of the demo application.\r";
  static const char *const resource_lines[] = {
      "; The version shown by the Finder's Get Info window.",
      "vers 1 \"\" 1.00 F 0 0/1.0/1.0, written by the libvarnel demo",
      "; One file reference per document type: type, icon ID; the line's own",
      "; ID is appended by the library.",
      "FREF 128 \"\" APPL 128",
      "FREF 129 \"\" TEXT 129",
      "BNDL \"libvarnel demo\"",
  };
  char macintosh_name[32] = "Demo Document";
  MacBinChannel *channel;
  size_t i;

  if (MacBin_Init() == 0) return 1;
  print_message = (MacBinMessageMethod)MacIOControl.methods[MACBIN_METHOD_MESSAGE - 1];
  MacBin_Setmethod((MacBinMethod)watch_message, MACBIN_METHOD_MESSAGE);

  /* The Finder processors: the bundle's must stand under "Bndl", the type
   * under which the library inserts it on close. */
  if (MacBin_AddProcessor("vers", NULL, add_vers) != 0 ||
      MacBin_AddProcessor("FREF", NULL, add_FREF) != 0 ||
      MacBin_AddProcessor("Bndl", NULL, close_BNDL) != 0) {
    fprintf(stderr, "demo: no memory for the processors\n");
    return 1;
  }

  /* MacBinary II: the format today's readers (hfsutils, macutils) accept. */
  MacBin_SetFormat(MACBIN_FORMAT_II);
  channel = MacBin_OpenW(output, macintosh_name, "VDMO", "TEXT");
  if (channel == NULL) return 1;

  /* The data fork goes to the current output file right after opening. */
  MacBin_PutBuf(data_fork, (int32_t)strlen(data_fork), (int32_t)strlen(data_fork));

  for (i = 0; i < sizeof resource_lines / sizeof resource_lines[0]; ++i) {
    MacBin_AddResource(channel, resource_lines[i]);
  }
  /* A line as a person writes it: UTF-8 (stored in MacRoman), attributes
   * after the ID, the bytes given on the line; a refusal says why. */
  if (MacBin_AddScriptLine(channel, "STR  128(protected,preload) \"Read Me first\" ~Thank you", NULL, NULL) !=
      MACBIN_ERR_NONE) {
    const char *why = "";
    MacBin_LastError(&why);
    fprintf(stderr, "demo: %s\n", why);
    ++errors_reported;
  }
  if (add_document_icon(channel) != 0) ++errors_reported;
  MacBin_Close(channel);

  if (errors_reported != 0) {
    fprintf(stderr, "demo: %s was not written\n", output);
    return 1;
  }
  printf("demo: wrote %s\n", output);
  return 0;
}
