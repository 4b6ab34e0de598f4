/* The public headers are plain C: this program includes them, repeats the
 * layout checks with _Static_assert and calls a few functions through the
 * shared library. */
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "varnel.h"

_Static_assert(sizeof(MacBinFinderInfo) == 76, "MacBinFinderInfo is 76 bytes");
_Static_assert(offsetof(MacBinFinderInfo, type) == 64, "type at 64");
_Static_assert(offsetof(MacBinFinderInfo, creator) == 69, "creator at 69");
_Static_assert(offsetof(MacBinFinderInfo, flags) == 74, "flags at 74");
_Static_assert(offsetof(MacBinChannel, file) == 0, "file first");
_Static_assert(offsetof(MacBinChannel, cur_type) < offsetof(MacBinChannel, cur_id), "order");
_Static_assert(offsetof(MacBinChannel, map_pos) < offsetof(MacBinChannel, map_length), "order");
_Static_assert(offsetof(MacBinProgress, percent) == 0, "percent first");
_Static_assert(offsetof(MacBinAcquireProgress, tag) == 0, "tag first");
_Static_assert(offsetof(MacBinFinding, offset) == 8, "finding offset at 8 on every machine");
_Static_assert(offsetof(MacBinCheckReport, container) == 20, "container words at 20");
_Static_assert(sizeof(MacBinCheckReport) == 128, "MacBinCheckReport is 128 bytes");
_Static_assert(offsetof(MacBinProcessor, type) == 0, "type first");
_Static_assert(sizeof(MacBinReadRequest) == 20, "five words");
_Static_assert(VARNEL_VERSION_MAJOR == 1, "major version");
_Static_assert(sizeof(MacBinScriptHeader) == 4312 && offsetof(MacBinScriptHeader, finder_info) == 24 &&
                   offsetof(MacBinScriptHeader, data) == 216,
               "MacBinScriptHeader: numbers, the Finder information, then the texts");
_Static_assert(offsetof(MacBinResourceListing, ref) == 0 &&
                   offsetof(MacBinResourceListing, type) == sizeof(void *) &&
                   offsetof(MacBinResourceListing, data_offset) == sizeof(void *) + 24,
               "MacBinResourceListing: the pointer, the type, then int32 fields");
_Static_assert(sizeof(MacBinFileInfo) == 136, "MacBinFileInfo is 136 bytes");
_Static_assert(offsetof(MacBinFileInfo, finder_flags) == 24, "finder_flags at 24");
_Static_assert(offsetof(MacBinFileInfo, name) == 26, "name at 26");
_Static_assert(offsetof(MacBinFileInfo, rsrc_state) == 100, "rsrc_state at 100");
_Static_assert(offsetof(MacBinFileInfo, map_attributes) == 104, "map_attributes at 104");
_Static_assert(offsetof(MacBinFileInfo, reserved) == 108, "reserved at 108");
_Static_assert(offsetof(MacBinPixels, width) == 0 && offsetof(MacBinPixels, hot_y) == 12 &&
                   offsetof(MacBinPixels, rgba) == 16, "MacBinPixels: four words, then rgba");
_Static_assert(sizeof(MacBinCompressionInfo) == 16 && offsetof(MacBinCompressionInfo, decompressor) == 0 &&
                   offsetof(MacBinCompressionInfo, header_version) == 4 &&
                   offsetof(MacBinCompressionInfo, uncompressed_length) == 8 &&
                   offsetof(MacBinCompressionInfo, stored_length) == 12,
               "MacBinCompressionInfo: four words");
_Static_assert(MACBIN_MAX_TYPES == 64 && MACBIN_MAX_LINE_LENGTH == 511, "published limits");
_Static_assert(sizeof(MacBinThumbnail) == 148 && offsetof(MacBinThumbnail, id) == 8 &&
                   offsetof(MacBinThumbnail, type) == 12 && offsetof(MacBinThumbnail, note) == 20,
               "MacBinThumbnail: three words, the type, the note");

/* Field order of the records that hosts and processors read.  Written so
 * that they hold on 32- and 64-bit machines alike (the cross builds compile
 * this file for i686 and s390x). */
#define VARNEL_BEFORE(type, a, b) _Static_assert(offsetof(type, a) < offsetof(type, b), #type ": " #a " before " #b)
VARNEL_BEFORE(MacBinChannel, cur_type, cur_id);
VARNEL_BEFORE(MacBinChannel, cur_id, cur_name);
VARNEL_BEFORE(MacBinChannel, cur_name, after_insert);
VARNEL_BEFORE(MacBinChannel, after_insert, label);
VARNEL_BEFORE(MacBinChannel, label, mode);
VARNEL_BEFORE(MacBinChannel, mode, type_count);
VARNEL_BEFORE(MacBinChannel, type_count, fref_last);
VARNEL_BEFORE(MacBinChannel, fref_last, rsrc_offset);
VARNEL_BEFORE(MacBinChannel, rsrc_offset, rsrc_start);
VARNEL_BEFORE(MacBinChannel, rsrc_start, data_length);
VARNEL_BEFORE(MacBinChannel, data_length, rsrc_length);
VARNEL_BEFORE(MacBinChannel, rsrc_length, finder);
VARNEL_BEFORE(MacBinChannel, finder, owner_text);
VARNEL_BEFORE(MacBinChannel, owner_text, types);
VARNEL_BEFORE(MacBinChannel, types, refs);
VARNEL_BEFORE(MacBinChannel, refs, frefs);
VARNEL_BEFORE(MacBinChannel, frefs, names);
VARNEL_BEFORE(MacBinChannel, names, rdata_pos);
VARNEL_BEFORE(MacBinChannel, rdata_pos, map_pos);
VARNEL_BEFORE(MacBinChannel, map_pos, rdata_length);
VARNEL_BEFORE(MacBinChannel, rdata_length, map_length);
_Static_assert(sizeof(((MacBinChannel *)0)->cur_type) == 8, "cur_type holds 8 bytes");
_Static_assert(sizeof(((MacBinChannel *)0)->label) == 17, "label holds 17 bytes");
_Static_assert(sizeof(((MacBinChannel *)0)->owner_text) == 100, "owner_text holds 100 bytes");
_Static_assert(offsetof(MacBinNameNode, length) == 0 && offsetof(MacBinNameNode, text) == 1,
               "name node: length byte, then the text");
VARNEL_BEFORE(MacBinNameNode, text, next);
VARNEL_BEFORE(MacBinRefEntry, id, name_offset);
VARNEL_BEFORE(MacBinRefEntry, name_offset, name);
VARNEL_BEFORE(MacBinRefEntry, name, attributes);
VARNEL_BEFORE(MacBinRefEntry, attributes, data_offset);
_Static_assert(offsetof(MacBinTypeEntry, type) == 0 && offsetof(MacBinTypeEntry, count) == 8,
               "type entry: 8 bytes of type, then the count");
VARNEL_BEFORE(MacBinTypeEntry, count, ref_offset);
VARNEL_BEFORE(MacBinTypeEntry, ref_offset, refs);
VARNEL_BEFORE(MacBinProcessor, type, read_handler);
VARNEL_BEFORE(MacBinProcessor, read_handler, write_handler);
VARNEL_BEFORE(MacBinProcessor, write_handler, next);
VARNEL_BEFORE(MacBinProgress, percent, file);
VARNEL_BEFORE(MacBinProgress, file, type);
VARNEL_BEFORE(MacBinProgress, type, id);
VARNEL_BEFORE(MacBinProgress, id, name);
VARNEL_BEFORE(MacBinAcquireProgress, tag, start);
VARNEL_BEFORE(MacBinAcquireProgress, start, progress);
VARNEL_BEFORE(MacBinAcquireProgress, progress, end);
/* The image descriptor's numeric fields are 4 bytes each, without gaps. */
_Static_assert(offsetof(MacBinImage, v_size) == 0 && offsetof(MacBinImage, h_size) == 4 &&
                   offsetof(MacBinImage, width) == 8 && offsetof(MacBinImage, height) == 12 &&
                   offsetof(MacBinImage, channels) == 16 && offsetof(MacBinImage, planes) == 20 &&
                   offsetof(MacBinImage, kinds) == 24,
               "image descriptor numbers");
VARNEL_BEFORE(MacBinImage, kinds, row_buffer);
VARNEL_BEFORE(MacBinImage, row_buffer, acquire_progress);
VARNEL_BEFORE(MacBinImage, acquire_progress, host_data);
_Static_assert(sizeof(MacBinImageRequest) == 12 && offsetof(MacBinImageRequest, v_res) == 4 &&
                   offsetof(MacBinImageRequest, kinds) == 8,
               "image request: two floats and the kinds");
_Static_assert(offsetof(MacBinReadRequest, kinds) == 0, "read request: kinds first");
_Static_assert(sizeof(((MacBinControl *)0)->methods) == 16 * sizeof(MacBinMethod), "16 method slots");
VARNEL_BEFORE(MacBinControl, open_writers, processors);
VARNEL_BEFORE(MacBinControl, processors, zone);
VARNEL_BEFORE(MacBinControl, zone, methods);
/* The image-file reader's records: numbers, then the format's name; text,
 * context and the three callbacks in this order. */
_Static_assert(offsetof(MacBinImageFileInfo, width) == 0 && offsetof(MacBinImageFileInfo, height) == 4 &&
                   offsetof(MacBinImageFileInfo, channels) == 8 && offsetof(MacBinImageFileInfo, one_bit) == 12 &&
                   offsetof(MacBinImageFileInfo, h_res) == 16 && offsetof(MacBinImageFileInfo, v_res) == 24 &&
                   offsetof(MacBinImageFileInfo, format) == 32,
               "image file info");
VARNEL_BEFORE(MacBinImageFileReader, formats, context);
VARNEL_BEFORE(MacBinImageFileReader, context, open);
VARNEL_BEFORE(MacBinImageFileReader, open, read_row);
VARNEL_BEFORE(MacBinImageFileReader, read_row, close);
/* The PNG encoder's options: two numbers, then the texts and the row
 * counter, in this order. */
_Static_assert(offsetof(MacBinPNGOptions, compression) == 0 && offsetof(MacBinPNGOptions, text_count) == 4 &&
                   offsetof(MacBinPNGOptions, keys) == 8,
               "PNG options");
VARNEL_BEFORE(MacBinPNGOptions, keys, texts);
VARNEL_BEFORE(MacBinPNGOptions, texts, rows_written);
VARNEL_BEFORE(MacBinPNGOptions, rows_written, rows_context);

/* The stand-in's put area is two pointers at the start of every file record. */
_Static_assert(offsetof(TesselPutArea, next) == 0 && offsetof(TesselPutArea, end) == sizeof(uint8_t *),
               "put area: next, then end");

static int messages;

/* A direct store, fputb and a patch of a byte still buffered, from C and
 * through the shared library: the file reads "aB".  Returns 0 when so. */
static int write_through_put_area(void) {
  const char *directory = getenv("TMPDIR");
  char path[512];
  unsigned char bytes[4] = {0};
  TesselFile *file;
  TesselPutArea *area;
  FILE *in;
  size_t count;
  snprintf(path, sizeof path, "%s/varnel-c-header-%ld.bin", directory ? directory : "/tmp",
           (long)getpid());
  file = fopenw(fdbset(0, "STREAM,SEQUENTIAL"), path, "", 0);
  if (file == NULL) return 1;
  area = tessel_put_area(file);
  if (!(area->next < area->end)) return 2;
  *area->next++ = 'A';
  if (fputb(file, 'B') != 0) return 3;
  if (tessel_patch_pending(file, 0, "a", 1) != 1) return 4;
  if (fclosx(file) != 0) return 5;
  fdbfree(file);
  in = fopen(path, "rb");
  if (in == NULL) return 6;
  count = fread(bytes, 1, sizeof bytes, in);
  fclose(in);
  remove(path);
  return count == 2 && memcmp(bytes, "aB", 2) == 0 ? 0 : 7;
}

static void count_message(const char *module, const char *text, int32_t severity) {
  (void)module;
  (void)text;
  (void)severity;
  ++messages;
}

/* The resampler's row source: 00 FF, whose mean rounds to 80. */
static int32_t open_nothing(const char *path, void *context, MacBinImageFileInfo *info, void **handle,
                            char reason[MACBIN_IMAGE_REASON_BYTES]) {
  (void)path, (void)context, (void)info, (void)handle;
  strcpy(reason, "unreadable");
  return MACBIN_IMAGE_FAILED;
}
static int32_t read_no_row(void *handle, uint8_t *row, char reason[MACBIN_IMAGE_REASON_BYTES]) {
  (void)handle, (void)row, (void)reason;
  return 0;
}
static void close_nothing(void *handle) { (void)handle; }

static int32_t two_samples(void *argument, uint8_t *row) {
  (void)argument;
  row[0] = 0x00;
  row[1] = 0xFF;
  return 1;
}

int main(void) {
  char buffer[64];
  char *argv[4];
  if (MacBin_Init() != 1) return 1;
  if (MacBin_Init() != 2) return 2;
  if (MacBin_Setmethod((MacBinMethod)count_message, MACBIN_METHOD_MESSAGE) != 1) return 3;
  if (MacBin_Setmethod((MacBinMethod)count_message, 17) != 0) return 4;
  if (swapwtow(0x1234) != 0x3412) return 5;
  if (swapltol(0x01020304u) != 0x04030201u) return 6;
  if (MacBin_GetArguments("PICT 128 \"x y\" data", buffer, argv, 3) != 3) return 7;
  if (strcmp(argv[2], "x y") != 0 || strcmp(argv[3], "data") != 0) return 8;
  if (MacBin_OpenR("") != NULL || messages != 1) return 9;
  {
    MacBinFileInfo info;
    if (MacBin_GetFileInfo(NULL, &info) != 0) return 10;
    if (MacBin_ReadDataFork(NULL, 0, buffer, 1) != -1) return 11;
    if (MacBin_ReadResourceData(NULL, NULL, NULL, 0) != -1) return 12;
  }
  {
    /* Refused without a channel: the info is zeroed and nothing is
       reported; the read reports its one reason. */
    MacBinCompressionInfo compression;
    memset(&compression, 0x5A, sizeof compression);
    if (MacBin_GetResourceCompression(NULL, NULL, &compression) != -1) return 13;
    if (compression.decompressor != 0 || compression.stored_length != 0 || messages != 1) return 14;
    if (MacBin_ReadResourceUncompressed(NULL, NULL, NULL, 0) != -1 || messages != 2) return 15;
  }
  {
    /* The reading calls refuse without a word; the writing ones say why. */
    uint8_t finder_info[32];
    if (MacBin_GetFinderInfoBytes(NULL, finder_info) != 0) return 16;
    if (MacBin_GetResourceName(NULL, NULL, buffer, sizeof buffer) != -1 || messages != 2) return 17;
    if (MacBin_AddResourceData(NULL, "STR ", 128, NULL, MACBIN_ATTR_PURGEABLE, "", 0) != 1) return 18;
    if (MacBin_SetFinderResources(NULL, 0) != 1 || MacBin_SetMapAttributes(NULL, 0) != 1) return 19;
    if (MacBin_SetFinderInfoBytes(NULL, finder_info) != 1 || messages != 6) return 20;
  }
  if (write_through_put_area() != 0) return 10;
  /* The picture memory limit: its default, a new value, the old one back. */
  if (MacBin_SetPictureMemoryLimit(0) != MACBIN_DEFAULT_PICTURE_BYTES) return 13;
  if (MacBin_SetPictureMemoryLimit(1024) != MACBIN_DEFAULT_PICTURE_BYTES) return 14;
  if (MacBin_SetPictureMemoryLimit(MACBIN_DEFAULT_PICTURE_BYTES) != 1024) return 15;
  if (MacBin_AddFontFile(NULL) != -1) return 16;
  MacBin_ClearFonts();
  {
    /* An 8 x 1 strip is no icon: refused with its reason, nothing written. */
    uint8_t rgba[8 * 4] = {0};
    MacBinPixels strip = {8, 1, 0, 0, rgba};
    char reason[128] = "";
    if (MacBin_EncodeResource("ICN#", &strip, MACBIN_ENCODE_NEAREST, NULL, 0, reason) != -1) return 21;
    if (strcmp(reason, "ICN# needs 32 x 32 pixels, not 8 x 1") != 0) return 22;
  }
  {
    /* Host services: the version, the last error, MacRoman text, resource
       descriptions and line checks; none of them reports a message. */
    const char *why = NULL;
    char mac[8];
    const int before = messages;
    if (strcmp(MacBin_Version(), VARNEL_VERSION_STRING) != 0) return 23;
    MacBin_ClearError();
    if (MacBin_LastError(&why) != MACBIN_ERR_NONE || why == NULL || why[0] != '\0') return 24;
    if (MacBin_UTF8ToMacRoman("Caf\xC3\xA9", mac, sizeof mac) != 4 || (unsigned char)mac[3] != 0x8E) return 25;
    if (MacBin_UTF8ToMacRoman("\xE2\x9C\x93", mac, sizeof mac) != -1) return 26;
    if (MacBin_LastError(&why) != MACBIN_ERR_ARGUMENT || strstr(why, "U+2713") == NULL) return 27;
    if (MacBin_MacRomanToUTF8("\x8E", 1, 0, buffer, sizeof buffer) != 2 || strcmp(buffer, "\xC3\xA9") != 0) return 28;
    if (MacBin_DescribeResource(NULL, NULL, buffer, sizeof buffer) != -1) return 29;
    if (MacBin_AddProcessor("vers", NULL, add_vers) != 0) return 30;
    if (MacBin_CheckResourceLine(NULL, "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0") != MACBIN_ERR_NONE) return 31;
    if (MacBin_CheckResourceLine(NULL, "vers 70000 \"\" 1.00 F 0 0/1.0/V") != MACBIN_ERR_ARGUMENT) return 32;
    if (MacBin_LastSystemError() != 0 || messages != before) return 33;
  }
  /* Starting over: a new MacBin_Init initialises again, the limit is back. */
  if (MacBin_SetPictureMemoryLimit(4096) != MACBIN_DEFAULT_PICTURE_BYTES) return 34;
  MacBin_Reset();
  if (MacBin_Init() != 1) return 35;
  if (MacBin_SetPictureMemoryLimit(0) != MACBIN_DEFAULT_PICTURE_BYTES) return 36;
  {
    /* The Finder's icon: a C caller's pointers, and no channel to ask. */
    char type[5] = "ICN#";
    int32_t id = 1;
    const MacBinRefEntry *ref = NULL;
    if (MacBin_FindFinderIcon(NULL, type, &id, &ref) != -1 || type[0] != '\0' || id != 0 || ref != NULL) return 37;
    if (MACBIN_FINDER_ICON_NONE != 0 || MACBIN_FINDER_ICON_PICTURE != 3) return 38;
    if (MacBin_CheckResourceData(NULL, "STR ", 128, NULL, 2) != MACBIN_ERR_NONE) return 43;
    if (MacBin_CheckClose(NULL) != MACBIN_ERR_STATE) return 44;
    if (MacBin_FindUnclosedQuote("STR  1 \"a", 3, 0) != 8) return 45;
  }
  {
    /* Thumbnails from C: a PICT file's bytes (a 1 x 1 version 1 picture
     * without the header), and the resampler halving a row of two. */
    static const uint8_t pict[] = {0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0x11, 0x01, 0xFF};
    MacBinPixels pixels;
    MacBinThumbnail about;
    MacBinResampler *resampler;
    uint8_t row = 0;
    if (MacBin_FindPictFilePicture(pict, (int64_t)sizeof pict) != 0) return 39;
    if (MacBin_DrawPictFileThumbnail(pict, (int32_t)sizeof pict, MACBIN_THUMBNAIL_MIN_SIZE, &pixels, &about) !=
            MACBIN_THUMBNAIL_PICT_FILE ||
        pixels.width != 1 || pixels.height != 1 || pixels.rgba[3] != 255 || about.note[0] != '\0')
      return 40;
    MacBin_FreePixels(&pixels);
    if (MacBin_DrawThumbnail(NULL, 128, &pixels, &about) != -1 || pixels.rgba != NULL) return 41;
    resampler = MacBin_NewResampler(2, 1, 1, 1, 1, two_samples, NULL);
    if (resampler == NULL || MacBin_ResampleRow(resampler, &row) != 1 || row != 0x80) return 42;
    MacBin_FreeResampler(resampler);
  }
  {
    /* Image files from C: an icon from a file that is not there, and from
     * one the registered reader refuses. */
    MacBinImageFileReader reader = {"test", NULL, open_nothing, read_no_row, close_nothing};
    uint8_t icon[256];
    const char *reason = NULL;
    FILE *image = fopen("c_header_test.img", "wb");
    if (image == NULL || fputs("image", image) < 0 || fclose(image) != 0) return 50;
    if (MacBin_SetImageFileReader(&reader) != 0) return 46;
    if (MacBin_MakeIconFromFiles("ICN#", "no such file.png", NULL, icon, (int32_t)sizeof icon) != -1 ||
        MacBin_LastError(&reason) != MACBIN_ERR_IMAGE || strcmp(reason, "no such file.png: no such image file") != 0)
      return 47;
    if (MacBin_MakeIconFromFiles("ICN#", "c_header_test.img", NULL, icon, (int32_t)sizeof icon) != -1 ||
        MacBin_LastError(&reason) != MACBIN_ERR_IMAGE || strcmp(reason, "c_header_test.img: unreadable") != 0)
      return 48;
    remove("c_header_test.img");
    if (MacBin_SetImageFileReader(NULL) != 0) return 49;
  }
  {
    /* An output from C: in place only at the commit. */
    MacBinOutput *out = MacBin_OpenOutput("c_header_test.out", MACBIN_OUTPUT_BYTES);
    FILE *check = NULL;
    char back[8] = "";
    if (out == NULL || MacBin_OutputWrittenInto(out) != 0 || MacBin_WriteOutput(out, "done", 4) != 0) return 51;
    if (fopen("c_header_test.out", "rb") != NULL) return 52;
    if (MacBin_CommitOutput(out) != 0) return 53;
    check = fopen("c_header_test.out", "rb");
    if (check == NULL || fread(back, 1, 4, check) != 4 || strcmp(back, "done") != 0) return 54;
    fclose(check);
    remove("c_header_test.out");
  }
  printf("c_header_test: ok (libvarnel %s)\n", VARNEL_VERSION_STRING);
  return 0;
}
