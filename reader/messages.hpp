// Private to the reader: the texts MacBin_OpenR and the fetch report.  The
// layouts they speak of are the format layer's (format/).
#pragma once


// Texts reported through the message method (module "MacBin").  Those that
// refuse a file have severity 3.  A damaged resource fork does not refuse
// it: the file opens without resources and the reason is a warning (2), the
// text followed by kTextNoResourcesRead.
inline constexpr const char *kTextNoFileName = "No filename specified";
// Followed by the system's reason in parentheses, when there is one.
inline constexpr const char *kTextCannotOpen = "Could not open input file";
inline constexpr const char *kTextCannotRead = "Could not read input file";
// Followed by "(N of 128 bytes)".
inline constexpr const char *kTextHeaderCut = "File too short for a MacBinary header";
// Followed by ": the file ends at N, the data fork at M" (the resource fork).
inline constexpr const char *kTextDataForkCut = "Data fork cut short";
inline constexpr const char *kTextRsrcForkCut = "Resource fork cut short";
inline constexpr const char *kTextNoResourcesRead = "; no resources read";
inline constexpr const char *kTextOutOfMemory = "Out Of Memory (reading resource map)";
inline constexpr const char *kTextForkLengthOutOfRange =
    "Fork length in MacBinary header out of range";
inline constexpr const char *kTextForkOutsideFile = "Resource fork lies outside the file";
inline constexpr const char *kTextDataOutsideFile = "Resource data lies outside the file";
inline constexpr const char *kTextMapOutsideFile = "Resource map lies outside the file";
inline constexpr const char *kTextMapTooShort = "Resource map too short";
// A warning (the map is still read), followed by ": its map ends N bytes
// after its start, its length is M bytes".
inline constexpr const char *kTextForkPastItsLength = "Resource fork runs past its length";
// A notice (severity 1) for a file without a resource fork.
inline constexpr const char *kTextNoResources = "no resources in file";
inline constexpr const char *kTextTypeListOutsideMap = "Type list lies outside the resource map";
inline constexpr const char *kTextTypeCountTooLarge = "Type count does not fit the resource map";
inline constexpr const char *kTextRefListOutsideMap =
    "Reference list lies outside the resource map";
inline constexpr const char *kTextRefCountsTooLarge =
    "Reference counts do not fit the resource map";
inline constexpr const char *kTextNameOutsideMap = "Resource name lies outside the resource map";

// Containers other than MacBinary.  The AppleSingle texts follow
// "AppleSingle header: " or "AppleDouble header: ".
inline constexpr const char *kTextAppleTooShort = "file too short for it";
inline constexpr const char *kTextAppleVersion = "unknown version";
inline constexpr const char *kTextAppleEntriesCut = "its entry table runs past the end of the file";
inline constexpr const char *kTextAppleEntryOutside =
    "its name, Finder info or dates entry lies outside the file";
inline constexpr const char *kTextAppleEntryTwice = "it lists an entry twice";
inline constexpr const char *kTextAppleForkTooLong = "a fork length is out of range";
inline constexpr const char *kTextDataFileTooLong =
    "Data file too long: its data fork would pass 2147483647 bytes";
// BinHex: what stopped the text before the forks were whole.
inline constexpr const char *kTextBinHexHeaderCut = "BinHex text ends inside its header";
inline constexpr const char *kTextBinHexBadName = "BinHex header names no file (name length 0 or over 63)";
inline constexpr const char *kTextBinHexHeaderCrc = "BinHex header CRC does not match";
inline constexpr const char *kTextBinHexTooLong = "BinHex fork lengths out of range";
inline constexpr const char *kTextBinHexNoStart = "BinHex text has no line starting with ':'";
inline constexpr const char *kTextBinHexTempFile = "Could not make a temporary file for the decoded BinHex forks";
