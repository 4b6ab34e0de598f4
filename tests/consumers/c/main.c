/* A C host built against an installed libvarnel, using only <varnel.h>:
 * writes a MacBinary file with a data fork, a resource of its own and a
 * `vers` resource, reads it back and checks what it finds.
 * Usage: consumer_c OUTPUT-FILE.  Exit status 0 when everything read back. */
#include <stdio.h>
#include <string.h>

#include <varnel.h>

#define CHECK(condition)                                                        \
  do {                                                                          \
    if (!(condition)) {                                                         \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      return 1;                                                                 \
    }                                                                           \
  } while (0)

static const char kDataFork[] = "data fork written from C\r";
static const char kNote[] = "hello from C";

static char note_read[256];
static int32_t note_length = -1;

/* The resource's bytes are its parameter text. */
static int32_t write_note(MacBinChannel *channel, const char *param) {
  int32_t length = (int32_t)strlen(param);
  (void)channel;
  return MacBin_PutBuf(param, length, length);
}

static int32_t read_note(MacBinChannel *channel, int32_t data_pos, int32_t data_length) {
  (void)data_pos;
  if (data_length < 0 || data_length >= (int32_t)sizeof note_read) return 0;
  if (!fgetm(channel->file, note_read, data_length)) return 0;
  note_read[data_length] = '\0';
  note_length = data_length;
  return 1;
}

static int problems; /* messages of severity WARNING and above */

static void report(const char *module, const char *text, int32_t severity) {
  printf("%s : %s : %d\n", module, text, (int)severity);
  if (severity >= MACBIN_WARNING) ++problems;
}

int main(int argc, char **argv) {
  const char *path = argc > 1 ? argv[1] : "consumer_c.bin";
  const int32_t data_length = (int32_t)strlen(kDataFork);
  char apple_name[32] = "Consumer C";
  MacBinChannel *out;
  MacBinChannel *in;
  MacBinFinderInfo info;
  int32_t offset = -1;
  int32_t length = -1;
  char buffer[64];
  char type[5] = "";

  CHECK(MacBin_Init() == 1);
  CHECK(MacBin_Setmethod((MacBinMethod)report, MACBIN_METHOD_MESSAGE) == 1);
  CHECK(MacBin_AddProcessor("Note", read_note, write_note) == 0);
  CHECK(MacBin_AddProcessor("vers", NULL, add_vers) == 0);

  out = MacBin_OpenW(path, apple_name, "VARN", "TEXT");
  CHECK(out != NULL);
  CHECK(MacBin_PutBuf(kDataFork, data_length, data_length) == 0);
  MacBin_AddResource(out, "Note 128 greeting hello from C");
  MacBin_AddResource(out, "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0");
  MacBin_Close(out);
  CHECK(problems == 0);

  in = MacBin_OpenR(path);
  CHECK(in != NULL);
  MacBin_GetFinderInfo(in, &info);
  CHECK(strcmp(info.name, "Consumer C") == 0);
  CHECK(strcmp(info.type, "TEXT") == 0);
  CHECK(strcmp(info.creator, "VARN") == 0);

  MacBin_GetDataBlockParams(in, &offset, &length);
  CHECK(offset == 128 && length == data_length);
  CHECK(fputp(in->file, offset) == offset);
  CHECK(fgetm(in->file, buffer, length) == 1);
  CHECK(memcmp(buffer, kDataFork, (size_t)length) == 0);

  /* Note, vers and the owner resource (type = creator) that closing adds. */
  CHECK(MacBin_GetNrTypes(in) == 3);
  CHECK(MacBin_GetIndType(in, type, 2) == 2 && strcmp(type, "VARN") == 0);
  CHECK(MacBin_GetNrResources(in, "Note") == 1);
  CHECK(MacBin_GetNrResources(in, "vers") == 1);
  CHECK(MacBin_CheckResource2(in, "Note", 0, "greeting") == 1);
  CHECK(MacBin_CheckResource2(in, "Note", 129, NULL) == 0);
  CHECK(MacBin_GetResource2(in, "Note", 128, NULL) == 1);
  CHECK(note_length == (int32_t)strlen(kNote) && strcmp(note_read, kNote) == 0);
  MacBin_Close(in);

  printf("consumer (C, libvarnel %s): ok\n", VARNEL_VERSION_STRING);
  return 0;
}
