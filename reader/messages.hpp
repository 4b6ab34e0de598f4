// Private to the reader: the texts MacBin_OpenR and the fetch report.  The
// layouts they speak of are the format layer's (format/).
#pragma once


// Texts reported through the message method (module "MacBin", severity 3).
inline constexpr const char *kTextNoFileName = "No filename specified";
inline constexpr const char *kTextCannotOpen =
    "Could not open output file";  // kept as callers know it
inline constexpr const char *kTextCannotRead = "Could not read input file";
inline constexpr const char *kTextOutOfMemory = "Out Of Memory (reading resource map)";
inline constexpr const char *kTextForkLengthOutOfRange =
    "Fork length in MacBinary header out of range";
inline constexpr const char *kTextForkOutsideFile = "Resource fork lies outside the file";
inline constexpr const char *kTextDataOutsideFile = "Resource data lies outside the file";
inline constexpr const char *kTextMapOutsideFile = "Resource map lies outside the file";
inline constexpr const char *kTextMapTooShort = "Resource map too short";
inline constexpr const char *kTextTypeListOutsideMap = "Type list lies outside the resource map";
inline constexpr const char *kTextTypeCountTooLarge = "Type count does not fit the resource map";
inline constexpr const char *kTextRefListOutsideMap =
    "Reference list lies outside the resource map";
inline constexpr const char *kTextRefCountsTooLarge =
    "Reference counts do not fit the resource map";
inline constexpr const char *kTextNameOutsideMap = "Resource name lies outside the resource map";
