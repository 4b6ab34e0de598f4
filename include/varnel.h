/*
 * varnel.h - write and read Macintosh files packed in MacBinary, AppleSingle,
 * AppleDouble and BinHex 4.0 (see MacBin_SetFormat and MacBin_OpenR), and
 * read bare resource forks.
 *
 * A host names a Unix file, a creator and a file type (and optionally a
 * Macintosh name); the library writes the 128-byte MacBinary header, lets the
 * host write the data fork with the output primitives, appends resources one
 * by one through resource processors registered per type, and on
 * MacBin_Close writes the resource map and completes the header.  The reader
 * opens a file in any of those containers, reads its whole resource map into
 * memory and answers queries; hosts read the file's facts
 * (MacBin_GetFileInfo), the data fork (MacBin_ReadDataFork) and the bytes of
 * any resource (MacBin_ReadResourceData) of any file it accepts.
 *
 * Result conventions (each declaration says which one it follows):
 *   - writer and output primitives: 0 = done, 1 = failed;
 *   - generators and queries:       1 = success, 0 = failure;
 *   - functions that create something return a pointer, null on failure;
 *   - the host's image-access methods return 0 for success.
 *
 * Reporting goes through the message method (id 11) as
 * ("MacBin", text, severity) with severity 1 INFO, 2 WARNING, 3 ERROR,
 * 4 SEVERE.
 *
 * Threads.  Reading and decoding may run in several threads at once, each
 * on channels of its own (a channel is used by one thread at a time):
 * MacBin_OpenR, the queries and MacBin_GetResource2, MacBin_GetFileInfo,
 * MacBin_ReadDataFork, MacBin_ReadResourceFork, MacBin_ReadResourceData and
 * the other reading calls, MacBin_DecodeResource, MacBin_DecodePicture,
 * MacBin_ReadImageFile, MacBin_EncodePNG and
 * MacBin_Close of a reading channel.  The methods and read handlers are
 * then called from the reading threads and must allow that.  Set up before
 * the threads start, and left alone while they run: MacBin_Init, the
 * methods (MacBin_Setmethod), the processors (MacBin_AddProcessor), the
 * image-file reader and folder (MacBin_SetImageFileReader,
 * MacBin_SetImageDirectory) and MacBin_Reset.  Writing (MacBin_OpenW to MacBin_Close of a writing
 * channel, the output primitives, insert_resource and the generators)
 * works on process-wide state (MacChannel, outfile, the sticky output
 * failure): one writing channel at a time, from one thread, while no other
 * thread uses the library.  The output calls (MacBin_OpenOutput to
 * MacBin_CommitOutput, each output used by one thread at a time),
 * MacBin_MakeTemporaryFile and MacBin_RemoveTemporaries may be called from
 * any thread; MacBin_AddFontFile, MacBin_ClearFonts and
 * MacBin_SetPictureMemoryLimit may be called from any thread at any time.
 * The last error (MacBin_LastError) is kept for each thread.
 *
 * Example (errors omitted):
 *
 *   MacBin_Init();
 *   MacBin_AddProcessor("vers", NULL, add_vers);
 *   char name[32] = "";
 *   MacBinChannel *ch = MacBin_OpenW("out.bin", name, "VARN", "TEXT");
 *   MacBin_PutBuf("hello", 5, 5);               // the data fork
 *   MacBin_AddResource(ch, "vers 1 \"\" 1.00 F 0 0/1.0/Version 1.0");
 *   MacBin_Close(ch);
 */
#ifndef VARNEL_H
#define VARNEL_H

#include <stddef.h>
#include <stdint.h>

#include "tessel.h"

#define VARNEL_VERSION_MAJOR 1
#define VARNEL_VERSION_MINOR 7
#define VARNEL_VERSION_PATCH 0
#define VARNEL_VERSION_STRING "1.7.0"
#define VARNEL_VERNUM 0x010700

#ifdef __cplusplus
extern "C" {
#endif

/* ======================================================================
 * Records
 * ==================================================================== */

typedef struct MacBinChannel MacBinChannel;
typedef struct MacBinNameNode MacBinNameNode;
typedef struct MacBinRefEntry MacBinRefEntry;
typedef struct MacBinTypeEntry MacBinTypeEntry;
typedef struct MacBinProcessor MacBinProcessor;

/* Write handler of a processor: writes the resource's bytes with the output
 * primitives.  `param` is the parameter text of the resource line (for FREF
 * the line handler has appended "/" and the resource ID).  Result unused. */
typedef int32_t (*MacBinWriteHandler)(MacBinChannel *channel, const char *param);

/* Read handler: the channel's `file` is positioned at the data, which starts
 * at `data_pos` (absolute) and is `data_length` bytes long.  Result unused. */
typedef int32_t (*MacBinReadHandler)(MacBinChannel *channel, int32_t data_pos,
                                     int32_t data_length);

/* A byte source for the MacBin_CGet readers: the next byte (0 to 255), or a
 * negative value when the input is exhausted. */
typedef int32_t (*MacBinByteSource)(void);

/* Finder information: 76 bytes, no gaps; MacBin_GetFinderInfo copies it whole. */
typedef struct MacBinFinderInfo {
  char name[64];   /* Macintosh file name, NUL-terminated */
  char type[5];    /* file type, 4 characters and a NUL */
  char creator[5]; /* creator, 4 characters and a NUL */
  int16_t flags;   /* Finder flags, host order (offset 74) */
} MacBinFinderInfo;

/* One name of a channel's name list; `length` + `text` is the Pascal string
 * the map's name list stores.  Shared by every reference with that name. */
struct MacBinNameNode {
  uint8_t length;       /* number of characters in text (at most 127) */
  char text[128];       /* the name, NUL-terminated */
  MacBinNameNode *next; /* next node, null ends the list */
};

/* One resource reference.  The reader keeps each ID as the map stores its
 * 16 bits (0 to 65535); the queries take IDs in either form, signed as users
 * write them (-3980) or as stored (61556). */
struct MacBinRefEntry {
  int32_t id;           /* resource ID (reader: 0 to 65535) */
  int32_t name_offset;  /* -1 = no name; writer: 0 = named; reader: offset in name list */
  MacBinNameNode *name; /* the name, when name_offset is not -1 */
  int32_t attributes;   /* writer and reader: the attribute byte of the map */
  int32_t data_offset;  /* writer: absolute position of the length word, relative after
                           close; reader: 24-bit offset from the resource data */
};

/* One entry of a channel's type table. */
struct MacBinTypeEntry {
  char type[8];         /* writer: type as given, NUL-terminated; reader: 4 map bytes + NUL */
  int32_t count;        /* writer: resources of this type minus 1; reader: resources */
  int32_t ref_offset;   /* reader: offset of the reference list from the type list */
  MacBinRefEntry *refs; /* reader: the `count` references of this type */
};

/* One open MacBinary file, writer (mode 2) or reader (mode 1).  The fields,
 * their order and their widths are part of the interface: processors and
 * hosts read them. */
struct MacBinChannel {
  TesselFile *file;              /* the channel's file */
  char cur_type[8];              /* type of the resource being inserted / fetched */
  int32_t cur_id;                /* its ID */
  const char *cur_name;          /* its name (may be null or empty) */
  int32_t (*after_insert)(void); /* writer: hook run after each inserted resource, or null */
  char label[17];                /* writer: NAME part of the output file name, <= 16 chars */
  int32_t mode;                  /* 2 = writing, 1 = reading */
  int32_t type_count;            /* writer: last used index of types (-1 none); reader: types */
  int32_t fref_last;             /* writer: last used index of frefs (-1 none) */
  int32_t rsrc_offset;           /* data fork length rounded up to a multiple of 128 */
  int32_t rsrc_start;            /* absolute position of the resource fork */
  int32_t data_length;           /* data fork length; writer: -1 while the data fork is open */
  int32_t rsrc_length;           /* reader: resource fork length from the header */
  MacBinFinderInfo finder;       /* Macintosh name, type, creator, Finder flags */
  char owner_text[100];          /* writer: text of the owner resource */
  MacBinTypeEntry *types;        /* the type table */
  MacBinRefEntry *refs;          /* writer: reference grid, 64 rows of 64 entries */
  int32_t (*frefs)[2];           /* writer: 64 pairs (icon ID, FREF ID) */
  MacBinNameNode *names;         /* head of the channel's name list */
  int32_t rdata_pos;             /* reader: absolute position of the resource data */
  int32_t map_pos;               /* reader: absolute position of the resource map */
  int32_t rdata_length;          /* reader: resource data length */
  int32_t map_length;            /* reader: resource map length */
};

/* A registered resource processor; the list runs from the newest to the oldest. */
struct MacBinProcessor {
  char type[5];                     /* first four characters of the type, NUL-padded */
  MacBinReadHandler read_handler;   /* may be null */
  MacBinWriteHandler write_handler; /* may be null */
  MacBinProcessor *next;            /* next processor, null ends the list */
};

/* Handed to the progress method; valid only during the call. */
typedef struct MacBinProgress {
  int32_t percent;  /* -1 = a resource is being started, else 0 to 100 */
  const char *file; /* output file's label; set only when percent is -1 */
  const char *type; /* resource type, NUL-terminated */
  int32_t id;       /* resource ID */
  const char *name; /* resource name, or null */
} MacBinProgress;

/* A tag and three callbacks that the host's image methods carry with an
 * image.  A record whose tag is 100 is replaced by the library's silent one. */
typedef struct MacBinAcquireProgress {
  int32_t tag;
  int32_t (*start)(void *argument);
  void (*progress)(void *argument);
  void (*end)(void);
} MacBinAcquireProgress;

/* Image descriptor, filled by the host's image-access methods.  The library
 * owns the storage for the length of one MacBin_Add_PICT call. */
typedef struct MacBinImage {
  float v_size;                           /* vertical size in inches (open) */
  float h_size;                           /* horizontal size in inches (open) */
  int32_t width;                          /* pixels per delivered row (open) */
  int32_t height;                         /* rows that will be delivered (open) */
  int32_t channels;                       /* 1 grey, 3 RGB, 4 CMYK (open) */
  int32_t planes;                         /* set to 1 by the library */
  int32_t kinds;                          /* 0x02 one-bit image; picture needs 0x02 or 0x20 */
  uint8_t *row_buffer;                    /* allocated by the library after open */
  MacBinAcquireProgress *acquire_progress; /* set by prepare */
  void *host_data;                        /* free for the host's own state */
} MacBinImage;

/* Handed to the open methods: wanted resolution (pixels per inch), kinds (0x22). */
typedef struct MacBinImageRequest {
  float h_res;
  float v_res;
  int32_t kinds;
} MacBinImageRequest;

/* Handed to the begin methods: the request's kinds and four zeros. */
typedef struct MacBinReadRequest {
  int32_t kinds;
  int32_t reserved[4];
} MacBinReadRequest;

/* ======================================================================
 * Methods
 * ==================================================================== */

/* A method slot holds any of the types below; cast to MacBinMethod when
 * installing.  The library casts back to the type of the slot's id. */
typedef void (*MacBinMethod)(void);

enum {
  MACBIN_METHOD_OPEN = 1,          /* MacBinImageOpenMethod */
  MACBIN_METHOD_BEGIN = 2,         /* MacBinImageBeginMethod */
  MACBIN_METHOD_NEXT_ROW = 3,      /* MacBinImageNextRowMethod */
  MACBIN_METHOD_END = 4,           /* MacBinImageStatusMethod */
  MACBIN_METHOD_CLOSE = 5,         /* MacBinImageStatusMethod */
  MACBIN_METHOD_MASK_OPEN = 6,     /* MacBinImageOpenMethod */
  MACBIN_METHOD_MASK_BEGIN = 7,    /* MacBinImageBeginMethod */
  MACBIN_METHOD_MASK_NEXT_ROW = 8, /* MacBinImageNextRowMethod */
  MACBIN_METHOD_MASK_END = 9,      /* MacBinImageStatusMethod */
  MACBIN_METHOD_MASK_CLOSE = 10,   /* MacBinImageStatusMethod */
  MACBIN_METHOD_MESSAGE = 11,      /* MacBinMessageMethod */
  MACBIN_METHOD_START = 12,        /* MacBinStartMethod */
  MACBIN_METHOD_PROGRESS = 13,     /* MacBinProgressMethod */
  MACBIN_METHOD_END_NOTICE = 14,   /* MacBinEndMethod */
  MACBIN_METHOD_PREPARE = 15,      /* MacBinImagePrepareMethod */
  MACBIN_METHOD_RELEASE = 16       /* MacBinImageStatusMethod (result ignored) */
};

typedef void (*MacBinMessageMethod)(const char *module, const char *text, int32_t severity);
typedef int32_t (*MacBinStartMethod)(const char *title);
typedef void (*MacBinProgressMethod)(MacBinProgress *progress);
typedef void (*MacBinEndMethod)(void);
typedef int32_t (*MacBinImagePrepareMethod)(MacBinImage *image, const char *file_name);
typedef int32_t (*MacBinImageOpenMethod)(MacBinImage *image, MacBinImageRequest *request);
typedef int32_t (*MacBinImageBeginMethod)(MacBinImage *image, MacBinReadRequest *request);
typedef uint8_t *(*MacBinImageNextRowMethod)(MacBinImage *image);
typedef int32_t (*MacBinImageStatusMethod)(MacBinImage *image);

/* The control block.  One instance, MacIOControl. */
typedef struct MacBinControl {
  int32_t open_writers;        /* output channels currently open */
  MacBinProcessor *processors; /* head of the processor list */
  TesselZone *zone;            /* the library's memory zone */
  MacBinMethod methods[16];    /* method with id n is methods[n - 1]; null = none */
} MacBinControl;

/* Severities of the message method. */
enum {
  MACBIN_INFO = 1,
  MACBIN_WARNING = 2,
  MACBIN_ERROR = 3,
  MACBIN_SEVERE = 4
};

/* Formats, shared by MacBin_SetFormat (which writes 1, 2, 4, 5 and 7) and
 * MacBinFileInfo.format. */
enum {
  MACBIN_FORMAT_CLASSIC = 1, /* value 76 at offset 99, no version bytes, no CRC, unpadded end;
                                reading: MacBinary I and every header without version bytes */
  MACBIN_FORMAT_II = 2,      /* MacBinary II: version bytes 129/129, CRC, padded to 128 */
  MACBIN_FORMAT_III = 3,     /* MacBinary III (reading only): "mBIN" at 102, version 130 */
  MACBIN_FORMAT_APPLESINGLE = 4, /* AppleSingle version 2: one file, both forks */
  MACBIN_FORMAT_APPLEDOUBLE = 5, /* AppleDouble version 2: the data fork in the named file,
                                    the rest in "._NAME" beside it */
  MACBIN_FORMAT_RSRC = 6,        /* a bare resource fork (reading only) */
  MACBIN_FORMAT_BINHEX = 7       /* BinHex 4.0 text */
};

/* Attribute bits of a resource (MacBinRefEntry.attributes; the writer gives
 * a resource MACBIN_ATTR_PURGEABLE unless MacBin_SetNextAttributes says
 * otherwise). */
enum {
  MACBIN_ATTR_SYSTEM_HEAP = 0x40, /* read into the system heap */
  MACBIN_ATTR_PURGEABLE = 0x20,
  MACBIN_ATTR_LOCKED = 0x10,
  MACBIN_ATTR_PROTECTED = 0x08,
  MACBIN_ATTR_PRELOAD = 0x04,
  MACBIN_ATTR_CHANGED = 0x02
};

/* QuickDraw picture (version 2) opcodes and constants that the preview
 * writes, for hosts that read pictures back. */
enum {
  MACBIN_PICT_NOP = 0x0000,
  MACBIN_PICT_CLIP_REGION = 0x0001,
  MACBIN_PICT_VERSION = 0x0011,   /* followed by MACBIN_PICT_VERSION_2 */
  MACBIN_PICT_VERSION_2 = 0x02FF,
  MACBIN_PICT_DEF_HILITE = 0x001E,
  MACBIN_PICT_PACKBITS_RECT = 0x0098,   /* packed pixel map */
  MACBIN_PICT_PACKBITS_REGION = 0x0099, /* packed pixel map with a mask region */
  MACBIN_PICT_SHORT_COMMENT = 0x00A0,
  MACBIN_PICT_LONG_COMMENT = 0x00A1,
  MACBIN_PICT_END = 0x00FF,
  MACBIN_PICT_HEADER = 0x0C00,          /* 24 bytes of data */
  MACBIN_PICT_PIXEL_MAP_FLAG = 0x8000,  /* in a pixel map's row bytes */
  MACBIN_PICT_REGION_END = 0x7FFF,      /* ends a region's scan line, and the region */
  MACBIN_PICT_RECT_REGION_BYTES = 10,   /* a rectangular region: size word and box */
  MACBIN_PICT_MIN_PACKED_ROW_BYTES = 8, /* narrower rows are stored unpacked */
  MACBIN_PICT_ONE_BYTE_COUNT_LIMIT = 250 /* wider packed rows have a 2-byte count */
};

/* Limits of the files the writer makes.  Hosts that check their input before
 * handing it over (the varnel tool does) take them from here, so that they
 * follow the library.
 *   A map takes as many types and resources as its 16-bit offsets reach:
 * 30 + 8 x types + 12 x resources (of every type) must not pass
 * MACBIN_MAX_MAP_LISTS_BYTES, some 5,000 resources in all.  The writer's
 * public tables (MacBinChannel.types and the grid .refs) start with
 * MACBIN_MAX_TYPES entries and MACBIN_MAX_RESOURCES_PER_TYPE references a
 * type; `types` grows with the types (and the grid by a row of 64 for
 * each), and a type's references past the 64th are the writer's own.
 *   Names: a name node (MacBinNameNode) holds MACBIN_MAX_NAME_LENGTH
 * characters; the map holds names of up to MACBIN_MAX_FULL_NAME_LENGTH,
 * which the writer keeps whole and MacBin_GetResourceName reads back. */
#define MACBIN_MAX_TYPES 64                  /* first size of the writer's type table */
#define MACBIN_MAX_RESOURCES_PER_TYPE 64     /* references a type in the writer's grid */
#define MACBIN_MAX_MAP_LISTS_BYTES 0xFFFF    /* map header, type and reference lists */
#define MACBIN_MAX_NAME_LENGTH 127           /* characters a name node holds */
#define MACBIN_MAX_FULL_NAME_LENGTH 255      /* characters of a resource name in a map */
#define MACBIN_MAX_NAME_LIST_BYTES 0xFFFF    /* the map's name list (16-bit offsets) */
#define MACBIN_MAX_DATA_OFFSET 0xFFFFFF      /* start of a resource's data (24-bit offsets) */
#define MACBIN_MAX_LINE_LENGTH 511           /* characters of a resource line */

/* What the header of a file opened for reading says, from
 * MacBin_GetFileInfo.  Names and codes are MacRoman, as stored.  What a
 * container does not hold is zero: the dates of BinHex and of a bare
 * resource fork, type, creator and flags of a bare resource fork and of an
 * AppleSingle or AppleDouble file without a Finder info entry. */
typedef struct MacBinFileInfo {
  int32_t format;        /* MACBIN_FORMAT_*: the container the file was read as */
  int32_t crc_state;     /* MacBinary II and III: 1 = the header CRC matches, 0 = not;
                            BinHex: 1 = the CRCs of the header and both forks match,
                            0 = a fork's does not (or the text ends before it);
                            -1 = no CRC (classic, AppleSingle, AppleDouble, RSRC) */
  uint32_t data_length;  /* data fork length from the header */
  uint32_t rsrc_length;  /* resource fork length from the header */
  uint32_t created;      /* creation date, seconds since 1 January 1904 (0: unknown) */
  uint32_t modified;     /* modification date, seconds since 1 January 1904 (0: unknown) */
  uint16_t finder_flags; /* MacBinary: high byte from offset 73; low byte from 101 (II and
                            III), else 0.  Other containers: the whole word */
  char name[64];         /* Macintosh file name (at most 63 characters), NUL-terminated */
  char type[5];          /* file type, 4 characters and a NUL */
  char creator[5];       /* creator, 4 characters and a NUL */
  int32_t rsrc_state;    /* 1 = the resource map was read, 0 = no resource fork,
                            -1 = the resource fork was not read (see MacBin_OpenR) */
  uint32_t map_attributes; /* the resource map's own attributes (0x0080 read-only,
                              0x0040 compact, ...), 0 without a map */
  uint32_t reserved[7];  /* zero; room for later fields */
} MacBinFileInfo;

/* ======================================================================
 * Globals
 * ==================================================================== */

/* The control block: set up by MacBin_Init, read by every part of the library. */
extern MacBinControl MacIOControl;
/* The channel insert_resource and every write handler act on; set by
 * MacBin_AddResource, MacBin_CompleteDataFork and MacBin_Close. */
extern MacBinChannel *MacChannel;
/* The file the output primitives write to; set by MacBin_OpenW (to the new
 * file) and by MacBin_AddResource, MacBin_CompleteDataFork, MacBin_Close. */
extern TesselFile *outfile;

/* ======================================================================
 * Frame
 * ==================================================================== */

/* Initialises the library: creates the zone, empties the processor list and
 * installs the default message, start, progress and end methods.
 * Returns 1 = initialised now, 2 = already initialised (nothing done),
 * 0 = the zone could not be created (may be called again). */
int32_t MacBin_Init(void);

/* Installs `method` (null uninstalls) under id 1 to 16.  Returns 1, or 0 for
 * an id outside 1 to 16.  Call after MacBin_Init, which clears every slot. */
int32_t MacBin_Setmethod(MacBinMethod method, int32_t id);

/* A fresh channel from the zone (fields zeroed, `names` empty), or null after
 * reporting "Out Of Memory (in initialisation)".  Normally only MacBin_OpenW
 * and MacBin_OpenR call it. */
MacBinChannel *MacBin_NewChannel(void);

/* Registers (or changes) the processor for `type` (first four characters).
 * Null handlers keep what is registered.  A "****" processor serves every type
 * without its own; once it exists, registering a type without its own record
 * changes the wildcard.  Returns 0 = done, 1 = no memory. */
int32_t MacBin_AddProcessor(const char *type, MacBinReadHandler read_handler,
                            MacBinWriteHandler write_handler);

/* Splits `line` into at most `max` arguments separated by blanks and tabs
 * ("..." quotes, \" a literal quote).  `buffer` must hold strlen(line) + 1
 * bytes; `argv` has max + 1 entries; argv[max] is the untouched remainder or
 * null.  Returns the number of arguments, 1 to max. */
int32_t MacBin_GetArguments(const char *line, char *buffer, char **argv, int32_t max);

/* ======================================================================
 * Output primitives: write to `outfile`, most significant byte first.
 * Each returns 0 = written, 1 = output has failed (now or earlier).  The
 * first failure is reported once ("Writing output file", severity 4) and
 * stops all later output of the process; MacBin_Close then removes the file.
 * ==================================================================== */

/* count bytes: data[i] for i < length, zero for the rest. */
int32_t MacBin_PutBuf(const void *data, int32_t length, int32_t count);
int32_t MacBin_PutByte(int32_t value);
/* The value's bytes, most significant first, in a field of count bytes:
 * a shorter field keeps the leading bytes, a longer one is zero-filled. */
int32_t MacBin_PutWord(int32_t value, int32_t count);
int32_t MacBin_PutInt(int32_t value, int32_t count);
/* 16.16 fixed point, for 0 <= value < 65536. */
int32_t MacBin_PutFixed(float value, int32_t count);
/* Length byte, then a field of count bytes (count + 1 bytes in all). */
int32_t MacBin_PutPascalString(const char *text, int32_t count);
/* Current position of outfile. */
int32_t MacBin_GetPtrPos(void);
/* Moves outfile to base + offset; returns the new position (-1 on failure). */
int32_t MacBin_SetPtrPos(int32_t base, int32_t offset);

/* ======================================================================
 * Input primitives and byte order
 * ==================================================================== */

uint16_t swapwtow(int32_t value);   /* low 16 bits, bytes exchanged */
uint32_t swapltol(uint32_t value);  /* four bytes reversed */
uint32_t swapttot(uint32_t value);  /* low 24 bits, first and third byte exchanged */
/* Swaps a record's items in place; `format` is digit pairs (count, size 2 or 4). */
void swapxtox(void *data, const char *format);
/* Next 3 bytes of `file`, the first least significant. */
uint32_t fgett(TesselFile *file);
/* 256-entry table: hex digit characters give 0 to 15, everything else 0xFF. */
const uint8_t *GetNibbleCheckArray(void);

/* A 16.16 fixed-point number from the file (integer half unsigned). */
float MacBin_FGetFixed(TesselFile *file);
/* A Pascal string into `buffer` (256 bytes); returns the length byte, or a
 * negative value at the end of the file (buffer then holds an empty text). */
int32_t MacBin_FGetPascalString(TesselFile *file, char *buffer);
/* count bytes from source into buffer; returns count. */
int32_t MacBin_CGetBuffer(MacBinByteSource source, uint8_t *buffer, int32_t count);
int32_t MacBin_CGetByte(MacBinByteSource source);
uint16_t MacBin_CGetWord(MacBinByteSource source);
float MacBin_CGetFixed(MacBinByteSource source);
/* As MacBin_FGetPascalString, from a byte source. */
int32_t MacBin_CGetPascalString(MacBinByteSource source, char *buffer);

/* ======================================================================
 * Writer
 * ==================================================================== */

/* Selects the format of files opened from now on (process-wide; each channel
 * keeps the format it was opened with; MacBin_Init does not change it):
 *   1 (default) classic: the value 76 at offset 99, no version bytes, no CRC,
 *     the file ends right after the resource map;
 *   2 MacBinary II: bytes 99-121 zero except 101 (low byte of the Finder
 *     flags), bytes 122 and 123 = 129, bytes 124-125 the CRC-16/XMODEM of
 *     bytes 0-123, and the file padded with zeros to a multiple of 128;
 *   4 AppleSingle version 2: entries for the real name, the Finder info
 *     (type, creator and flags in place, the rest zero), the dates (backup
 *     and access unknown), the data fork and the resource fork, in that
 *     order; lengths and offsets are completed on close;
 *   5 AppleDouble version 2: the data fork goes to the named file, the real
 *     name, Finder info, dates and resource fork to the header file "._NAME"
 *     in the same folder (NAME: the file name without its folder).  Both
 *     are made in a private directory beside the output; after MacBin_Close
 *     both are in place or, when a write failed, neither (older files of
 *     those names as they were);
 *   7 BinHex 4.0: the forks go to a hidden temporary file
 *     (".NAME.partial.XXXXXX") in a private directory beside the output,
 *     which MacBin_Close encodes into the named file and removes.  BinHex
 *     holds no dates.
 * Whatever the format, the host writes the data fork with the output
 * primitives and the resources as for MacBinary; MacBin_Close leaves
 * complete files or none.  The files are written under temporary names
 * (see MacBin_OpenOutput), listed for MacBin_RemoveTemporaries.  The
 * Macintosh name is cut to 31 characters.
 * Returns 1 when the format can be written, else 0 (nothing changes; 3 and
 * 6 are for reading only). */
int32_t MacBin_SetFormat(int32_t format);

/* Opens `file_name` for writing and writes its header.  The file is written
 * under a temporary name (MacBin_OpenOutput) and appears under its name only
 * at MacBin_Close, complete: until then, and for good when a write fails, a
 * file of that name stays as it was.  A device, FIFO or /dev/stdout is
 * written into at the close; a directory or a socket is refused ("Could not
 * open output file NAME: Is a directory").  An empty `apple_name`
 * receives the first 31 characters of file_name, so it must then be a
 * writable buffer of at least 32 bytes.  Names longer than 63 characters and
 * codes longer than 4 are cut.  Makes the new file `outfile` (the data fork
 * follows).  Returns the channel, or null after reporting why. */
MacBinChannel *MacBin_OpenW(const char *file_name, char *apple_name, const char *creator,
                            const char *type);

/* Ends the data fork (zero padding to 128) and writes the resource fork head;
 * does nothing the second time.  Makes the channel current. */
void MacBin_CompleteDataFork(MacBinChannel *channel);

/* Sets both dates of the file being written, in seconds since 1 January
 * 1904 as MacBinFileInfo gives them (MacBin_OpenW starts with the time of
 * the open).  May be called at any time before MacBin_Close; the last call
 * counts.  AppleSingle and AppleDouble cannot hold dates before December
 * 1931 and store them as unknown; BinHex holds none.
 * Returns 0 = set, 1 = not a writing channel. */
int32_t MacBin_SetDates(MacBinChannel *channel, uint32_t created, uint32_t modified);

/* Writes `length` bytes at `fork` as the file's whole resource fork, for
 * carrying a file across as it is: the data fork ends here (as by
 * MacBin_CompleteDataFork), and MacBin_Close writes the fork as given and
 * adds nothing (no owner resource, no bundle, no map of its own).  A length
 * of 0 gives a file without a resource fork.  Must come before the data fork
 * is completed and before any resource; once it is done, resource lines and
 * insert_resource are refused.  Each refusal is reported.
 * Returns 0 = written (failures of the write itself are reported by the
 * output primitives and make MacBin_Close remove the output), 1 = refused:
 * not a writing channel, a null fork with a length, a negative length, the
 * data fork already complete, resources already added, or a fork set
 * before.  A fork that would end past the formats' 32-bit fields also gives
 * 1; the data fork has been ended then, and the output is removed on close.
 *
 *   MacBinChannel *ch = MacBin_OpenW("out.as", name, creator, type);
 *   MacBin_PutBuf(data, data_length, data_length);
 *   MacBin_SetDates(ch, created, modified);
 *   MacBin_SetResourceFork(ch, fork, fork_length);
 *   MacBin_Close(ch); */
int32_t MacBin_SetResourceFork(MacBinChannel *channel, const void *fork, int32_t length);

/* Makes the channel current, ends its data fork and handles one resource
 * line (at most 511 characters): "TYPE ID NAME [parameter text]",
 * "BNDL owner-text", or a comment starting with ';'.  Empty: only ends the
 * data fork. */
void MacBin_AddResource(MacBinChannel *channel, const char *line);

/* Inserts one resource into MacChannel through the processor for `type`
 * (a parameter starting with '~' stores the rest as a Pascal string).
 * Returns 0 when inserted (or the after_insert hook's result), 1 when it was
 * not (no processor, no data, no room, no writing channel). */
int32_t insert_resource(const char *type, int32_t id, const char *name, const char *param);

/* Sets the attribute byte (0 to 255, MACBIN_ATTR_* bits) of the next
 * resource inserted on the channel (by a resource line or insert_resource),
 * which is then forgotten, also when that resource is refused; a resource
 * line handed to MacBin_AddResource uses them up even when it is refused
 * before anything is inserted.  Without it a
 * resource gets MACBIN_ATTR_PURGEABLE.  Attributes still pending at
 * MacBin_Close are dropped: the owner resource and bundle keep the default.
 * Returns 0 = set, 1 = not a writing channel or a value outside 0 to 255
 * (reported; the next resource keeps the default).
 *
 *   MacBin_SetNextAttributes(ch, MACBIN_ATTR_PROTECTED | MACBIN_ATTR_PRELOAD);
 *   MacBin_AddResource(ch, "STR  130 \"\" ~Hello"); */
int32_t MacBin_SetNextAttributes(MacBinChannel *channel, int32_t attributes);

/* Writer: adds the owner resource and the bundle, writes the map, completes
 * the header and closes the file - or removes it when any write of the
 * process failed.  A file MacBin_OpenW opened is then put in place (a
 * failure to do so is reported, severity 4, "Could not put output file
 * NAME in place: REASON", and leaves nothing); a host's output
 * (MacBin_OpenWOutput) waits for the host to commit it.  The owner resource (type: the creator, ID 0, a Pascal
 * string of the owner text) is added only when the host inserted none: a
 * resource of the creator's type with ID 0 that the host inserted (a file
 * carried across brings its own) is the owner resource.  Before it builds
 * the bundle it warns (severity 2, no error recorded) of each FREF whose
 * icon family has no ICN# ("FREF 128 gives 'TEXT' files the icon family
 * 128, but the file has no ICN# 128 (only icl8): the bundle lists ICN#
 * resources, and the Finder shows a generic icon") and of each icon family
 * no FREF names ("icon family 129 (ICN#, icl8) is not in the bundle: no
 * FREF names icon ID 129").  Reader: releases the channel.  The channel is
 * gone after. */
void MacBin_Close(MacBinChannel *channel);

/* Inserts one resource from `length` bytes at `data` (null with length 0:
 * an empty resource, which a resource line cannot make), with its type (1 to
 * 4 characters, padded with blanks), ID (-32768 to 32767), name (MacRoman, at
 * most 255 characters; null or "" for none) and attribute byte (0 to 255,
 * MACBIN_ATTR_* bits; pass MACBIN_ATTR_PURGEABLE for the writer's default).
 * The same checks and map as a resource line: the channel becomes current
 * and its data fork ends; the progress method hears of the resource.  Repeated
 * IDs are kept.  MacBin_SetNextAttributes does not apply (and is dropped).
 * Returns 0 = inserted, 1 = refused and reported: not a writing channel, an
 * argument out of range, a fork set whole, no room left in the map (its
 * 16-bit offsets, 24-bit data offsets) or no memory.  MacBin_CheckResourceData
 * asks first, without writing, and keeps room for what MacBin_Close adds.
 *
 *   static const uint8_t text[] = {5, 'H', 'e', 'l', 'l', 'o'};
 *   MacBin_AddResourceData(ch, "STR ", 128, "Greeting", MACBIN_ATTR_PURGEABLE,
 *                          text, sizeof text); */
int32_t MacBin_AddResourceData(MacBinChannel *channel, const char *type, int32_t id,
                               const char *name, int32_t attributes, const void *data,
                               int32_t length);

/* Whether MacBin_Close adds the owner resource and the bundle: 1 (the
 * default) as described there, 0 for none, so that the file holds exactly
 * the resources the host inserted; a file given none then has no resource
 * fork at all (length 0).  Must come before the data fork is complete (as
 * MacBin_SetResourceFork).  Returns 0 = set, 1 = refused and reported (not a
 * writing channel, a value other than 0 and 1, the data fork complete). */
int32_t MacBin_SetFinderResources(MacBinChannel *channel, int32_t on);

/* The resource map's own attribute word (0 to 0xFFFF; 0 by default), for a
 * file carried across.  Returns 0 = set, 1 = refused and reported. */
int32_t MacBin_SetMapAttributes(MacBinChannel *channel, int32_t attributes);

/* The file's whole Finder information as the classic 32-byte block (all
 * numbers big-endian): FInfo = type (4), creator (4), flags (2), the icon's
 * place in its window (vertical 2, horizontal 2), folder (2); FXInfo (16) =
 * icon ID (2), 6 reserved, script (1), extended flags (1), comment (2),
 * put-away folder (4).  Type, creator and flags replace the channel's.
 * AppleSingle and AppleDouble store the block whole; MacBinary type,
 * creator, flags, place and folder; BinHex type, creator and flags
 * (MacBin_GetFinderInfoBytes reads it back).  Returns 0 = set, 1 = refused
 * and reported (not a writing channel, null). */
int32_t MacBin_SetFinderInfoBytes(MacBinChannel *channel, const uint8_t finder_info[32]);

/* Finder resource write handlers; register under "vers", "FREF", "Bndl". */
int32_t add_vers(MacBinChannel *channel, const char *text);
int32_t add_FREF(MacBinChannel *channel, const char *text);
int32_t close_BNDL(MacBinChannel *channel, const char *text);

/* ======================================================================
 * Generators
 * ==================================================================== */

/* Packs count bytes; returns the packed length.  destination needs
 * count + (count + 126) / 127 bytes. */
int32_t PackBits(const uint8_t *source, uint8_t *destination, uint32_t count);
/* Unpacks until at least count bytes are produced; returns the source bytes
 * consumed.  destination needs count + 127 bytes.  Unchecked: only for
 * trusted data (the source must hold the whole packed run). */
int32_t UnPackBits(const uint8_t *source, uint8_t *destination, int32_t count);

/* The bounded unpacker, for packed bytes read from a file: takes runs from
 * the `packed_length` bytes at `packed` until exactly `length` bytes are in
 * `unpacked`, never reading or writing outside either.  Returns 1 when
 * `length` bytes were produced, 0 when the packed bytes ended first, -1
 * when a run would cross the end of `unpacked` (that run is not written),
 * -2 for a null pointer or a negative length.  *consumed (packed bytes
 * read, run headers included) and *produced are set unless null; after -1
 * they stop before the run that did not fit. */
int32_t MacBin_UnpackBits(const uint8_t *packed, int32_t packed_length, uint8_t *unpacked,
                          int32_t length, int32_t *consumed, int32_t *produced);

/* PICT preview write handler; param "IMAGE RESOLUTION [MASK]".  Uses the
 * image-access methods 1-10, 15, 16: the host's own, or the library's,
 * which MacBin_SetImageFileReader installs, and which the handler installs
 * itself when it finds none of them installed (they read PNG and netpbm
 * files with the built-in reader).  A parameter of another form, or a
 * resolution that is not a whole number from 1 to 9600 pixels per inch,
 * is reported (severity 3, MACBIN_ERR_ARGUMENT: "PICT wants 'IMAGE
 * RESOLUTION [MASK]', e.g. 'preview.png 72 mask.pbm'") before anything is
 * written.  Returns 1 = complete, 0 = not. */
int32_t MacBin_Add_PICT(MacBinChannel *channel, const char *param);

/* Icon builders from single-channel CT images; param = the CT file name.
 * Pixels are used as they stand (the image must have the icon's size):
 * CT_to_icon8 one byte per pixel; CT_to_icon4 each pixel's high nibble, two
 * per byte; CT_to_ICN one bit per pixel (1 = non-zero pixel, leftmost pixel
 * in bit 7), rows top to bottom, then a fully set mask (32 bytes of 0xFF for
 * a 16-pixel-wide image, 128 for any other).  Each writes nothing and
 * returns 0 when the image cannot be used (the reason is printed on
 * standard output), else writes the icon and returns 1. */
int32_t CT_to_icon8(MacBinChannel *channel, const char *path);
int32_t CT_to_icon4(MacBinChannel *channel, const char *path);
int32_t CT_to_ICN(MacBinChannel *channel, const char *path);

/* ICN# or ics# data whose mask comes from a second CT image: the icon's
 * bits from the image at `path`, exactly as CT_to_ICN makes them, then the
 * mask's bits, made the same way from the image at `mask_path`: a mask
 * pixel that is non-zero is inside the mask (the icon is opaque there), a
 * pixel of 0 is outside (transparent).  A host turning an alpha channel into
 * the mask image writes 255 (or any non-zero value) where alpha is at least
 * one half and 0 elsewhere, one byte per pixel, as tessel_write_ct does.
 *   Both images are single-channel, 1 to 255 rows of 8 to 248 pixels, a
 * multiple of 8; the mask image must have exactly the icon image's rows and
 * width.  The data are rows x width / 8 bytes of icon, then as many of mask:
 * 128 + 128 bytes for 32 x 32 (ICN#), 32 + 32 for 16 x 16 (ics#).
 *   Returns 1 when the data were written; 0, with nothing written, when
 * either image cannot be used or the sizes differ (the reason is printed on
 * standard output, as CT_to_ICN prints its own).  A null or empty mask_path
 * gives CT_to_ICN's data, with its fully set mask.  Not a write handler
 * itself: a host's handler for ICN#/ics# calls it with the current channel
 * (unused, as by CT_to_ICN) and the two file names. */
int32_t CT_to_ICN_masked(MacBinChannel *channel, const char *path, const char *mask_path);

/* ======================================================================
 * Reader (queries follow 1 = success, 0 = failure unless said otherwise)
 * ==================================================================== */

/* Opens a file in any container the library reads and reads its facts and
 * resource map.  The container is told by the content, in this order:
 *   1. AppleSingle and AppleDouble by their magic numbers (an AppleDouble
 *      header file "._NAME" given by its own name takes the file NAME beside
 *      it as its data fork when there is one; else its data fork is empty);
 *   2. BinHex 4.0 by its opening line "(This file must be converted ..."
 *      within the first 64 KiB, with no NUL byte before it (mail headers
 *      may come first); the encoded text starts at the first line after it
 *      that starts with ':';
 *   3. MacBinary I, II and III by the checks every MacBinary header meets
 *      (byte 0 and byte 82 zero, a name of 1 to 63 characters);
 *   4. a bare resource fork (MACBIN_FORMAT_RSRC): a fork header whose data
 *      and map lie inside the file, apart, and a map header that agrees;
 *      named after the file (without ".rsrc"), with no data fork;
 *   5. any other file is the data fork of an AppleDouble pair when an
 *      AppleDouble header file "._NAME" lies beside it (same folder);
 *   6. any other file still is read as MacBinary, its first 128 bytes as
 *      the header (as this reader always has: hosts judge such files).
 * Returns the read channel, or null after reporting why (severity 3): the
 * file cannot be opened or read, it is too short for its header (MacBinary:
 * 128 bytes; AppleSingle and AppleDouble: the 26-byte header and the entry
 * table, with the name, Finder info and dates entries inside the file and
 * at most 64 KiB after the table), its header is damaged (an unknown
 * AppleSingle version, an entry listed twice, a fork longer than
 * 0x7FFFFFFF; a BinHex header whose CRC does not match or that names no
 * file), or the file does not hold the whole data fork (MacBinary: shorter
 * than 128 + the data fork length; AppleSingle: the data fork entry past
 * the end; BinHex: the text ends, or stops at a character outside the
 * alphabet, before the data fork and its CRC).  A BinHex fork whose CRC
 * does not match opens with a warning and crc_state 0.
 *
 * BinHex is decoded once, here, into a private temporary file (removed
 * from its folder at once: nothing stays behind) holding the data fork
 * from its first byte and the resource fork right after it; the channel's
 * `file` is that file, and the text is read in pieces, so memory stays
 * small whatever the file's size.
 *
 * A damaged resource fork does not refuse the file: when the file ends
 * before the resource fork does (128 + the data fork length rounded up to
 * a multiple of 128, + the resource fork length), or the fork's header or
 * map fails a check (a part outside the file or the map, counts the map
 * cannot hold), the channel opens without resources, as one of a file
 * without a resource fork: type_count 0, types null, no names, rdata_pos,
 * map_pos, rdata_length and map_length 0; every query answers "none" and
 * MacBin_ReadResourceData has no reference to accept.  The header and the
 * data fork read as usual, and MacBinFileInfo.rsrc_state is -1.  One
 * warning (severity 2) says what was not read and why, for example
 * "Resource fork cut short: the file ends at 200, the resource fork at 640;
 * no resources read" (for BinHex: "Resource fork cut short: the BinHex text
 * holds 10 of its 300 bytes; no resources read").  The same holds for the
 * resource fork of every container.  rsrc_start and rsrc_length stay as the header gives
 * them (rsrc_length at most 0x7FFFFFFF).
 *
 * A map (or resource data) that runs past the fork's length into bytes the
 * file still holds (a MacBinary file's padding, say) is read all the same,
 * with a warning (severity 2, MACBIN_ERR_DAMAGED): "Resource fork runs past
 * its length: its map ends 300 bytes after its start, its length is 294
 * bytes".  The fork keeps the header's length: resources inside it read as
 * usual, data past it is refused, and MacBin_ReadResourceFork gives the
 * header's length, which then does not hold its own map (a host copying the
 * fork whole checks map_pos + map_length against rsrc_start + rsrc_length).
 * A file without a resource fork gives the notice "no resources in file"
 * (severity 1) through the message method. */
MacBinChannel *MacBin_OpenR(const char *path);

/* The container MacBin_OpenR would read `path` as, told by its content in
 * the order above, without opening it for reading or reporting anything:
 * MACBIN_FORMAT_CLASSIC, _II or _III for a file that meets the MacBinary
 * checks (by its header's version), _APPLESINGLE, _APPLEDOUBLE (a header
 * file, or a plain file with a "._NAME" header file beside it), _BINHEX or
 * _RSRC; 0 for a file that is none of them (MacBin_OpenR still reads it as
 * MacBinary: step 6), -1 when it cannot be opened or read.  Hosts use it to
 * say "not a Macintosh file" rather than pass on complaints about the forks
 * of a file that never was one. */
int32_t MacBin_IdentifyFile(const char *path);

/* Where the forks lie: the offset of the fork's first byte and its length.
 * The resource fork always lies in the channel's `file`, the file read
 * handlers are positioned in; the data fork in the same file except for
 * AppleDouble.  By container:
 *   MacBinary    data 128 in the file; resource fork after the data fork,
 *                on the next multiple of 128 (rsrc_start);
 *   AppleSingle  both where their entries say, in the file (0 and 0 for
 *                a fork without an entry);
 *   AppleDouble  data 0 in the data file (NAME), the whole of it; resource
 *                fork where its entry says in the header file "._NAME",
 *                which is the channel's `file`;
 *   BinHex       data 0 and the resource fork right after the data fork,
 *                in the decoded form (the channel's private `file`, see
 *                MacBin_OpenR); the text itself has no fork offsets;
 *   RSRC         data 0 with length 0; the resource fork 0, the whole file.
 * MacBin_ReadDataFork, MacBin_ReadResourceFork and MacBin_ReadResourceData
 * know all of this: hosts that read through them need none of it. */
void MacBin_GetDataBlockParams(MacBinChannel *channel, int32_t *offset, int32_t *length);
void MacBin_GetResourceBlockParams(MacBinChannel *channel, int32_t *offset, int32_t *length);
void MacBin_GetFinderInfo(MacBinChannel *channel, MacBinFinderInfo *info);
/* Number of types. */
int32_t MacBin_GetNrTypes(MacBinChannel *channel);
/* Resources of the last type entry matching `type` (0 when none). */
int32_t MacBin_GetNrResources(MacBinChannel *channel, const char *type);
/* Copies the 4 characters of type `index` (no NUL) and returns index; 0 when
 * index is out of range. */
int32_t MacBin_GetIndType(MacBinChannel *channel, char *buffer, int32_t index);
/* Fetches the index-th resource of `type` (see MacBin_GetResource2). */
int32_t MacBin_GetIndResource(MacBinChannel *channel, const char *type, int32_t index);
/* Finds a resource by name (when name is not null) or by ID, positions the
 * file at its data and calls the read handler of the type's processor. */
int32_t MacBin_GetResource2(MacBinChannel *channel, const char *type, int32_t id,
                            const char *name);
/* 1 when the resource exists. */
int32_t MacBin_CheckResource2(MacBinChannel *channel, const char *type, int32_t id,
                              const char *name);
/* Resources of the first matching type, or those with low <= ID <= high
 * (unless low and high are both 0).  A range whose high end is above 32767
 * compares the IDs as stored (0 to 65535); any other compares them signed
 * (-32768 to 32767), so -16455 to -16455 counts a custom icon's family. */
int32_t MacBin_GetResourceCount(MacBinChannel *channel, const char *type, int32_t low,
                                int32_t high);

/* ---- Reading for hosts ------------------------------------------------------
 * These four work on every file MacBin_OpenR accepts, with or without a
 * resource fork, and with one it did not read (rsrc_state -1).  None of
 * them calls a read handler or reports through the message method, and none
 * moves the channel's `file` or changes its `cur_*` fields, so they mix
 * freely with the queries above.  Every offset and
 * length they use comes from the file and is checked against the fork and
 * the file before a byte is read.
 *
 *   MacBinFileInfo info;
 *   if (MacBin_GetFileInfo(in, &info) == 1 && info.rsrc_state == 1) {
 *     const MacBinTypeEntry *t = &in->types[0];
 *     int32_t length = MacBin_ReadResourceData(in, &t->refs[0], NULL, 0);
 *     ...  (a buffer of `length` bytes, then the same call with it)
 *   }
 */

/* Fills `info` from the header of a read channel.  Returns 1, or 0 (info
 * untouched) when channel or info is null or the channel is not reading. */
int32_t MacBin_GetFileInfo(MacBinChannel *channel, MacBinFileInfo *info);

/* The file's whole Finder information, the 32-byte block described at
 * MacBin_SetFinderInfoBytes, as far as the container holds it (the rest
 * zero): AppleSingle and AppleDouble as stored; MacBinary type, creator,
 * flags, place and folder, MacBinary III also the script and extended
 * flags; BinHex type, creator and flags; a bare resource fork nothing.
 * Returns 1, or 0 when the channel is not reading or the buffer is null. */
int32_t MacBin_GetFinderInfoBytes(MacBinChannel *channel, uint8_t finder_info[32]);

/* The name of `ref` (one of the channel's references) whole, up to the 255
 * characters a map holds: a name node keeps only 127 of them.  Copies
 * min(length, capacity - 1) characters and a NUL when capacity > 0, and
 * returns the name's length (0 for a resource without a name); -1 when ref
 * is not one of the channel's references, the channel is not reading, or
 * for a negative capacity or a null buffer with a non-zero capacity. */
int32_t MacBin_GetResourceName(MacBinChannel *channel, const MacBinRefEntry *ref, char *buffer,
                               int32_t capacity);

/* Copies up to `count` bytes of the data fork, from `offset` (0 = its first
 * byte), into `buffer`.  Returns the number of bytes copied: fewer than count
 * only at the end of the fork, and 0 at offset = the fork's length.  Returns
 * -1 for a negative offset or one past the fork's length, a negative count,
 * a null buffer with a non-zero count, a channel that is not reading, and
 * bytes of the fork that the file does not hold or cannot deliver. */
int32_t MacBin_ReadDataFork(MacBinChannel *channel, int64_t offset, void *buffer,
                            int32_t count);

/* Copies up to `count` bytes of the resource fork, whole as the file holds
 * it (header, data and map), from `offset` (0 = its first byte), into
 * `buffer`: what a host needs to carry a fork across unchanged (see
 * MacBin_SetResourceFork), or to write it as a bare fork.  The fork's
 * length is MacBinFileInfo.rsrc_length, also when the map was not read
 * (rsrc_state -1).  Returns the number of bytes copied, as
 * MacBin_ReadDataFork does, and -1 for the same faults; bytes of a cut
 * fork that the file does not hold give -1, never a short count. */
int32_t MacBin_ReadResourceFork(MacBinChannel *channel, int64_t offset, void *buffer,
                                int32_t count);

/* The data of `ref`, which must be one of the channel's references
 * (&channel->types[t].refs[r]; references that share a type and ID each give
 * their own data).  Returns the resource's length and copies the first
 * min(length, capacity) bytes into `buffer`; with a null buffer and capacity
 * 0 it only gives the length.  Returns -1 when ref is not one of the
 * channel's references, when its length word or its data lies outside the
 * resource fork or the file, when the file cannot be read, and for a
 * negative capacity or a null buffer with a non-zero capacity. */
int32_t MacBin_ReadResourceData(MacBinChannel *channel, const MacBinRefEntry *ref, void *buffer,
                                int32_t capacity);

/* ---- Every resource at once ---------------------------------------------------
 * For hosts that pay for each call into the library (a binding to another
 * language): the whole map with names, stored lengths and, as far as the
 * host gives room, the stored bytes, in one call. */

/* One reference as MacBin_ListResources gives it: the pointer, then seven
 * int32 fields; 40 bytes on 64-bit machines, 32 on 32-bit ones. */
typedef struct MacBinResourceListing {
  const MacBinRefEntry *ref; /* the reference, &channel->types[t].refs[r], for the other calls */
  char type[4];              /* the type's 4 bytes as the map stores them (no NUL) */
  int32_t id;                /* signed, -32768 to 32767 (refs[].id keeps the stored form) */
  int32_t attributes;        /* the attribute byte */
  int32_t length;            /* the stored length, as MacBin_ReadResourceData gives it;
                                -1 when its length word or data lies outside the fork or file */
  int32_t name_offset;       /* where its name starts in `names`; -1 without a name, or
                                when it did not fit (name_length >= 0 then) */
  int32_t name_length;       /* 0 to 255 characters (MacRoman), -1 without a name */
  int32_t data_offset;       /* where its stored bytes start in `data`; -1 when not copied */
} MacBinResourceListing;

/* Lists the references of a reading channel in map order (type after type
 * as channel->types holds them, each type's references in order) from the
 * `first`-th one (0 = the first) into `entries`, at most `capacity` of them.
 * The names go into `names` one after the other, without NULs, while they
 * fit (names_capacity bytes; a name needs one byte more than its length
 * while it is copied); the stored bytes of the listed resources go into
 * `data` one after the other while they fit (data_capacity bytes): from the
 * first that does not fit on, none is copied, so that a host reading in
 * batches lists again from there (an empty resource fits any area given,
 * even one of 0 bytes).  A resource whose bytes cannot be read (length -1)
 * is skipped.  Null areas with a capacity of 0 take nothing:
 * (channel, 0, NULL, 0, NULL, 0, NULL, 0) counts the references.
 *   Returns the number of references from `first` to the end of the map
 * (so entries holds min(result, capacity) of them; 0 when first is at or
 * past the end, and for a channel without resources); -1 for a channel that
 * is not reading, a negative first or capacity, or a null area with a
 * capacity.  Never reports through the message method; neither moves the
 * channel's file nor changes its cur_* fields.  Compressed resources are
 * listed as stored (MacBin_ReadResourceUncompressed gives their contents).
 *
 *   int32_t count = MacBin_ListResources(in, 0, NULL, 0, NULL, 0, NULL, 0);
 *   MacBinResourceListing *list = malloc(count * sizeof *list);
 *   char names[65536];
 *   MacBin_ListResources(in, 0, list, count, names, sizeof names, NULL, 0); */
int32_t MacBin_ListResources(MacBinChannel *channel, int32_t first, MacBinResourceListing *entries,
                             int32_t capacity, char *names, int32_t names_capacity, void *data,
                             int32_t data_capacity);

/* ---- Compressed resources ---------------------------------------------------
 * The classic system stores some resources compressed: the attribute byte
 * has bit 0x01 set and the data starts with the signature 0xA89F6572 and an
 * 18-byte header (header version 8 or 9, the uncompressed length, the ID of
 * the decompressor).  Decompressors 0 and 1 (byte codes) and 2 (words from
 * a table: the default one or the resource's own, tagged with literal words
 * or not) are read; the contents may be up to 0xFFFFFF bytes long.  The
 * attribute bit decides, as it does for the Resource Manager: data with the
 * bit set but without the signature (real files hold such resources) is
 * read as plain stored bytes, and so is data with the signature whose bit
 * is clear.  MacBin_ReadResourceData keeps giving the stored bytes. */

/* A compressed resource's facts, from MacBin_GetResourceCompression. */
typedef struct MacBinCompressionInfo {
  int32_t decompressor;        /* decompressor ID: 0, 1 and 2 are read; others are refused on reading */
  int32_t header_version;      /* 8 or 9 */
  int32_t uncompressed_length; /* the contents' length, from the header */
  int32_t stored_length;       /* the bytes the file stores, header included */
} MacBinCompressionInfo;

/* 1 = stored compressed (info filled); 0 = stored plain (info: decompressor -1, header_version 0,
   both lengths the stored length); -1 = not one of the channel's references, unreadable, or a damaged
   compression header (info zeroed).  Never reports through the message method.
   A damaged header is one cut short, with a header length other than 18
   (or 0, which some files hold), a version other than 8 and 9, its own
   "compressed" bit clear, or an uncompressed length over 0xFFFFFF.  A null
   `info` gives -1.  Only the header is read: a damaged stream after a sound
   header still gives 1, and MacBin_ReadResourceUncompressed refuses it. */
int32_t MacBin_GetResourceCompression(MacBinChannel *channel, const MacBinRefEntry *ref,
                                      MacBinCompressionInfo *info);

/* The resource's contents: decompressed when it is stored compressed, else the stored bytes.  Returns the
   contents' length and copies min(length, capacity) bytes; with a null buffer or capacity 0 it returns the
   length it needs; -1 with one reported reason (message method, severity 3, naming the resource type and ID)
   for a damaged compressed resource or an unknown decompressor (naming its ID), and for what
   MacBin_ReadResourceData refuses.
   A compressed resource is decompressed whole also when only its length is
   asked for, so that a damaged one is refused by that call already; the
   channel keeps the last one it decompressed (until it is closed), so that
   the call for the bytes that follows does not decompress it again.  A
   stream is damaged when it ends early, would write past the uncompressed
   length or stops short of it, or uses a code, a remembered literal or a
   table entry that is not there.  Reasons read for example "Resource ICN#
   128 cannot be read: damaged compressed resource: compressed data ends
   early" and "Resource snd  1 cannot be read: unknown decompressor 3".
   Like MacBin_ReadResourceData it neither moves the channel's file nor
   changes its cur_* fields. */
int32_t MacBin_ReadResourceUncompressed(MacBinChannel *channel, const MacBinRefEntry *ref, void *buffer,
                                        int32_t capacity);

/* ---- The Finder's icon ------------------------------------------------------
 * Which resource the Finder would show as the icon of a file opened for
 * reading, so that every host shows the same one.  The rules, in order:
 *   1. MACBIN_FINDER_ICON_CUSTOM: the file's custom icon, the family with ID
 *      -16455, when its Finder flags (MacBinFileInfo.finder_flags) have the
 *      custom-icon bit 0x0400 set;
 *   2. MACBIN_FINDER_ICON_BUNDLE: the family the file's own bundle gives its
 *      file type: of the BNDL resources whose owner is the file's creator
 *      (map order), the first whose FREF list names an FREF resource of the
 *      file's type; that FREF's local icon ID, looked up in the bundle's
 *      ICN# list, is the family's ID.  The has-bundle flag is not asked
 *      for: containers and copies often lose it;
 *   3. MACBIN_FINDER_ICON_PICTURE: the PICT resource with the largest frame
 *      (pixel area; the first in map order of equals), for files that carry
 *      a preview rather than an icon.
 * Of a family the largest member that can be drawn is taken: icl8, icl4,
 * ICN#, then the small ics8, ics4, ics#.  A member can be drawn when its
 * contents (decompressed when stored compressed) hold the icon's pixels and
 * the mask it borrows (ICN# for icl8 and icl4, ics# for ics8 and ics4), if
 * there, reads; a family none of whose members can be drawn is passed over
 * and the next rule asked, and so is a picture whose frame is empty or
 * whose first 10 bytes cannot be read.
 *   Returns the rule that chose (1, 2 or 3), with `type` (4 characters and
 * a NUL), `id` (signed, as users write it: -16455) and `ref` (one of the
 * channel's references, for MacBin_DecodeResource) set; each may be null.
 * Returns MACBIN_FINDER_ICON_NONE (0) when no rule finds one (the host then
 * draws an icon of its own), and -1 for a channel that is not reading
 * (null included) or when memory ran out (MACBIN_ERR_MEMORY is then the
 * last error); `type` is then empty, `id` 0 and `ref` null.  Whether a
 * picture draws is known only once it is drawn: a host whose
 * MacBin_DecodeResource refuses the chosen one draws its own icon.  Never
 * reports through the message method, nor moves the channel's file or
 * changes its cur_* fields.
 *
 *   char type[5]; int32_t id; const MacBinRefEntry *ref;
 *   if (MacBin_FindFinderIcon(in, type, &id, &ref) > 0 &&
 *       MacBin_DecodeResource(in, ref, &pixels, error) == 1) ... */
enum {
  MACBIN_FINDER_ICON_NONE = 0,
  MACBIN_FINDER_ICON_CUSTOM = 1,
  MACBIN_FINDER_ICON_BUNDLE = 2,
  MACBIN_FINDER_ICON_PICTURE = 3
};
int32_t MacBin_FindFinderIcon(MacBinChannel *channel, char type[5], int32_t *id, const MacBinRefEntry **ref);

/* ======================================================================
 * Decoding: what icons, cursors, patterns, colour tables and QuickDraw
 * pictures look like, as pixels (results: 1 = success, 0 = failure)
 * ==================================================================== */

/* An image made by the decoders: `width` x `height` pixels of 4 bytes each
 * (red, green, blue, alpha; 8 bits a channel, straight alpha: 0 transparent,
 * 255 opaque), rows top first, `width * 4` bytes a row.  `hot_x`/`hot_y` is
 * a cursor's hot spot (from the image's left and top), 0 for everything
 * else.  The decoders allocate `rgba`; give it back with MacBin_FreePixels.
 * 20 bytes on 32-bit machines, 24 on 64-bit ones. */
typedef struct MacBinPixels {
  int32_t width;  /* pixels a row */
  int32_t height; /* rows */
  int32_t hot_x;  /* cursor hot spot, else 0 */
  int32_t hot_y;
  uint8_t *rgba;  /* width * height * 4 bytes, owned by the caller once filled */
} MacBinPixels;

/* Decodes the resource `ref` of a reading channel (&channel->types[t].refs[r])
 * by its type:
 *   icons   ICN# ICON SICN ics# icm# kcs# icl4 icl8 ics4 ics8 icm4 icm8 kcs4
 *           kcs8 (16 and 256 colours from the standard system tables; the
 *           mask from the family's mask resource with the same ID: ICN# for
 *           ICN#/icl4/icl8, ics#, icm# and kcs# likewise; opaque without one)
 *           and cicn (its own colour table, mask and bitmap);
 *   cursors CURS and crsr, with mask and hot spot; pixels that invert the
 *           screen are drawn black;
 *   patterns PAT , PAT#, ppat, ppt# (8 x 8 tiles, opaque);
 *   colours clut and pltt, as a swatch of 8 x 8 squares, 16 to a row;
 *   fonts   FONT and NFNT: the characters '!' to '~' in a row, black on
 *           white, in a one-pixel border;
 *   PICT    as MacBin_DecodePicture, its text in the channel's own fonts
 *           first (see MacBin_AddFontFile).
 * SICN, PAT# and ppt# give one image: their items side by side, left to
 * right.  Returns 1 with `pixels` filled (`error` then as MacBin_DecodePicture
 * leaves it for PICT, else empty); 0 with `pixels` zeroed and a one-line
 * reason in `error` (type not supported, data cut short or damaged, the
 * opcode that stopped a picture).  A resource stored compressed is decoded
 * from its contents (MacBin_ReadResourceUncompressed), and so is the mask
 * it looks up; one that cannot be decompressed is refused ("ICN# 128: its
 * compressed data is damaged", "... unknown decompressor 3", or for its mask
 * "ICN# 128: its mask ICN# 128: ...").  Never reports through the message
 * method itself; such a refusal is also reported there, once, by
 * MacBin_ReadResourceUncompressed. */
int32_t MacBin_DecodeResource(MacBinChannel *channel, const MacBinRefEntry *ref,
                              MacBinPixels *pixels, char error[128]);

/* Whether MacBin_DecodeResource draws resources of `type` (its four bytes
 * as the map stores them, case and blanks counting: "PAT " but not "pat "
 * or "PAT"): 1 for the types listed above, 0 for any other and for a null
 * `type`.  A host asks before offering to draw a resource; a resource of
 * a drawn type may still be refused for its content. */
int32_t MacBin_DecodesType(const char type[4]);

/* Decodes a QuickDraw picture (version 1, version 2 and extended version 2):
 * the data of a PICT resource, or a PICT file's bytes after its 512-byte
 * header.  The canvas is white and opaque, the size of the picture frame
 * (at most 16384 x 16384 pixels); an extended version 2 picture's own
 * coordinates are scaled to its frame, which is at 72 dpi.  Drawn, clipped
 * by the clip region and placed by the origin:
 *   - pixel images of 1, 2, 4 and 8 bits with their colour tables, and of
 *     16 and 32 bits direct colour, packed or not, in a rectangle or a
 *     region, scaled from their source to their destination rectangle;
 *   - lines (with the pen's size, pattern and mode), rectangles, round
 *     rectangles, ovals, arcs, polygons and regions, framed, painted,
 *     erased, inverted and filled, and their "same" forms, in 8 x 8
 *     patterns and pixel patterns; coordinates are the lines between
 *     pixels, curved and slanted edges take the pixels whose centres they
 *     hold;
 *   - text (LongText, DHText, DVText, DHDVText) with its font, size, face
 *     (bold, italic, underline, outline, shadow, condense and extend drawn
 *     from the plain strike), mode and extra spacing, from bitmap fonts
 *     (see MacBin_AddFontFile);
 *   - in the transfer modes srcCopy, srcOr, srcXor, srcBic, their not
 *     forms and the pattern modes (a source pixel that is not white, or a
 *     set bit of a bit image or pattern, is set), blend, addPin, addOver,
 *     subPin, transparent, addMax, subOver, addMin and hilite (with OpColor
 *     and HiliteColor); other modes are drawn as copies.
 * Every other opcode (reserved ones, QuickTime-compressed images) is parsed
 * by its own length and skipped.
 *   Returns 1 when every opcode could be parsed up to the end of the
 * picture; `error` is then empty when everything was drawn, else it names
 * what was skipped, e.g. "not drawn: 0x00B0 0x8200 (QuickTime) 0x0098/mode
 * 42", or, first, where drawing stopped at the work limit ("not drawn:
 * everything from opcode 0x0090 at offset 2088 (drawing work limit)").  Returns
 * 0 with `pixels` zeroed and the reason in `error` when the picture cannot
 * be read on (data cut short, a damaged region or pixel image, an oversized
 * frame or one over MacBin_SetPictureMemoryLimit). */
int32_t MacBin_DecodePicture(const void *data, int32_t length, MacBinPixels *pixels,
                             char error[128]);

/* Frees `pixels->rgba` and zeroes the record; a null record or a zeroed one
 * is fine. */
void MacBin_FreePixels(MacBinPixels *pixels);

/* The most memory a picture's canvas may take, in bytes (4 a pixel of its
 * frame), for MacBin_DecodePicture and the PICT resources of
 * MacBin_DecodeResource: a picture whose frame needs more is refused, with
 * its size and the limit in `error`, before anything is allocated.  The
 * default, MACBIN_DEFAULT_PICTURE_BYTES (256 MiB, an 8192 x 8192 frame),
 * keeps the decoding of a hostile picture under 300 MiB; a host that
 * trusts its pictures may raise it up to 1 GiB (a 16384 x 16384 frame).
 * Drawing work is bounded apart from this: past 64 pixel visits a canvas
 * pixel (at most 2^30 visits, or 4 a pixel when that is more), a picture
 * stops drawing, and `error` names where.
 *   Sets the limit (more than 1 GiB is taken as 1 GiB) and returns the one
 * in force before; 0 or less only asks.  Process-wide, safe to call from
 * any thread. */
int64_t MacBin_SetPictureMemoryLimit(int64_t bytes);

/* Fonts for the text of pictures.  Text is drawn from the bitmap fonts
 * (FONT and NFNT resources, with the families, sizes and styles their FOND
 * resources give) of the file the picture is in (MacBin_DecodeResource),
 * then of the font files a host added here, then from a built-in bitmap
 * font, fixed-width, of the size nearest the text's.
 *   MacBin_AddFontFile takes the fonts of a reading channel (any container
 * MacBin_OpenR reads, e.g. a System file or a font suitcase), read as
 * their contents when stored compressed: they are copied, so the channel
 * may be closed afterwards.  Returns the number of
 * strikes taken (0 when it has none), or -1 for a channel that is not
 * reading.  MacBin_ClearFonts forgets them all.  Process-wide; safe to call
 * from any thread, also while pictures are being decoded (those keep the
 * fonts they started with). */
int32_t MacBin_AddFontFile(MacBinChannel *channel);
void MacBin_ClearFonts(void);
#define MACBIN_DEFAULT_PICTURE_BYTES (256 * 1024 * 1024)

/* ======================================================================
 * Thumbnails: the Finder's icon of a file, or a PICT file's picture, at a
 * size a file manager asks for, drawn the same for every host
 * ==================================================================== */

/* The sizes a thumbnail may be asked for: its largest width and height. */
#define MACBIN_THUMBNAIL_MIN_SIZE 16
#define MACBIN_THUMBNAIL_MAX_SIZE 1024

/* What a thumbnail shows; the first three are MacBin_FindFinderIcon's rules. */
enum {
  MACBIN_THUMBNAIL_CUSTOM = 1,      /* the file's custom icon */
  MACBIN_THUMBNAIL_BUNDLE = 2,      /* the icon its bundle gives its type */
  MACBIN_THUMBNAIL_PICTURE = 3,     /* its largest PICT resource */
  MACBIN_THUMBNAIL_DOCUMENT = 4,    /* the library's own document icon */
  MACBIN_THUMBNAIL_APPLICATION = 5, /* the library's own application icon (type APPL) */
  MACBIN_THUMBNAIL_PICT_FILE = 6    /* the picture of a PICT file */
};

/* What MacBin_DrawThumbnail drew, and why. */
typedef struct MacBinThumbnail {
  int32_t drawn;   /* MACBIN_THUMBNAIL_*: what the pixels show */
  int32_t rule;    /* the MacBin_FindFinderIcon rule that chose `type` `id`
                      (1 to 3), 0 when none chose a resource */
  int32_t id;      /* the chosen resource's ID, signed (-16455); 0 for none */
  char type[5];    /* the chosen resource's type, MacRoman, and a NUL; "" for none */
  char reserved[3]; /* zero */
  char note[128];  /* one line, "" when there is nothing to say: what the
                      decoder left undrawn of the resource or picture drawn
                      (as MacBin_DecodeResource leaves `error`), or, when the
                      library's own icon stands in for the chosen resource,
                      why that could not be drawn (the decoder's reason
                      without the resource's own "TYPE ID: " in front) */
} MacBinThumbnail;

/* Draws the thumbnail of a file opened for reading, at most `size` x `size`
 * pixels (MACBIN_THUMBNAIL_MIN_SIZE to _MAX_SIZE):
 *   - the resource MacBin_FindFinderIcon chooses, drawn by
 *     MacBin_DecodeResource.  An icon is enlarged by the largest whole
 *     factor that fits `size` (each of its pixels an exact square: a 32 x 32
 *     icon at 128 is 4 x 4 pixels a pixel) and centred on a transparent
 *     `size` x `size` image (left and top offsets rounded down); an icon
 *     larger than `size` is reduced as a picture is, then centred.  A
 *     picture keeps its shape and its own size when it fits; else it is
 *     reduced with an area-averaging filter (colours weighted by alpha)
 *     until its longer side is `size`, and is not centred;
 *   - else, when no rule chooses one or the chosen one cannot be drawn, the
 *     library's own icon at `size` x `size`: a page with a folded corner
 *     (a diamond for applications, file type APPL) with the file type's
 *     characters across it, in the built-in font.
 * Returns what it drew (MACBIN_THUMBNAIL_CUSTOM to _APPLICATION) with
 * `pixels` filled (give them back with MacBin_FreePixels) and `thumbnail`
 * (may be null) filled.  Returns -1, `pixels` zeroed, with the reason as
 * the thread's last error, for a channel that is not reading (null
 * included; MACBIN_ERR_STATE), a size out of range or a null `pixels`
 * (MACBIN_ERR_ARGUMENT), or when memory ran out (MACBIN_ERR_MEMORY).
 * Never reports through the message method (a resource the decoder reads
 * compressed may, as MacBin_ReadResourceUncompressed does), nor moves the
 * channel's file or changes its cur_* fields.
 *
 *   MacBinPixels pixels; MacBinThumbnail about;
 *   if (MacBin_DrawThumbnail(in, 128, &pixels, &about) > 0) {
 *     ... about.note[0] ? warn(about.note) : ...;
 *     MacBin_FreePixels(&pixels);
 *   } */
int32_t MacBin_DrawThumbnail(MacBinChannel *channel, int32_t size, MacBinPixels *pixels,
                             MacBinThumbnail *thumbnail);

/* Where the picture starts in the bytes of a PICT file: 512
 * (MACBIN_PICT_FILE_HEADER_BYTES) when a picture follows the file's header
 * (its version opcode, 11 01 or 00 11 02 FF, ten bytes into it), else 0
 * when the bytes start with a picture (some programs write PICT files
 * without the header), else -1 (also for null bytes or a length of 0 or
 * less).  The header wins when both hold.  The first
 * MACBIN_PICT_FILE_PROBE_BYTES decide: a host may hand only those. */
#define MACBIN_PICT_FILE_HEADER_BYTES 512
#define MACBIN_PICT_FILE_PROBE_BYTES 526
int32_t MacBin_FindPictFilePicture(const void *bytes, int64_t length);

/* What a picture's first bytes say of it: a PICT resource's data, or a PICT
 * file's bytes from the offset MacBin_FindPictFilePicture gives.  The frame
 * is as stored; the resolution is what an extended version 2 header (the
 * header opcode 0C00 with version -2) states, as 16.16 fixed-point dots per
 * inch (some writers leave it zero).  Nothing is drawn: a picture whose
 * header reads may still fail to decode. */
typedef struct MacBinPictureInfo {
  int32_t version;           /* 1 or 2 */
  int16_t top;               /* the frame */
  int16_t left;
  int16_t bottom;
  int16_t right;
  int32_t resolution_stated; /* 1 for an extended version 2 header, else 0 */
  int32_t horizontal_dpi;    /* 16.16; 0 when not stated */
  int32_t vertical_dpi;
} MacBinPictureInfo;

/* Returns 1 with `info` filled when `data` starts with a picture's size
 * word, frame and version opcode; 0 with `info` zeroed otherwise (also for
 * null data or a length below 12).  Safe from any thread. */
int32_t MacBin_GetPictureInfo(const void *data, int64_t length, MacBinPictureInfo *info);

/* Draws the thumbnail of a PICT file given whole (`length` bytes, header
 * and all): its picture, found as MacBin_FindPictFilePicture finds it and
 * drawn by MacBin_DecodePicture, at its own size when it fits `size` x
 * `size`, else reduced keeping its shape, as MacBin_DrawThumbnail reduces
 * a picture.  Returns MACBIN_THUMBNAIL_PICT_FILE with `pixels` and
 * `thumbnail` (may be null; rule, id and type empty, `note` what was left
 * undrawn) filled; -1, `pixels` zeroed, with the reason as the thread's
 * last error and in `thumbnail->note`: bytes that are no PICT file, a size
 * out of range, a null `pixels` or a negative length (MACBIN_ERR_ARGUMENT),
 * a picture that cannot be drawn (MACBIN_ERR_DAMAGED, the decoder's
 * reason), memory that ran out (MACBIN_ERR_MEMORY).  Never reports through
 * the message method. */
int32_t MacBin_DrawPictFileThumbnail(const void *bytes, int32_t length, int32_t size, MacBinPixels *pixels,
                                     MacBinThumbnail *thumbnail);

/* An area-averaging resampler over a stream of rows, the filter that
 * reduces thumbnails, for hosts that scale images of their own: each target
 * sample is the mean of the source area it covers (a size-preserving pass
 * returns the samples unchanged; enlarging repeats them), rounded to the
 * nearest.  Only one source row and one target row are held, whatever the
 * image's height, and each source row is asked for once, top first.
 *   MacBin_NewResampler takes the sizes (1 to 65535 each), the samples a
 * pixel (1 to 4, interleaved, 8 bits each; averaged each on its own: weight
 * colours by alpha beforehand when it matters) and the row source: called
 * with `argument` and a row of source_width * channels bytes to fill,
 * returning 1 when it filled it, 0 when it failed.  Returns null, with the
 * reason as the thread's last error (MACBIN_ERR_ARGUMENT, _MEMORY), for
 * sizes out of range or a null source.
 *   MacBin_ResampleRow writes the next target row (target_width * channels
 * bytes) and returns 1; 0 when the source failed (for this row and every
 * later one) or every row was given already, or for a null resampler or
 * row.  MacBin_FreeResampler frees it (null is fine).  One thread at a time
 * per resampler. */
typedef struct MacBinResampler MacBinResampler;
typedef int32_t (*MacBinRowSource)(void *argument, uint8_t *row);
MacBinResampler *MacBin_NewResampler(int32_t source_width, int32_t source_height, int32_t target_width,
                                     int32_t target_height, int32_t channels, MacBinRowSource source,
                                     void *argument);
int32_t MacBin_ResampleRow(MacBinResampler *resampler, uint8_t *row);
void MacBin_FreeResampler(MacBinResampler *resampler);

/* ======================================================================
 * Encoding: icon resources from RGBA pixels (results: the data's length,
 * -1 = refused)
 * ==================================================================== */

/* How MacBin_EncodeResource maps colours onto the system tables. */
enum {
  MACBIN_ENCODE_NEAREST = 0, /* the nearest colour of the table */
  MACBIN_ENCODE_EXACT = 1    /* only colours of the table; any other is refused */
};

/* Encodes `pixels` (RGBA as MacBin_DecodeResource gives them) as the data
 * of a resource of `type`, the inverse of MacBin_DecodeResource:
 *   ICN# ics# icm# kcs#   32 x 32, 16 x 16, 16 x 12, 16 x 16 pixels: the
 *                         black-and-white icon, then its mask;
 *   ICON                  32 x 32, black and white, no mask;
 *   SICN                  16 pixels high, a multiple of 16 wide (at most
 *                         16384: 1024 items): its items side by side, left
 *                         to right, no masks;
 *   icl4 icl8 ics4 ics8 icm4 icm8 kcs4 kcs8   the family's sizes, indices of
 *                         the standard 16- and 256-colour tables, no mask:
 *                         the decoder takes it from the # resource of the
 *                         same ID (ICN# for icl4/icl8, ics# for ics4/ics8,
 *                         ...), so encode that one from the same pixels;
 *   CURS                  16 x 16, black and white, its mask, and the hot
 *                         spot from hot_x/hot_y (0 to 15 each);
 *   cicn                  1 to 256 pixels wide and high: its mask, its
 *                         black-and-white icon, a colour table of the
 *                         colours its pixels inside the mask use (at most
 *                         256, in the order they first appear, rows top
 *                         first; every colour exact whatever `flags` says)
 *                         and its pixels at 1, 2, 4 or 8 bits, the fewest
 *                         that index the table.
 * A pixel whose alpha is 128 or more is inside the mask, any other outside;
 * alpha is not stored otherwise.  Black and white come from luminance
 * (0.299 red + 0.587 green + 0.114 blue, rounded): below 128 is black.
 * With MACBIN_ENCODE_NEAREST a colour takes the entry of the table nearest
 * to it (the smallest sum of the squared differences of red, green and
 * blue; the lowest index on a tie); with MACBIN_ENCODE_EXACT a colour that
 * is not in the table (for black and white: other than 000000 and FFFFFF)
 * is refused, naming it and its place.  The colour of a pixel outside the
 * mask is not looked at.  Decoding gives back, for an image whose colours
 * are in the tables: each pixel inside the mask as it was (alpha 255); each
 * pixel outside the mask as 0, 0, 0, 0 (transparent black) where the type
 * has a mask (for the colour icons, when their # resource is there), and
 * white where it has none (ICON, SICN, and the colour icons without their
 * # resource).  hot_x/hot_y are read for CURS only.
 *   Returns the data's length and copies min(length, capacity) bytes into
 * `buffer`; with a null buffer and capacity 0 only the length; `error`
 * (which may be null) is then emptied.  Returns -1, with a one-line reason
 * in `error`, for a type it does not encode, an image of the wrong size, a
 * colour outside the table asked to be exact, a cicn of more than 256
 * colours, a hot spot outside the cursor, unknown flags, null or empty
 * pixels, and a negative capacity or a null buffer with a non-zero
 * capacity; nothing is copied then.  Never reports through the message
 * method.
 *
 *   MacBinPixels icon = {32, 32, 0, 0, rgba};   (32 x 32 x 4 bytes)
 *   uint8_t icn[256], icl8[1024];
 *   MacBin_EncodeResource("ICN#", &icon, MACBIN_ENCODE_NEAREST, icn, sizeof icn, error);
 *   MacBin_EncodeResource("icl8", &icon, MACBIN_ENCODE_NEAREST, icl8, sizeof icl8, error);
 *   MacBin_AddResourceData(ch, "ICN#", 128, NULL, MACBIN_ATTR_PURGEABLE, icn, sizeof icn);
 *   MacBin_AddResourceData(ch, "icl8", 128, NULL, MACBIN_ATTR_PURGEABLE, icl8, sizeof icl8); */
int32_t MacBin_EncodeResource(const char *type, const MacBinPixels *pixels, int32_t flags, void *buffer,
                              int32_t capacity, char error[128]);

/* CT samples, one byte a pixel in rows top first, from RGBA pixels, as the
 * icon builders read CT images.  Each pixel is first folded over white by
 * its alpha (a transparent pixel is white); then:
 *   MACBIN_SAMPLES_MAC256  the index of the nearest colour of the system's
 *                          256-colour table (for icl8, ics8)
 *   MACBIN_SAMPLES_MAC16   the index of the nearest colour of the 16-colour
 *                          table, in the high four bits (for icl4, ics4)
 *   MACBIN_SAMPLES_GREY    the amount of ink: 255 minus the luminance
 *                          (0.299 red + 0.587 green + 0.114 blue, rounded)
 *   MACBIN_SAMPLES_MONO    255 for a luminance below 128, else 0 (for ICN#)
 * Nearest as in MacBin_EncodeResource.  Returns 1 with width * height
 * samples in `samples`; 0 with the reason as the thread's last error
 * (MACBIN_ERR_ARGUMENT: a null record or buffer, an empty image, a kind not
 * listed, a capacity below width * height). */
enum {
  MACBIN_SAMPLES_MAC256 = 0,
  MACBIN_SAMPLES_MAC16 = 1,
  MACBIN_SAMPLES_GREY = 2,
  MACBIN_SAMPLES_MONO = 3
};
int32_t MacBin_PixelsToSamples(const MacBinPixels *pixels, int32_t kind, uint8_t *samples, int64_t capacity);

/* ======================================================================
 * Image files: pictures and icons from PNG, netpbm and CT files, and more
 * ==================================================================== */

/* The library reads PNG files (when it was built with libpng) and netpbm
 * files (PBM, PGM and PPM, plain and raw) itself, and CT files; a host may
 * register a small reader of its own for other formats, or to read these
 * its own way.  The readers are asked in this order: the host's reader,
 * when one is registered; the built-in reader, when there is none or the
 * host's answers MACBIN_IMAGE_NOT_MINE; for icons, CT last.  PICT lines
 * (MacBin_Add_PICT), icon lines (MacBin_Add_Icon) and MacBin_ReadImageFile
 * thus take PNG and netpbm files with no reader registered.  The built-in
 * reader takes a file by its first byte (0x89 PNG, 'P' netpbm) and calls
 * any other file, and an empty one, not its own; it refuses sides over
 * 65535 pixels, and interlaced PNG files whose decoded samples exceed
 * 256 MiB (they are decoded whole).  It reduces 16-bit samples to 8 bits,
 * expands palettes and grey below 8 bits, turns tRNS into alpha, takes the
 * resolution of a pHYs chunk in pixels per metre, and sets one_bit for a
 * PBM and a 1-bit grey PNG without tRNS.  A build without libpng refuses a
 * PNG file with the reason "this build of the library reads no PNG files
 * (it was built without libpng)".  MacBin_Init and MacBin_Reset leave the
 * built-in reader in place.
 *
 * The reader's open fills a MacBinImageFileInfo.  Rows are 8-bit samples,
 * interleaved, top row first: 1 grey, 2 grey + alpha, 3 RGB, 4 RGBA; grey
 * and colour samples are light intensities (0 = black), alpha 255 opaque. */
#define MACBIN_IMAGE_REASON_BYTES 256

typedef struct MacBinImageFileInfo {
  int32_t width;      /* pixels a row, 1 to 65535 */
  int32_t height;     /* rows, 1 to 65535 */
  int32_t channels;   /* 1 to 4, as above */
  int32_t one_bit;    /* 1 for a bilevel source (a PBM, a 1-bit PNG), else 0; the
                         samples are 0 and 255 all the same */
  double h_res;       /* pixels per inch the file states; 0 = not stated (72 is taken) */
  double v_res;
  const char *format; /* the format's name for messages ("PNG", "PGM"); valid while
                         the image is open */
} MacBinImageFileInfo;

/* Results of the reader's open. */
enum {
  MACBIN_IMAGE_OPENED = 0,    /* `*handle` and the info are set */
  MACBIN_IMAGE_FAILED = 1,    /* a file of the reader's formats that cannot be used */
  MACBIN_IMAGE_NOT_MINE = 2   /* not a format the reader reads (icons then try CT) */
};

/* The host's image-file reader.  `open` opens the file at `path` (already
 * joined to the image directory) with `context`, fills `info` and sets
 * `*handle`; on a failure it writes a one-line reason (no path; at most
 * MACBIN_IMAGE_REASON_BYTES with the NUL) into `reason`.  `read_row` fills
 * `row` (width x channels bytes) with the next row and returns 1, or 0
 * with the reason (a damaged file; reading past the last row).  `close`
 * ends an image that open set up, whether or not every row was read.
 * `formats` names the reader's formats for messages, separated by commas
 * ("PNG, netpbm"); the library adds its own and CT to it ("JPEG, PNG,
 * netpbm or CT").  No callback may throw or longjmp through the library. */
typedef struct MacBinImageFileReader {
  const char *formats;
  void *context;
  int32_t (*open)(const char *path, void *context, MacBinImageFileInfo *info, void **handle,
                  char reason[MACBIN_IMAGE_REASON_BYTES]);
  int32_t (*read_row)(void *handle, uint8_t *row, char reason[MACBIN_IMAGE_REASON_BYTES]);
  void (*close)(void *handle);
} MacBinImageFileReader;

/* Registers the image-file reader (the record and its `formats` text are
 * copied; `context` must live as long as the registration) and installs
 * the library's image-access methods (ids 1 to 10, 15 and 16), which read
 * the files a PICT line names with it: the picture resampled (area
 * average) to the resolution the line asks for, its alpha folded over
 * white, grey sources kept grey; the mask delivered at the picture's size,
 * inside where its alpha is 128 or more or, without alpha, where it is
 * dark (luminance below 128).  Each failure is reported once (severity 3,
 * MACBIN_ERR_IMAGE) naming the file as the line gave it ("preview.png:
 * damaged PNG data: ..."); a file that fails after the builder began the
 * picture (a damaged row) leaves it as any failed image does, its size
 * word 0 and MacBin_Add_PICT returning 0.  A host that wants methods of
 * its own installs them after this call.  A PICT line that finds none of
 * the image-access methods installed (after MacBin_Init, which empties
 * the slots) installs the library's methods itself, so a host need not
 * call this to have PICT lines read image files.  Null forgets the reader
 * and leaves the slots as they are: the library's methods then read
 * through the built-in reader alone.  Process-wide, like the methods: call
 * it after MacBin_Init and before any thread starts; MacBin_Reset forgets
 * it.  Returns 0 = set, 1 = refused (a record without open,
 * read_row or close; MACBIN_ERR_ARGUMENT) or no memory (MACBIN_ERR_MEMORY),
 * with the reason as the thread's last error and nothing changed. */
int32_t MacBin_SetImageFileReader(const MacBinImageFileReader *reader);

/* The folder that relative image names (of PICT and icon lines, and of
 * MacBin_MakeIconFromFiles) start from; null or "" for the current folder
 * (the default; MacBin_Reset restores it).  The text is copied.
 * Process-wide, as the reader.  Returns 0 = set, 1 = no memory
 * (MACBIN_ERR_MEMORY; the folder stays as it was). */
int32_t MacBin_SetImageDirectory(const char *directory);

/* The data of an icon resource of `type` (ICN# ics# icl8 ics8 icl4 ics4)
 * from the image file at `image_path` and, for ICN# and ics#, the mask
 * image at `mask_path` (null or "" for none); relative paths start at the
 * image directory.  The image must have the icon's size (32 x 32, 16 x 16
 * for ics).  A file the reader opens is folded over white by its alpha and
 * takes the nearest system colour (as MacBin_EncodeResource); the mask
 * comes from the mask image (its alpha of 128 or more, or its dark pixels
 * when it has no alpha), else from the image's alpha, else it is full.  Any
 * other file is read as a CT image of one channel whose samples are stored
 * as they are: palette indices (the 16-colour ones in the high four bits);
 * for ICN# and ics#, non-zero for black, or for inside in a mask.
 *   Returns the data's length (256 ICN#, 64 ics#, 1024 icl8, 512 icl4,
 * 256 ics8, 128 ics4) and copies min(length, capacity) bytes into `buffer`;
 * with a null buffer and capacity 0 only the length.  Returns -1, with
 * nothing copied and the reason as the thread's last error, naming the
 * file as given ("mask.png: the mask must be 32x32 pixels, the image is
 * 16x16"): MACBIN_ERR_IMAGE for a file that is missing, cannot be read,
 * is damaged or has the wrong size or channels; MACBIN_ERR_ARGUMENT for
 * another type, a mask for a type without one, a null path or a negative
 * capacity.  Never reports through the message method. */
int32_t MacBin_MakeIconFromFiles(const char *type, const char *image_path, const char *mask_path,
                                 void *buffer, int32_t capacity);

/* As MacBin_MakeIconFromFiles, from an icon line's parameter text "IMAGE
 * [MASK]": one or two names, quoted when they hold blanks (the mask for
 * ICN# and ics# only); a whole text that names an existing file (from the
 * image directory) is one name, blanks and all.  A text of the wrong form
 * is MACBIN_ERR_ARGUMENT ("icl8 takes one image file (only ICN# and ics#
 * take a mask image)"). */
int32_t MacBin_MakeIconFromLine(const char *type, const char *param, void *buffer, int32_t capacity);

/* Icon write handler; register under ICN# ics# icl8 ics8 icl4 ics4:
 *   MacBin_AddProcessor("ICN#", NULL, MacBin_Add_Icon);
 *   MacBin_AddResource(ch, "ICN# 128 \"\" icon.png mask.png");
 * Writes MacBin_MakeIconFromLine's data for the channel's current type;
 * a refusal is reported (severity 3, with the last error's code) and
 * nothing is written.  Returns 1 = written, 0 = not. */
int32_t MacBin_Add_Icon(MacBinChannel *channel, const char *param);

/* File-contents write handler, for types without a processor of their own:
 *   MacBin_AddProcessor("****", NULL, MacBin_Add_FileData);
 *   MacBin_AddResource(ch, "TEXT 128 \"\" notes.txt");
 * The parameter (blanks around it dropped) names a file, from the image
 * directory when relative, whose whole contents become the resource.  The
 * file is read whole before anything is written.  A file that cannot be
 * used is reported (severity 3), naming it as the line gave it, and
 * nothing is written: no name (MACBIN_ERR_ARGUMENT: "TEXT needs a file
 * whose contents become the resource"), no such regular file, one that
 * cannot be opened or read (MACBIN_ERR_IO: "notes.txt: no such file"), an
 * empty one (MACBIN_ERR_ARGUMENT), or one longer than
 * MACBIN_MAX_DATA_OFFSET bytes (MACBIN_ERR_LIMIT).  Returns 1 = written,
 * 0 = not. */
int32_t MacBin_Add_FileData(MacBinChannel *channel, const char *param);

/* The whole image file at `path` (relative paths start at the image
 * directory) through the readers, in their order, as RGBA pixels: grey
 * samples spread over red, green and blue, alpha kept (255 where the file
 * has none).  An image of more than `max_pixels` pixels (width x height)
 * is refused before its rows are read.  Returns 1 with `pixels` filled
 * (hot_x and hot_y 0; free them with MacBin_FreePixels); 0, with `pixels`
 * untouched and the reason as the thread's last error naming the file as
 * given: MACBIN_ERR_IMAGE ("in.png: cannot open: No such file or
 * directory", "in.pgm: damaged PGM data: netpbm data ends early", "in.png:
 * image too large (4000x3000)", "in.gif: not a PNG or netpbm
 * (PBM/PGM/PPM) image"), MACBIN_ERR_MEMORY, or MACBIN_ERR_ARGUMENT for a
 * null path or record.  When `info` is not null it receives the reader's
 * facts of an image read (channels, one_bit and resolution as the file
 * has them); its `format` then stays valid until the calling thread's next
 * MacBin_ReadImageFile.  Never reports through the message method. */
int32_t MacBin_ReadImageFile(const char *path, int64_t max_pixels, MacBinPixels *pixels, MacBinImageFileInfo *info);

/* ======================================================================
 * PNG output
 * ==================================================================== */

/* How hard MacBin_EncodePNG works.  FAST takes zlib's level 4 and only the
 * None and Sub row filters, and writes an image of at most 256 distinct
 * pixels as an indexed one (with tRNS when some are not opaque): a third
 * of the time of BEST or less, for files about as large or smaller.  BEST
 * takes libpng's defaults (level 6, every filter tried on each row) and
 * always writes RGB or RGBA. */
enum { MACBIN_PNG_FAST = 0, MACBIN_PNG_BEST = 1 };

/* Takes `length` bytes of the PNG file; returns 0 when they were taken,
 * anything else to stop the encoding (MacBin_EncodePNG then fails with
 * MACBIN_ERR_IO: the sink knows why). */
typedef int32_t (*MacBinPNGSink)(const uint8_t *bytes, size_t length, void *context);

typedef struct MacBinPNGOptions {
  int32_t compression;       /* MACBIN_PNG_FAST or MACBIN_PNG_BEST */
  int32_t text_count;        /* text chunks (tEXt), 0 for none */
  const char *const *keys;   /* text_count keywords, 1 to 79 Latin-1 characters */
  const char *const *texts;  /* text_count texts, Latin-1 */
  /* Called after each row is handed to zlib with the rows done so far (1
   * to height), or null; it must not throw or longjmp. */
  void (*rows_written)(int32_t rows, void *context);
  void *rows_context;        /* passed to rows_written */
} MacBinPNGOptions;

/* Encodes `pixels` (RGBA, as the decoders give them) as a PNG file of 8-bit
 * samples handed to `sink` piece by piece, in order: RGB when every pixel
 * is opaque, else RGBA, or indexed at the FAST setting; the text chunks
 * come ahead of the image data, so readers that stop at the first rows
 * still see them.  Null options are { MACBIN_PNG_FAST, 0 texts }.  Returns
 * 1 when the whole file went to the sink; 0 with the reason as the
 * thread's last error (the sink may have taken part of the file):
 * MACBIN_ERR_ARGUMENT ("bad image size" for no pixels or a side of 0 or
 * less; a null sink, an unknown compression, a text without key or text;
 * libpng's reason for what it refuses, a keyword too long), MACBIN_ERR_IO
 * ("the sink refused the PNG's bytes", errno's reason after it when the
 * sink left one), MACBIN_ERR_MEMORY, or
 * MACBIN_ERR_UNSUPPORTED in a build without libpng ("this build of the
 * library writes no PNG files (it was built without libpng)").  Never
 * reports through the message method.  Thread-safe: each call encodes on
 * its own. */
int32_t MacBin_EncodePNG(const MacBinPixels *pixels, const MacBinPNGOptions *options, MacBinPNGSink sink,
                         void *context);

/* ======================================================================
 * Host services: the last error, the version, MacRoman text, resource
 * descriptions and resource-line checks, so that a host (a tool, a
 * binding to another language) takes these facts from the library
 * ==================================================================== */

/* Codes of MacBin_LastError: what kind of failure the calling thread met
 * last.  Hosts branch on the code and show the text. */
enum {
  MACBIN_ERR_NONE = 0,        /* no failure recorded (or cleared since) */
  MACBIN_ERR_IO = 1,          /* a file could not be opened, read, written, closed or
                                 removed: "Writing output file", "Could not open input
                                 file", and what follows a failed write ("Removing output
                                 file(s)", "Please check file system !", a resource "not
                                 inserted" because of it) */
  MACBIN_ERR_MEMORY = 2,      /* out of memory */
  MACBIN_ERR_DAMAGED = 3,     /* the input is damaged: cut short, a CRC that does not match,
                                 a resource map or compressed resource that fails its checks
                                 (also when the file still opens without its resources) */
  MACBIN_ERR_UNSUPPORTED = 4, /* sound input in a form not read (an unknown AppleSingle
                                 version, an unknown decompressor) */
  MACBIN_ERR_LIMIT = 5,       /* a limit of the formats or the writer: the map or its name
                                 list full, data past 16 MB, a fork past 32 bits, too many
                                 FREFs, a line, name or text too long */
  MACBIN_ERR_ARGUMENT = 6,    /* an argument the call refuses: a malformed resource line or
                                 parameter, a value out of range, a missing name, text that
                                 MacRoman cannot hold, a type without a processor */
  MACBIN_ERR_STATE = 7,       /* a call out of order or on the wrong channel: no writing
                                 channel, the data fork already complete, a fork set whole */
  MACBIN_ERR_IMAGE = 8        /* an image file could not be read: missing, not a format the
                                 image-file readers or the CT reader take, damaged, of the
                                 wrong size */
};

/* The calling thread's last failure: returns its MACBIN_ERR_* code and, when
 * `text` is not null, points it at a one-line text (the reported message,
 * or the reason of a call below; "" with MACBIN_ERR_NONE) that stays valid
 * until the thread's next failure or MacBin_ClearError.  Every error the
 * library reports through the message method (severity 3 and 4, and the
 * warnings of a resource not inserted and of a damaged resource fork) is
 * recorded before the method hears of it, so a message method may ask.
 * For MACBIN_ERR_IO the text ends with the system's reason (strerror of
 * errno at the failure, unless the message already names it) and
 * MacBin_LastSystemError gives errno's value; 0 when there was none (the
 * library's own limit of a 32-bit position, say).
 *   The record is per thread and sticky, as errno is: a successful call
 * leaves it as it was.  Clear it with MacBin_ClearError before a call to
 * tell whether that call failed, or read it right after a call returned
 * its failure result. */
int32_t MacBin_LastError(const char **text);
int32_t MacBin_LastSystemError(void);
void MacBin_ClearError(void);

/* The library's version at run time, "1.7.0": VARNEL_VERSION_STRING of the
 * header it was built with.  A host compares it with the header's to find
 * a library older than the header it was compiled against.  Static text. */
const char *MacBin_Version(void);

/* MacRoman, the text of names, codes and strings in the files, to and from
 * UTF-8.  The 128 characters 0x80 to 0xFF are the classic Macintosh
 * character set (0xDB the euro sign, 0xF0 the Apple logo U+F8FF, a
 * private-use character, as every converter of this set maps it); the
 * bytes 0x00 to 0x7F are ASCII, control characters included.
 *
 * MacBin_UTF8ToMacRoman converts the NUL-terminated `utf8` text.  A letter
 * followed by combining accents (decomposed text, as some file systems
 * give names: "e" U+0301) is first composed into the precomposed letter
 * MacRoman holds (0x8E).  Returns the MacRoman length and copies
 * min(length, capacity - 1) bytes and a NUL when capacity > 0 (a null
 * buffer with capacity 0 only measures); -1 for text that is not UTF-8
 * ("byte 0xC3 at position 4 is not UTF-8") or holds a character MacRoman
 * lacks (the reason quotes it and gives its code point, "... (U+2713) is
 * not a Macintosh (MacRoman) character"), for a null text, a negative
 * capacity or a null buffer with a capacity; the reason is then the
 * thread's last error (MACBIN_ERR_ARGUMENT).  Never reports through the
 * message method.
 *
 * MacBin_MacRomanToUTF8 converts `length` bytes (NULs included) and never
 * fails on them: every byte has a character.  With replace_controls 1 the
 * control characters 0x00 to 0x1F and 0x7F become U+FFFD (for showing a
 * name on a terminal); with 0 they stay as they are.  Returns the UTF-8
 * length, copying as MacBin_UTF8ToMacRoman does; -1 (MACBIN_ERR_ARGUMENT)
 * for a null text with a length, a negative length or capacity, or a null
 * buffer with a capacity.
 *
 *   char mac[256];
 *   if (MacBin_UTF8ToMacRoman(name, mac, sizeof mac) < 0) {
 *     const char *why; MacBin_LastError(&why); ...
 *   } */
int32_t MacBin_UTF8ToMacRoman(const char *utf8, char *buffer, int32_t capacity);
int32_t MacBin_MacRomanToUTF8(const char *mac_text, int32_t length, int32_t replace_controls,
                              char *buffer, int32_t capacity);

/* A one-line description of a resource of a reading channel, in UTF-8, for
 * listings: its contents (decompressed when stored compressed) read as
 *   vers        "version 1.2.3b4 (beta), region 0, short "1.2.3", long "..."";
 *               the stage letter and revision are left out of a final
 *               release without a revision ("version 1.0 (final), ...");
 *   FREF        "file type "TEXT", local icon 0[, file name "..."]";
 *   BNDL        "owner "VARN" 0; ICN#: 0=128 1=129; FREF: 0=128 1=129";
 *   the owner resource (the file's creator as its type, ID 0)
 *               "owner resource "Made by me"";
 * with texts quoted as JSON strings (\" \\ \n \r \t, other control
 * characters as \u00XX).  Data too short for its form gives "(damaged vers
 * data)" (FREF, BNDL, "owner resource" likewise).  Copies min(length,
 * capacity - 1) characters and a NUL when capacity > 0 and returns the
 * description's length; 0 (and an empty buffer) for a resource of another
 * type; -1 when `ref` is not one of the channel's references or its
 * contents cannot be read (the reason is the last error, and reported as
 * MacBin_ReadResourceUncompressed reports it), for a negative capacity or
 * a null buffer with a capacity.  Neither moves the channel's file nor
 * changes its cur_* fields. */
int32_t MacBin_DescribeResource(MacBinChannel *channel, const MacBinRefEntry *ref, char *buffer,
                                int32_t capacity);

/* The same resources' fields as one JSON object (UTF-8, no blanks), for
 * machine-read listings; keys in this order:
 *   vers   {"version":"1.2.3b4","major":1,"minor":2,"bugfix":3,
 *           "stage":"beta","revision":4,"region":0,"short":"...","long":"..."}
 *          (stage "development", "alpha", "beta", "final" or "unknown");
 *   FREF   {"file_type":"TEXT","local_icon":0,"file_name":""};
 *   BNDL   {"owner":"VARN","owner_id":0,"types":[{"type":"ICN#",
 *           "entries":[{"local_id":0,"id":128}]},...]};
 *   the owner resource  {"owner_text":"Made by me"};
 *   data too short for its form  {"error":"damaged vers data"}.
 * Copies, returns and refuses as MacBin_DescribeResource does (0 and an
 * empty buffer for a resource of another type). */
int32_t MacBin_DescribeResourceFields(MacBinChannel *channel, const MacBinRefEntry *ref, char *buffer,
                                      int32_t capacity);

/* Checks a resource line as MacBin_AddResource takes it, writing nothing,
 * with the same parsing code that inserts it:
 *   - the line: at most MACBIN_MAX_LINE_LENGTH characters; split as
 *     MacBin_GetArguments does into TYPE ID NAME and the parameter text,
 *     whose words (each with a NUL, and for FREF the "/ID" appended to the
 *     parameter) fit the writer's 256 bytes; no quote left open among the
 *     three words (it would swallow the rest); a comment (';') or an empty
 *     line passes;
 *   - the words: a type of 1 to 4 characters (padded with blanks), an ID
 *     of an optional sign and digits from -32768 to 32767, a name (""
 *     for none; the writer keeps it whole, as long as the words fit);
 *   - "BNDL OWNER-TEXT": an owner text of at most 99 characters;
 *   - the parameter: "~TEXT" a Pascal string (not for FREF, whose data
 *     is built); else a processor registered for
 *     the type (MacBin_AddProcessor), and for the library's own:
 *       vers "M.mb S R REGION/short/long" (digits at 0, 2, 3, 7 and 9, the
 *            stage S one of D, A, B, F, a region up to 65535, two '/' and
 *            texts of at most 255 characters each: "1.00 F 0 0/1.0/Version 1.0"),
 *       FREF "TYPE ICON-ID" (4 characters, a blank, an ID: "TEXT 128").
 * With a channel (null: none) also what depends on it: a writing channel
 * whose resource fork was not set whole, room for one more FREF (the
 * bundle takes 64), and the map's room as MacBin_CheckResourceData judges
 * it: its type and reference lists, its name list, the resource's data
 * starting within the 24-bit offsets (a ~ text's whole length is known and
 * counted), all with room kept for what MacBin_Close adds.  A resource a
 * processor writes is as long as its output: ask MacBin_CheckClose after
 * inserting it.  Resources repeating a type and ID are kept by the writer
 * and pass.  What a host's own processor makes of its parameter is its own.
 * Returns 0 when the line would be taken, else the MACBIN_ERR_* code
 * (ARGUMENT, LIMIT or STATE) with the one-line reason as the thread's
 * last error, e.g. "resource ID '70000' must be a whole number from -32768
 * to 32767".  Never reports through the message method. */
int32_t MacBin_CheckResourceLine(MacBinChannel *channel, const char *line);

/* Names of the bits of a file's Finder flags and of a resource's attribute
 * byte, for listings and for texts a person edits, joined by "," in the
 * order of the bits, high bit first:
 *   Finder flags  isAlias, isInvisible, hasBundle, nameLocked,
 *                 isStationery, hasCustomIcon, hasBeenInited, hasNoINITs,
 *                 isShared, requiresSwitchLaunch; the colour label as
 *                 "color=N" (1 to 7), the reserved bits 0x0210 as
 *                 "reserved=N" (their value), then isOnDesk (0x0001);
 *   attributes    sysHeap, purgeable, locked, protected, preload, changed,
 *                 compressed (0x01: the data is stored compressed); bit
 *                 0x80 has no name and is left out.
 * "" when no named bit is set.  Each copies as MacBin_UTF8ToMacRoman does
 * and returns the text's length; -1 (MACBIN_ERR_ARGUMENT, the reason as the
 * last error) for flags outside 0 to 0xFFFF, attributes outside 0 to 255, a
 * negative capacity or a null buffer with a capacity.
 *   MacBin_ParseAttributes reads such names back (joined by ",", each bit
 * once or more, in any order) or a number from 0 to 255 of at most four
 * characters, decimal or hexadecimal after "0x" ("0x58", "88"), into
 * `*attributes`.  Returns 0, or MACBIN_ERR_ARGUMENT with the reason as the
 * last error ("unknown attribute name 'hidden' ...") leaving `*attributes`
 * as it was. */
int32_t MacBin_FinderFlagNames(int32_t flags, char *buffer, int32_t capacity);
int32_t MacBin_AttributeNames(int32_t attributes, char *buffer, int32_t capacity);
int32_t MacBin_ParseAttributes(const char *text, int32_t *attributes);

/* Dates as text.  The files hold seconds since 1 January 1904 with no time
 * zone; these calls take them as UTC.
 *   MacBin_FormatDate writes "2026-12-07T01:43:29Z" and a NUL into `text`
 * and returns 20; for 0 (what writers store for "not known") it writes ""
 * and returns 0.
 *   MacBin_ParseDate reads that form, or a decimal number of seconds since
 * 1904 (up to ten digits, at most 4294967295; "0" is "not known"), into
 * `*seconds`.  Returns 0, or MACBIN_ERR_ARGUMENT with the reason as the last
 * error for another form, a date that does not exist (30 February, 24:00)
 * or one outside 1904 to 2040, leaving `*seconds` as it was.
 *   MacBin_DateNow gives the host's clock as such a date, as MacBin_OpenW
 * stamps a new file. */
#define MACBIN_DATE_TEXT_BYTES 21
int32_t MacBin_FormatDate(uint32_t seconds, char text[MACBIN_DATE_TEXT_BYTES]);
int32_t MacBin_ParseDate(const char *text, uint32_t *seconds);
uint32_t MacBin_DateNow(void);

/* Resources as texts a person edits, both ways, in UTF-8:
 *   MACBIN_TEXT_FORM_TEXT         a 'TEXT' resource (MacRoman, CR line
 *                                 ends) as text with LF line ends;
 *   MACBIN_TEXT_FORM_STRING_LIST  a 'STR#' (a count word and that many
 *                                 Pascal strings) as one line a string,
 *                                 each ended by LF (CR LF is read too);
 *   MACBIN_TEXT_FORM_VERSION      a 'vers' as the resource line's
 *                                 parameter, "1.00 F 0 0/1.0/Version 1.0"
 *                                 (see MacBin_CheckResourceLine).
 * MacBin_ResourceToText gives the text only when MacBin_TextToResource
 * gives back the very same bytes (a TEXT with an LF byte, a list whose
 * strings hold line ends, a version whose numbers the line cannot show
 * have none), so that a host keeping the text instead of the bytes loses
 * nothing.  It copies as MacBin_MacRomanToUTF8 does (min(length, capacity
 * - 1) bytes and a NUL) and returns the text's length.
 *   MacBin_TextToResource reads `length` bytes of UTF-8 (NULs allowed) and
 * copies min(length, capacity) bytes of resource data into `buffer` (no
 * NUL); it returns the data's length.  A null buffer with capacity 0 only
 * measures.
 *   Both return -1 with the reason as the last error: MACBIN_ERR_ARGUMENT
 * for data without the form or text that cannot make it ("'✓' (U+2713)
 * is not a Macintosh (MacRoman) character", "string 3 has 300 Macintosh
 * characters, a Pascal string at most 255", "more than 65535 strings",
 * the vers line's refusal), an unknown form, a negative length or
 * capacity, or a null pointer with a length or a capacity. */
enum {
  MACBIN_TEXT_FORM_TEXT = 1,
  MACBIN_TEXT_FORM_STRING_LIST = 2,
  MACBIN_TEXT_FORM_VERSION = 3
};
int32_t MacBin_ResourceToText(int32_t form, const void *data, int32_t length, char *buffer, int32_t capacity);
int32_t MacBin_TextToResource(int32_t form, const char *text, int32_t length, void *buffer, int32_t capacity);
/* Checks a resource of `length` bytes as MacBin_AddResourceData takes it,
 * writing nothing: the arguments (type of 1 to 4 characters, ID from
 * -32768 to 32767, name of at most 255 characters, null or "" for none,
 * length not negative), and with a channel (null: the arguments alone) a
 * writing channel whose resource fork was not set whole and the room in
 * its map, keeping room for the owner resource and the bundle MacBin_Close
 * will add (MacBin_SetFinderResources, an owner resource or BNDL already
 * inserted and the FREFs decide whether it adds them):
 *   - the type and reference lists: 30 + 8 x types + 12 x resources within
 *     MACBIN_MAX_MAP_LISTS_BYTES ("the resource map is full at 5458
 *     resources: its type and reference lists must lie within 65535 bytes
 *     (MACBIN_MAX_MAP_LISTS_BYTES)");
 *   - the name list: each named resource takes its name and a length byte,
 *     within MACBIN_MAX_NAME_LIST_BYTES ("the resource names exceed the
 *     map's 65535 bytes of name list (MACBIN_MAX_NAME_LIST_BYTES): 65530 are
 *     taken, this name needs 6");
 *   - the data: the resource starts within MACBIN_MAX_DATA_OFFSET of the
 *     resource data's start, and ends where what the close adds still
 *     starts within it ("STR 5 takes 2000 bytes, which brings the resource
 *     data to 16777300 bytes; a MacBinary resource map addresses at most
 *     16777215").
 * Reasons of resources that fit alone but not with what the close adds
 * say so: "... (with the owner resource and the bundle that closing the
 * file adds) ...".  The insertion itself keeps no such room: a resource
 * that fits alone goes in, and the close then reports the owner resource
 * or bundle not inserted.
 * Returns 0 when the resource would be taken, else the MACBIN_ERR_* code
 * (ARGUMENT, LIMIT or STATE) with the one-line reason as the thread's last
 * error.  Never reports through the message method.
 *
 *   if (MacBin_CheckResourceData(ch, "ICN#", 128, NULL, n) != MACBIN_ERR_NONE) {
 *     const char *why; MacBin_LastError(&why); ...
 *   } */
int32_t MacBin_CheckResourceData(MacBinChannel *channel, const char *type, int32_t id,
                                 const char *name, int32_t length);

/* Checks, writing nothing, that what MacBin_Close would add still fits the
 * map: the owner resource and the bundle (when it adds them) in the type,
 * reference and name lists, and each starting within MACBIN_MAX_DATA_OFFSET.
 * For hosts that insert resources whose length they learn only once
 * written (a processor's output, a picture): asked right after such a
 * resource, the reason names it ("PICT 2 takes 60000 bytes, which brings
 * the resource data to 16780000 bytes; a MacBinary resource map addresses
 * at most 16777215").  Returns 0, else MACBIN_ERR_LIMIT (or STATE for a
 * channel not open for writing) with the reason as the thread's last
 * error.  Never reports through the message method. */
int32_t MacBin_CheckClose(MacBinChannel *channel);

/* Where a double quote opens that `text` never closes among its first
 * `max_words` words, as MacBin_GetArguments splits them (\" is a literal
 * quote; after max_words words the rest is taken as it stands, quotes and
 * all): an unclosed quote swallows the rest of the text into one word.
 * Returns the quote's position counted in characters from 1 (with utf8 = 1
 * each UTF-8 sequence is one character, for showing a host's own text;
 * with 0 each byte, as MacRoman), 0 when every quote closes, -1 for a null
 * text, max_words below 1 or utf8 other than 0 and 1 (MACBIN_ERR_ARGUMENT
 * as the last error).  Never reports through the message method. */
int32_t MacBin_FindUnclosedQuote(const char *text, int32_t max_words, int32_t utf8);

/* Adds one resource line as a person writes it in a script, in UTF-8:
 *   TYPE ID[(ATTRIBUTES)] NAME PARAMETERS    or    BNDL OWNER-TEXT
 * Blank lines and comments (';') add nothing.  The type, name and texts the
 * file stores are converted to MacRoman (a character it lacks is refused);
 * ATTRIBUTES are names or a number as MacBin_ParseAttributes reads them.
 * Beside what MacBin_AddResource takes, PARAMETERS may give the bytes:
 *   ~TEXT           a Pascal string (at most 255 characters);
 *   --raw FILE      the file's bytes;
 *   --text FILE     UTF-8 text stored as TEXT (MacRoman, CR line ends);
 *   --strings FILE  a string list ('STR#'), one UTF-8 line per string;
 * such lines may exceed MACBIN_MAX_LINE_LENGTH and their names may have
 * MACBIN_MAX_FULL_NAME_LENGTH characters.  Relative FILE names start at
 * `directory` (null or "": the current directory); the files a processor
 * reads are its own to find.  Every other line goes to MacBin_AddResource
 * after the checks of MacBin_CheckResourceLine, and only when the writer
 * splits it into the same words.
 * Returns MACBIN_ERR_NONE when the resource went in (or the line adds
 * nothing); a MACBIN_ERR_* code when the line is refused with nothing
 * written and nothing reported, the one-line reason as the thread's last
 * error ("missing parameter: after its name, vers wants ..."); -1 when
 * writing the resource failed, which the processor or the writer has
 * reported through the message method.  A resource that went in but leaves
 * no room for what MacBin_Close adds returns MACBIN_ERR_LIMIT with the
 * writer's figures.  `*full` (when not null) is set to 1 once the resource
 * data can take no further resource, so a host may stop trying; else 0. */
int32_t MacBin_AddScriptLine(MacBinChannel *channel, const char *line, const char *directory, int32_t *full);

/* ======================================================================
 * Checking a file: which container it is, what it holds, what is wrong
 * ==================================================================== */

/* What MacBin_CheckFile found.  Codes are stable: hosts branch on them and
 * show the texts. */
enum {
  MACBIN_FINDING_NOT_A_CONTAINER = 1, /* none of the containers the library reads */
  MACBIN_FINDING_NAME_MISLEADS = 2,   /* the name says another container than the content
                                         (an AppleDouble header file named ".rsrc") */
  MACBIN_FINDING_PACKED_TWICE = 3,    /* the data fork is itself a container (MacBinary
                                         inside BinHex, MacBinary inside MacBinary) */
  MACBIN_FINDING_FORK_IN_DATA = 4,    /* a resource fork saved as the data fork */
  MACBIN_FINDING_HEADER_DAMAGED = 5,  /* the container's header fails a check of its own */
  MACBIN_FINDING_HEADER_CRC = 6,      /* the header's CRC does not match (MacBinary II and
                                         III, BinHex) */
  MACBIN_FINDING_FORK_CRC = 7,        /* a fork's CRC does not match (BinHex) */
  MACBIN_FINDING_DATA_CUT = 8,        /* the file ends inside the data fork */
  MACBIN_FINDING_RSRC_CUT = 9,        /* the file ends inside the resource fork */
  MACBIN_FINDING_FORK_HEADER = 10,    /* the resource fork's header puts the data or the map
                                         outside the fork, or over each other */
  MACBIN_FINDING_MAP_PAST_FORK = 11,  /* the map runs past the fork's declared length (the
                                         file still holds it) */
  MACBIN_FINDING_MAP_DAMAGED = 12,    /* the map's own lists: the type list, a reference
                                         list or the name list outside the map */
  MACBIN_FINDING_DATA_RANGE = 13,     /* a resource whose data offset or length runs past
                                         the resource data */
  MACBIN_FINDING_DATA_OVERLAP = 14,   /* a resource whose data lies over another's */
  MACBIN_FINDING_REPEATED_ID = 15,    /* a type and ID given to two resources */
  MACBIN_FINDING_REPEATED_TYPE = 16,  /* a type listed twice in the type list */
  MACBIN_FINDING_NAME_RANGE = 17,     /* a resource name past the end of the name list */
  MACBIN_FINDING_COMPRESSED = 18,     /* a compressed resource's header (or, with
                                         MACBIN_CHECK_CONTENTS, its stream) is damaged, or
                                         names a decompressor the library lacks */
  MACBIN_FINDING_MAP_COPY = 19,       /* the map's copy of the fork header differs */
  MACBIN_FINDING_MORE = 20            /* more findings of one code than are told one by one */
};

/* Flags of MacBin_CheckFile. */
enum {
  MACBIN_CHECK_CONTENTS = 1 /* also decompress every compressed resource whole (slower) */
};

/* One finding, handed to the finding method; valid only during the call. */
typedef struct MacBinFinding {
  int32_t severity;   /* MACBIN_WARNING: nothing is lost, but programs may stumble;
                         MACBIN_ERROR: part of the file cannot be read as it was */
  int32_t code;       /* MACBIN_FINDING_* */
  int64_t offset;     /* where in the file (BinHex: in the decoded stream, header
                         first); -1 when the finding has no one place */
  const char *what;   /* one line, UTF-8: what was found and what it means */
  const char *action; /* one line, UTF-8: what to do about it */
} MacBinFinding;

/* Called once per finding, in the order of the file. */
typedef void (*MacBinFindingMethod)(const MacBinFinding *finding, void *argument);

/* What MacBin_CheckFile tells of the file as a whole. */
typedef struct MacBinCheckReport {
  int32_t format;        /* the container by content: MACBIN_FORMAT_*, 0 = none */
  int32_t inner_format;  /* the container its data fork holds in turn, 0 = none */
  int32_t findings;      /* findings handed to the method (MORE counts once) */
  int32_t worst;         /* highest severity among them, 0 without findings */
  int32_t resources;     /* resources the map lists (0 when it could not be read) */
  char container[96];    /* the container in words, UTF-8, e.g. "BinHex 4.0 holding
                            MacBinary II" */
  uint32_t reserved[3];  /* zero */
} MacBinCheckReport;

/* Checks the file at `path` without opening a channel: names the container
 * by its content whatever the file is called (and what its data fork holds
 * in turn), verifies every CRC and length the container has, and the
 * resource map: the fork header, the map's lists, each resource's data
 * offset and length, data lying over other data, repeated types and
 * type/ID pairs, names past the name list, the headers of compressed
 * resources, a map past the fork's declared length.  BinHex is decoded to
 * a private temporary file that never appears in its folder.  A plain file
 * with an AppleDouble header file "._NAME" beside it is checked as that
 * pair (the header file's findings).  A PICT file (a picture after a
 * 512-byte header, or from the first byte) is named as such, format 0,
 * with no finding: a picture alone has no fork to lose.
 *   Each finding is handed once to `method` (may be null) with `argument`;
 * past 100 findings of one code one MACBIN_FINDING_MORE says how many were
 * left untold.  `report` (may be null) is filled.  Returns 0 when nothing
 * was found, 1 when something was, and -1 (the reason as the thread's last
 * error) when the file cannot be opened or read, for a null or empty path
 * and for unknown flags.  Never reports through the message method; safe
 * from several threads at once (each its own file).
 *
 *   static void show(const MacBinFinding *f, void *out) {
 *     fprintf(out, "%s\n  %s\n", f->what, f->action);
 *   }
 *   MacBinCheckReport report;
 *   int32_t status = MacBin_CheckFile("Old.hqx", 0, show, stdout, &report); */
int32_t MacBin_CheckFile(const char *path, int32_t flags, MacBinFindingMethod method,
                         void *argument, MacBinCheckReport *report);

/* The stable name of a MACBIN_FINDING_* code, for a host's machine-read
 * output: "not_a_container", "name_misleads", "packed_twice",
 * "fork_in_data", "header_damaged", "header_crc", "fork_crc", "data_cut",
 * "rsrc_cut", "fork_header", "map_past_fork", "map_damaged", "data_range",
 * "data_overlap", "repeated_id", "repeated_type", "name_range",
 * "compressed", "map_copy", "more".  A static text; null for a code this
 * library does not know (one a later library may add), which a host names
 * its own way. */
const char *MacBin_FindingName(int32_t code);

/* ======================================================================
 * Resource scripts: a file as text a person edits, and back
 * ==================================================================== */

/* A resource script is a folder: "resources.txt" (MACBIN_SCRIPT_FILE_NAME), the
 * data fork as "data", and a file for each resource that its line does not
 * hold itself.  The text is UTF-8 lines: ";" starts a comment, header
 * lines "%KEYWORD VALUE" give the file's codes, name, flags, dates, data
 * fork and container, and every other line is a resource line as
 * MacBin_AddResource reads it ("TYPE ID(ATTRIBUTES) NAME PARAMETERS"),
 * with three forms that carry the resource's bytes: "--raw FILE" (the
 * file's bytes), "--text FILE" and "--strings FILE" (MACBIN_TEXT_FORM_TEXT
 * and _STRING_LIST), besides "~TEXT" and the vers line.  Packing it again
 * gives the very same file. */
#define MACBIN_SCRIPT_FILE_NAME "resources.txt"
#define MACBIN_SCRIPT_DATA_FILE_NAME "data"

/* Macintosh file names as the Finder shows them: at most 31 characters
 * (a MacBinary header holds 63). */
#define MACBIN_MAX_FILE_NAME_LENGTH 31

/* The container names a script's %format line and a host's options take,
 * for a host's own messages. */
#define MACBIN_CONTAINER_NAMES "ii (or macbinary), classic, applesingle, appledouble, binhex"

/* A script of a file, built whole in memory by MacBin_NewScript. */
typedef struct MacBinScript MacBinScript;

/* Builds the script of the file open on the reading `channel`.  `source`
 * (may be null) names the file in the script's first comment, in UTF-8;
 * control characters and bytes that are not UTF-8 show as U+FFFD, so that
 * the comment stays one line.  The script holds:
 *   - the text of MACBIN_SCRIPT_FILE_NAME (MacBin_GetScriptText): three comment
 *     lines; %name (left out for a file without one; a name longer than
 *     MACBIN_MAX_FILE_NAME_LENGTH is cut to it, and a ':' written '-', with
 *     a warning), %creator and %type (left out, with a warning, when the
 *     container holds none or they hold control characters), %flags 0xNNNN,
 *     %created and %modified (ISO 8601 in UTC, 0 for unknown), %data data,
 *     %format with the container's keyword (for MacBinary III and a bare
 *     fork, which a script cannot name, a warning says that MacBinary II is
 *     written), %finder-resources off, %map-attributes 0xNNNN when the
 *     map's attributes are not 0, %finder-info with the 64 hexadecimal
 *     digits of the Finder information when more than its type, creator
 *     and flags is set; then one resource line per resource in map order.
 *     Attributes other than purgeable alone follow the ID in parentheses,
 *     as names ("130(protected,preload)") or, when a bit without a name
 *     is set or none is, as a number ("(0x00)").  A resource stored
 *     compressed keeps its stored bytes (--raw), under a comment giving its
 *     decompressor and length.  Otherwise a readable form when it gives
 *     back the same bytes and the line takes it: a 'STR ' as "~TEXT", a
 *     'vers' as its line (only while a processor for vers is registered,
 *     as MacBin_AddResource needs to take the line back; names up to
 *     MACBIN_MAX_NAME_LENGTH), a 'TEXT' as "--text TYPE.ID.txt", a 'STR#'
 *     as "--strings TYPE.ID.txt"; else "--raw TYPE.ID" (file names as
 *     MacBin_ResourceFileName gives them);
 *   - the files to write beside it (MacBin_GetScriptFile): "data" first,
 *     then the resources' files in the order of their lines (all held in
 *     memory, the data fork whole);
 *   - notes (MacBin_GetScriptNote): warnings of what a script does not
 *     carry as the file had it, and errors of resources left out (a type or
 *     name holding control characters, data outside the resource fork) or
 *     a data fork that could not be read ("data" is then left out).  A
 *     script with an error note does not rebuild the file.
 * Returns the script, freed with MacBin_FreeScript; null (the reason as the
 * thread's last error) for a channel that is not reading, a file name
 * holding control characters (MACBIN_ERR_ARGUMENT: "the file name holds
 * control characters, which a script cannot carry") and when memory runs
 * out.  Never reports through the message method; neither moves the
 * channel's file nor changes its cur_* fields.
 *
 *   MacBinScript *script = MacBin_NewScript(in, "Old.bin");
 *   const char *name; const uint8_t *bytes; int64_t length;
 *   for (int32_t i = 0; MacBin_GetScriptFile(script, i, &name, &bytes, &length) == 1; ++i)
 *     ...  (write `length` bytes as DIR/name)
 *   const char *text; length = MacBin_GetScriptText(script, &text);
 *   ...  (write it as DIR/resources.txt)
 *   MacBin_FreeScript(script); */
MacBinScript *MacBin_NewScript(MacBinChannel *channel, const char *source);

/* The script's text: points `*text` (may be null) at it, NUL-terminated,
 * valid until MacBin_FreeScript, and returns its length in bytes; -1 for a
 * null script. */
int64_t MacBin_GetScriptText(const MacBinScript *script, const char **text);

/* The `index`-th file (from 0) to write beside the script: its name
 * relative to the script's folder (a file name without a '/') and its
 * bytes, valid until MacBin_FreeScript.  Any pointer may be null.  Returns
 * 1, or 0 past the last file (or for a null script or negative index),
 * leaving the pointers as they were. */
int32_t MacBin_GetScriptFile(const MacBinScript *script, int32_t index, const char **name,
                             const uint8_t **bytes, int64_t *length);

/* The `index`-th note (from 0), one line of UTF-8 that does not name the
 * file (a host puts its own name of the file before it), valid until
 * MacBin_FreeScript.  Returns its severity, MACBIN_WARNING or
 * MACBIN_ERROR; 0 past the last note (or for a null script or negative
 * index), leaving `*text` as it was. */
int32_t MacBin_GetScriptNote(const MacBinScript *script, int32_t index, const char **text);

/* Frees a script of MacBin_NewScript; null does nothing. */
void MacBin_FreeScript(MacBinScript *script);

/* Bits of MacBinScriptHeader.given: which fields header lines set. */
enum {
  MACBIN_SCRIPT_CREATOR = 0x0001,
  MACBIN_SCRIPT_TYPE = 0x0002,
  MACBIN_SCRIPT_NAME = 0x0004,
  MACBIN_SCRIPT_FLAGS = 0x0008,
  MACBIN_SCRIPT_CREATED = 0x0010,
  MACBIN_SCRIPT_MODIFIED = 0x0020,
  MACBIN_SCRIPT_DATA = 0x0040,
  MACBIN_SCRIPT_FORMAT = 0x0080,
  MACBIN_SCRIPT_FINDER_RESOURCES = 0x0100,
  MACBIN_SCRIPT_MAP_ATTRIBUTES = 0x0200,
  MACBIN_SCRIPT_FINDER_INFO = 0x0400
};

/* What a script's header lines say; 4,312 bytes, no gaps.  Texts are the
 * values as written (UTF-8, NUL-terminated): the host converts codes and
 * the name to MacRoman (MacBin_UTF8ToMacRoman) and checks them as it
 * checks its own options, and takes a relative %data path from the
 * script's folder. */
typedef struct MacBinScriptHeader {
  uint32_t given;           /* MACBIN_SCRIPT_* bits of the fields set */
  uint16_t flags;           /* %flags: the Finder flags */
  uint16_t map_attributes;  /* %map-attributes: the resource map's own attributes */
  uint32_t created;         /* %created: seconds since 1904 (0: unknown) */
  uint32_t modified;        /* %modified: likewise */
  int32_t format;           /* %format: MACBIN_FORMAT_* of a container that can be written */
  int32_t finder_resources; /* %finder-resources: 1 on, 0 off (no owner resource, no bundle) */
  uint8_t finder_info[32];  /* %finder-info: the whole Finder information */
  char creator[16];         /* %creator, as written (1 to 4 Macintosh characters once converted) */
  char type[16];            /* %type, as written */
  char name[128];           /* %name, as written */
  char data[4096];          /* %data: the data fork's file, as written */
} MacBinScriptHeader;

/* Reads one header line ("%KEYWORD VALUE", blanks before it allowed; a
 * value with blanks quoted as MacBin_GetArguments reads it) into
 * `header`: sets the field the line gives and its bit in `given`, and
 * leaves the other fields as they are, so that a host may gather a whole
 * header in one record (a later line then wins) or look at each line
 * alone.  The keywords: %creator CODE, %type CODE, %name NAME, %flags and
 * %map-attributes (0 to 0xFFFF, hexadecimal after 0x, else decimal, never
 * octal), %created and %modified (as MacBin_ParseDate reads them), %data
 * FILE (not "-"), %format (as MacBin_ContainerNamed reads it; not rsrc),
 * %finder-resources on|off, %finder-info (64 hexadecimal digits).
 * Returns 0, or MACBIN_ERR_ARGUMENT with a one-line reason as the thread's
 * last error, the record untouched: "a header line is '%KEYWORD VALUE'
 * (quote a value with blanks): '...'" (the line quoted whole), "unknown
 * header line '%colour': ...", "%flags '0x10000' must be a number from 0
 * to 0xFFFF", and so on; a value longer than its field is refused too.
 * Never reports through the message method. */
int32_t MacBin_ReadScriptHeader(const char *line, MacBinScriptHeader *header);

/* Container names both ways.  MacBin_ContainerNamed reads "ii" (also "II"
 * and "macbinary"), "classic", "applesingle", "appledouble", "binhex" and
 * "rsrc" and returns its MACBIN_FORMAT_*, or 0 for another name (or null).
 *   MacBin_ContainerName gives a static text for a MACBIN_FORMAT_*, in one
 * of three styles: MACBIN_CONTAINER_KEYWORD the name MacBin_ContainerNamed
 * and %format take for a container that can be written ("ii", "classic",
 * ...; null for MacBinary III and a bare fork); MACBIN_CONTAINER_TITLE the
 * name in a sentence ("MacBinary II", "a bare resource fork", "BinHex
 * 4.0"); MACBIN_CONTAINER_LISTED the name in a listing ("classic",
 * "resource fork", ...).  Null for an unknown format or style. */
enum {
  MACBIN_CONTAINER_KEYWORD = 1,
  MACBIN_CONTAINER_TITLE = 2,
  MACBIN_CONTAINER_LISTED = 3
};
int32_t MacBin_ContainerNamed(const char *name);
const char *MacBin_ContainerName(int32_t format, int32_t style);

/* The Macintosh name for a file written as `path` (UTF-8) when no other
 * is known: its last component without the extension of a container that
 * is one file (".bin", ".hqx", ".as", any case), in MacRoman (letters with
 * combining accents composed; each character MacRoman lacks, and each
 * byte that is not UTF-8, one '_'), ':' made '-', cut to
 * MACBIN_MAX_FILE_NAME_LENGTH; "Untitled" when nothing is left.  Copies as
 * MacBin_UTF8ToMacRoman does and returns the name's length; -1
 * (MACBIN_ERR_ARGUMENT as the last error) for a null path, a negative
 * capacity or a null buffer with a capacity. */
int32_t MacBin_DefaultMacName(const char *path, char *buffer, int32_t capacity);

/* What a conversion loses.  Each container holds its own part of a file's
 * facts; before writing a file read as `info` (MacBin_GetFileInfo) and
 * `finder_info` (its 32 bytes from MacBin_GetFinderInfoBytes; may be null,
 * which says nothing of them) into the container `target` (MACBIN_FORMAT_*
 * of a container MacBin_SetFormat writes, or MACBIN_FORMAT_RSRC for the
 * resource fork alone), a host tells its user what is lost:
 *   - BinHex: no dates ("BinHex holds no dates: the creation and
 *     modification dates are lost");
 *   - classic MacBinary: the low byte of the Finder flags ("... 0x0123
 *     becomes 0x0100");
 *   - AppleSingle, AppleDouble: a date before December 1931, each stored as
 *     unknown;
 *   - a bare resource fork: the data fork (a note about the source), the
 *     type, creator, flags and dates, and for a file without a resource
 *     fork a notice that the fork written holds an empty map;
 *   - the window place and folder of the icon (Finder information bytes 10
 *     to 15), which BinHex and a bare fork lack, and the extended Finder
 *     information (bytes 16 to 31), which only AppleSingle and AppleDouble
 *     hold;
 *   - but for a bare fork: a notice that a file without dates gets the time
 *     of the conversion (not for BinHex, which holds none), and the name
 *     cut to MACBIN_MAX_FILE_NAME_LENGTH characters.
 * Each note is handed in that order to `method` (may be null, to count
 * them) with `argument`, valid only during the call: its severity
 * (MACBIN_INFO when nothing is lost, MACBIN_WARNING when something is),
 * whether it is about the source or the target, its whole line (UTF-8,
 * starting with `source_path` or `target_path`, which may be null for "")
 * and its text, the line past that path and the ": " or blank after it.
 * Returns the number of notes (0 when the target holds all the file has),
 * or -1 with MACBIN_ERR_ARGUMENT as the last error for a null `info` or a
 * container that is not written.  Never reports through the message method.
 *
 *   static void show(const MacBinConversionNote *n, void *out) {
 *     fprintf(out, "%s: %s\n", n->severity == MACBIN_WARNING ? "warning" : "note", n->line);
 *   }
 *   MacBin_ConversionNotes(&info, finder, MACBIN_FORMAT_BINHEX, "In.bin", "Out.hqx", show, stderr); */
enum {
  MACBIN_NOTE_SOURCE = 1, /* the file read: its path goes first */
  MACBIN_NOTE_TARGET = 2  /* the file written: its path goes first */
};
typedef struct MacBinConversionNote {
  int32_t severity; /* MACBIN_INFO or MACBIN_WARNING */
  int32_t about;    /* MACBIN_NOTE_SOURCE or MACBIN_NOTE_TARGET */
  const char *line; /* "Out.hqx: BinHex holds no dates: ..." */
  const char *text; /* "BinHex holds no dates: ..." (a part of `line`) */
} MacBinConversionNote;
typedef void (*MacBinConversionNoteMethod)(const MacBinConversionNote *note, void *argument);
int32_t MacBin_ConversionNotes(const MacBinFileInfo *info, const uint8_t *finder_info, int32_t target,
                               const char *source_path, const char *target_path,
                               MacBinConversionNoteMethod method, void *argument);

/* The file name of a resource written alone ("ICN#.128", "TEXT.-1"): the
 * four bytes of `type` as the map stores them (trailing blanks included),
 * each byte but letters, digits and # - _ ! @ + written %XX ("STR%20.128",
 * a '.' or '/' always escaped, so no two resources share a name and none
 * leaves its folder), a '.', the ID; then ".N" for the N-th resource with
 * this type and ID when `occurrence` (counted from 1) is 2 or more.  Copies
 * as MacBin_UTF8ToMacRoman does and returns the name's length; -1
 * (MACBIN_ERR_ARGUMENT) for a null type, an occurrence below 1, a negative
 * capacity or a null buffer with a capacity. */
int32_t MacBin_ResourceFileName(const char type[4], int32_t id, int32_t occurrence, char *buffer,
                                int32_t capacity);

/* A word of a line written so that MacBin_GetArguments gives it back
 * unchanged: as it is when it can be, else in quotes with \" for a quote
 * (backslashes at its end follow the closing quote); "" for an empty word;
 * a word starting with ';' or '%' is quoted too, so that it makes no
 * comment or header line.  A line end in the word comes back too, but no
 * line of a file carries one: a host writing lines leaves such words out
 * (MacBin_NewScript does).  Copies as MacBin_UTF8ToMacRoman does (at most
 * 2 x length + 3 bytes are needed) and returns the written word's length;
 * -1 (MACBIN_ERR_ARGUMENT) for a null word, a negative capacity or a null
 * buffer with a capacity. */
int32_t MacBin_QuoteWord(const char *word, char *buffer, int32_t capacity);

/* ======================================================================
 * Outputs that appear only when complete
 *
 * An output is made under a temporary name and put in place by
 * MacBin_CommitOutput, so that a failed or interrupted run leaves no
 * half-written file and an older file of that name as it was.  A regular
 * file (or none yet) is replaced: the temporary name is beside it, the
 * commit renames it over the file, which keeps its permission bits (a new
 * one gets 0666 less the umask); a symbolic link leads to the file that is
 * replaced (made when the link dangles), not replaced itself.  A character
 * or block device, a FIFO, or an open descriptor named as /dev/stdout,
 * /dev/fd/N or /proc/self/fd/N is written into, never renamed over or
 * removed: bytes handed over go straight there, and a file a writer makes
 * by name is made in $TMPDIR and copied there by the commit.  A directory
 * and a socket are refused.
 *
 * Every temporary the library holds is listed where a signal handler can
 * reach it.  The library installs no handler: a host that wants nothing
 * left behind when SIGINT, SIGTERM, SIGHUP or SIGPIPE ends the run calls
 * MacBin_RemoveTemporaries from its own (and may ignore SIGXFSZ, so that a
 * file-size limit shows as a failed write).  What is still listed when the
 * process ends through exit() is removed too.
 *
 * Failures give 1 or null with a one-line reason as the thread's last error
 * (MacBin_LastError; MACBIN_ERR_IO for the file system's refusals), never
 * through the message method.
 * ==================================================================== */

/* An output in the making; opened by MacBin_OpenOutput, ended by
 * MacBin_CommitOutput or MacBin_DiscardOutput. */
typedef struct MacBinOutput MacBinOutput;

/* Kinds of MacBin_OpenOutput besides the formats MacBin_SetFormat writes. */
enum {
  MACBIN_OUTPUT_BYTES = 100, /* bytes handed over with MacBin_WriteOutput */
  MACBIN_OUTPUT_FILE = 101   /* one file that a writer makes by name at MacBin_OutputPath */
};

/* Opens an output for `path` of `kind`: MACBIN_OUTPUT_BYTES,
 * MACBIN_OUTPUT_FILE, or a format MacBin_SetFormat writes, for
 * MacBin_OpenWOutput (AppleDouble and BinHex get a private directory beside
 * the output, in which the writer makes its files).  Returns the output, or
 * null with the reason as the last error: "Is a directory", "it is a
 * socket, which cannot be written as a file", the system's reason the
 * temporary name could not be made ("Permission denied"), and for
 * AppleDouble "AppleDouble is two files, and its header file \"._NAME\"
 * cannot go beside standard output; ..." or "its AppleDouble header file
 * \"._NAME\" would need a name of 256 bytes, and the file system allows
 * 255".  Opening a FIFO for bytes waits for its reader, as any writer does.
 *
 *   MacBinOutput *out = MacBin_OpenOutput("list.txt", MACBIN_OUTPUT_BYTES);
 *   if (out == NULL || MacBin_WriteOutput(out, text, length) != 0 ||
 *       MacBin_CommitOutput(out) != 0) { const char *why; MacBin_LastError(&why); ... }
 *   (after a failed write: MacBin_DiscardOutput(out)) */
MacBinOutput *MacBin_OpenOutput(const char *path, int32_t kind);

/* The temporary name a writer makes the file at (MACBIN_OUTPUT_FILE and the
 * formats), valid until the output ends; null for MACBIN_OUTPUT_BYTES and
 * a null output. */
const char *MacBin_OutputPath(const MacBinOutput *output);

/* 1 when the output is written into (a device, a FIFO, a descriptor), 0 when
 * it replaces a regular file (or makes one), -1 for a null output. */
int32_t MacBin_OutputWrittenInto(const MacBinOutput *output);

/* Writes `length` bytes to a MACBIN_OUTPUT_BYTES output.  Returns 0 =
 * written, 1 = failed, with "write error: REASON" (the first failure's;
 * every later write fails too) as the last error. */
int32_t MacBin_WriteOutput(MacBinOutput *output, const void *bytes, int32_t length);

/* Puts the output in place: flushes and renames (or copies into what is
 * written into); AppleDouble's header file "._NAME" first, then the data
 * file, and when the data file cannot follow the new header goes again.
 * The output is gone after, whatever the result.  Returns 0 = in place, 1 =
 * failed with nothing of this output left (an older file as it was;
 * AppleDouble's older header file comes back when the data file cannot
 * follow the new one) and the reason as the last error: "write error: REASON", "cannot rename TEMP into
 * place: REASON", "cannot open: REASON" for what is written into. */
int32_t MacBin_CommitOutput(MacBinOutput *output);

/* Removes what was written for the output and releases it; an older file
 * stays as it was.  Null does nothing. */
void MacBin_DiscardOutput(MacBinOutput *output);

/* MacBin_OpenW into an output opened with MacBin_OpenOutput for a format:
 * the channel writes that format (MacBin_SetFormat is not asked) to the
 * output's temporary files, and after MacBin_Close the host commits the
 * output (or discards it: a run the host counts as failed).  Messages name
 * the output's path.  When a write failed, MacBin_Close removes the files as
 * it always does and the host discards the output.  Returns the channel, or
 * null after reporting why (a null output, one opened for bytes or a file). */
MacBinChannel *MacBin_OpenWOutput(MacBinOutput *output, char *apple_name, const char *creator,
                                  const char *type);

/* Names the descriptor that stands for standard output: a host that points
 * descriptor 1 elsewhere (at standard error, for the library's texts) and
 * keeps the real standard output on another descriptor tells the library
 * here, and /dev/stdout, /dev/fd/1 and /proc/self/fd/1 as outputs reach it.
 * 1 at load and after MacBin_Reset.  Returns 0 = set, 1 = a negative
 * descriptor (refused). */
int32_t MacBin_SetStandardOutput(int32_t descriptor);

/* Makes a temporary file from `path_template` (ending in "XXXXXX", which is
 * replaced as mkstemp does) and lists it, so that MacBin_RemoveTemporaries
 * removes it too: for a host's own scratch files (a copy of standard
 * input).  Returns the open descriptor (close-on-exec), or -1 with errno
 * set and the reason as the last error. */
int32_t MacBin_MakeTemporaryFile(char *path_template);

/* Removes a file MacBin_MakeTemporaryFile made and takes it off the list.
 * Returns 0 = removed, 1 = not a listed file, or it could not be removed
 * (taken off the list all the same). */
int32_t MacBin_RemoveTemporaryFile(const char *path);

/* Removes every temporary file and directory the library still holds (the
 * outputs not yet committed, the hidden BinHex forks, MacBin_MakeTemporaryFile's
 * files).  Async-signal-safe: for a host's handler of SIGINT, SIGTERM, SIGHUP
 * and SIGPIPE, which then ends the process; errno is kept.  An output whose
 * files were removed can only be discarded after. */
void MacBin_RemoveTemporaries(void);

/* ======================================================================
 * Starting over
 * ==================================================================== */

/* Returns the whole library to its state at load, before the first
 * MacBin_Init: the method slots and the processor list are emptied, the
 * output format is MACBIN_FORMAT_CLASSIC again, a write failure no longer
 * stops output (and the next file removed for one is announced again),
 * MacChannel and outfile are null, the trace flags are those the library
 * was built with, the host's fonts are forgotten and the picture memory
 * limit is MACBIN_DEFAULT_PICTURE_BYTES, the image-file reader is
 * forgotten and the image directory is the current folder again, and
 * descriptor 1 stands for standard output again (MacBin_SetStandardOutput).  The
 * processors' records are
 * released.  The next MacBin_Init initialises anew (returns 1) with a new
 * zone; the old zone stays until the process ends, unused.  MacBin_Init alone never does this: a second
 * MacBin_Init keeps everything.
 * Call it with no channel open and no other thread inside the library.
 * For hosts that run unrelated jobs one after another in one process, and
 * for test programs that run many tests in one process.  The host utility
 * library's own state (libtessel) is not touched. */
void MacBin_Reset(void);

#ifdef __cplusplus
}
#endif

#endif /* VARNEL_H */
