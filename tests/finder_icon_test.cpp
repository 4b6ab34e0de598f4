// MacBin_FindFinderIcon: the resource the Finder would show for a file, on
// files written here from memory (MacBin_AddResourceData, icons from
// MacBin_EncodeResource): each rule in its order, the largest member of a
// family, and the fall-through past a family or picture that is missing or
// damaged.  Bundles, file references and pictures are written as hex.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/macbinary.hpp"
#include "support/resource_compression.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::concat;
using vt::hex;

constexpr int32_t kCustomIconId = -16455;
constexpr uint16_t kCustomIconFlag = 0x0400;

struct Resource {
  std::string type;
  int32_t id;
  Bytes data;
  int32_t attributes = MACBIN_ATTR_PURGEABLE;
};

// A 32 x 32 or 16 x 16 image: a dark square on light grey inside a round
// mask, so that every encoder has colours and a mask to keep.
MacBinPixels test_image(int32_t side, std::vector<uint8_t> &rgba) {
  rgba.assign(static_cast<size_t>(side * side * 4), 0);
  for (int32_t y = 0; y < side; ++y)
    for (int32_t x = 0; x < side; ++x) {
      uint8_t *p = &rgba[static_cast<size_t>((y * side + x) * 4)];
      const bool dark = x >= side / 4 && x < 3 * side / 4 && y >= side / 4 && y < 3 * side / 4;
      const int32_t dx = 2 * x + 1 - side, dy = 2 * y + 1 - side;
      p[0] = p[1] = p[2] = dark ? 0x00 : 0xCC;
      p[3] = dx * dx + dy * dy <= side * side ? 0xFF : 0x00;
    }
  return MacBinPixels{side, side, 0, 0, rgba.data()};
}

Bytes encoded(const std::string &type) {
  const int32_t side = type.starts_with("ics") ? 16 : 32;
  std::vector<uint8_t> rgba;
  const MacBinPixels pixels = test_image(side, rgba);
  char error[128] = "";
  const int32_t length = MacBin_EncodeResource(type.c_str(), &pixels, MACBIN_ENCODE_NEAREST, nullptr, 0, error);
  EXPECT_GT(length, 0) << type << ": " << error;
  Bytes data(static_cast<size_t>(length > 0 ? length : 0));
  EXPECT_EQ(MacBin_EncodeResource(type.c_str(), &pixels, MACBIN_ENCODE_NEAREST, data.data(), length, error), length);
  return data;
}

// The members of an icon family with one ID.
std::vector<Resource> family(int32_t id, std::initializer_list<const char *> types) {
  std::vector<Resource> out;
  for (const char *type : types) out.push_back({type, id, encoded(type)});
  return out;
}

// A bundle owned by `owner`: its FREF list maps local IDs to FREF resource
// IDs, its ICN# list local icon IDs to families.
Bytes bundle(const std::string &owner, const std::string &lists) {
  return concat({vt::bytes_of(owner), hex("0000 | owner ID 0\n" + lists)});
}
const char *const kOneTypeLists =
    "0001 | two lists\n"
    "46524546 0000 | FREF, one entry\n"
    "0000 0080 | local 0 = FREF 128\n"
    "49434E23 0000 | ICN#, one entry\n"
    "0000 0081 | local icon 0 = family 129\n";

// FREF: file type, local icon ID, an empty name.
Bytes fref(const std::string &file_type, int16_t local_icon) {
  Bytes out = vt::bytes_of(file_type);
  vt::append_be16(out, static_cast<uint16_t>(local_icon));
  out.push_back(0);
  return out;
}

// A version 1 picture with this frame: size word, frame, version, end.
Bytes picture(int16_t top, int16_t left, int16_t bottom, int16_t right) {
  Bytes out = hex("0000");
  for (const int16_t v : {top, left, bottom, right}) vt::append_be16(out, static_cast<uint16_t>(v));
  return concat({out, hex("1101 | version 1\n FF | end")});
}

struct FilePlan {
  std::string type = "TEXT";
  std::string creator = "VARN";
  uint16_t flags = 0;
  std::vector<Resource> resources;
};

// Writes the file with exactly these resources and opens it for reading.
class IconFile {
 public:
  explicit IconFile(const FilePlan &plan) {
    vt::init_recording();
    path_ = dir_.file("icons.bin");
    char name[] = "Icons";
    MacBinChannel *out = MacBin_OpenW(path_.c_str(), name, plan.creator.c_str(), plan.type.c_str());
    EXPECT_NE(out, nullptr);
    EXPECT_EQ(MacBin_SetFinderResources(out, 0), 0);
    Bytes finder = concat({vt::bytes_of(plan.type), vt::bytes_of(plan.creator)});
    vt::append_be16(finder, plan.flags);
    finder.resize(32, 0);
    EXPECT_EQ(MacBin_SetFinderInfoBytes(out, finder.data()), 0);
    for (const Resource &r : plan.resources)
      EXPECT_EQ(MacBin_AddResourceData(out, r.type.c_str(), r.id, nullptr, r.attributes, r.data.data(),
                                       static_cast<int32_t>(r.data.size())),
                0)
          << r.type << " " << r.id;
    MacBin_Close(out);
    channel_ = MacBin_OpenR(path_.c_str());
    EXPECT_NE(channel_, nullptr);
  }
  ~IconFile() {
    if (channel_ != nullptr) MacBin_Close(channel_);
  }
  IconFile(const IconFile &) = delete;
  IconFile &operator=(const IconFile &) = delete;

  struct Found {
    int32_t rule;
    std::string type;
    int32_t id;
    const MacBinRefEntry *ref;
  };
  Found find() const {
    char type[5] = "????";
    int32_t id = 12345;
    const MacBinRefEntry *ref = nullptr;
    const int32_t rule = MacBin_FindFinderIcon(channel_, type, &id, &ref);
    return {rule, std::string(type, strnlen(type, 5)), id, ref};
  }
  MacBinChannel *channel() const { return channel_; }

 private:
  vt::TempDir dir_;
  std::string path_;
  MacBinChannel *channel_ = nullptr;
};

std::vector<Resource> operator+(std::vector<Resource> a, const std::vector<Resource> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Everything the later rules would choose: a bundle for TEXT files of
// VARN with family 129, and a picture.
std::vector<Resource> bundle_and_picture() {
  return std::vector<Resource>{{"BNDL", 128, bundle("VARN", kOneTypeLists)},
                               {"FREF", 128, fref("TEXT", 0)},
                               {"PICT", 300, picture(0, 0, 40, 60)}} +
         family(129, {"ICN#", "icl4"});
}

// ---- The rules in order ---------------------------------------------------------

TEST(FinderIconRules, CustomIconWhenItsFlagIsSet) {
  const IconFile file({"TEXT", "VARN", kCustomIconFlag,
                       family(kCustomIconId, {"ICN#", "icl4", "icl8"}) + bundle_and_picture()});
  const IconFile::Found found = file.find();
  EXPECT_EQ(found.rule, MACBIN_FINDER_ICON_CUSTOM);
  EXPECT_EQ(found.type, "icl8");
  EXPECT_EQ(found.id, kCustomIconId);
  ASSERT_NE(found.ref, nullptr);
  EXPECT_EQ(found.ref->id, 49081);  // -16455 as the map stores it
  MacBinPixels pixels{};
  char error[128] = "";
  ASSERT_EQ(MacBin_DecodeResource(file.channel(), found.ref, &pixels, error), 1) << error;
  EXPECT_EQ(pixels.width, 32);
  EXPECT_EQ(pixels.rgba[3], 0);  // the corner lies outside the round mask
  MacBin_FreePixels(&pixels);
}

TEST(FinderIconRules, CustomFamilyWithoutItsFlagIsTheBundlesTurn) {
  const IconFile file({"TEXT", "VARN", 0x0100, family(kCustomIconId, {"ICN#", "icl8"}) + bundle_and_picture()});
  const IconFile::Found found = file.find();
  EXPECT_EQ(found.rule, MACBIN_FINDER_ICON_BUNDLE);
  EXPECT_EQ(found.type, "icl4");
  EXPECT_EQ(found.id, 129);
}

TEST(FinderIconRules, FlagWithoutACustomFamilyIsTheBundlesTurn) {
  const IconFile file({"TEXT", "VARN", kCustomIconFlag, bundle_and_picture()});
  EXPECT_EQ(file.find().rule, MACBIN_FINDER_ICON_BUNDLE);
}

TEST(FinderIconRules, LargestPictureWhenThereIsNoIcon) {
  // Areas 1200, 1500, 1500 (the first of equals wins), 4 x 4000 upside down.
  const IconFile file({"TEXT", "VARN", 0,
                       {{"PICT", 128, picture(0, 0, 30, 40)},
                        {"PICT", 129, picture(10, 10, 40, 60)},
                        {"PICT", 130, picture(-15, -25, 15, 25)},
                        {"PICT", 131, picture(4, 4000, 0, 0)},
                        {"TEXT", 128, vt::bytes_of("not a picture")}}});
  const IconFile::Found found = file.find();
  EXPECT_EQ(found.rule, MACBIN_FINDER_ICON_PICTURE);
  EXPECT_EQ(found.type, "PICT");
  EXPECT_EQ(found.id, 129);
}

TEST(FinderIconRules, NothingToShow) {
  const IconFile file({"TEXT", "VARN", kCustomIconFlag, {{"TEXT", 128, vt::bytes_of("words")}}});
  const IconFile::Found found = file.find();
  EXPECT_EQ(found.rule, MACBIN_FINDER_ICON_NONE);
  EXPECT_EQ(found.type, "");
  EXPECT_EQ(found.id, 0);
  EXPECT_EQ(found.ref, nullptr);
}

TEST(FinderIconRules, FileWithoutAResourceFork) {
  const IconFile file({"TEXT", "VARN", kCustomIconFlag, {}});
  EXPECT_EQ(file.find().rule, MACBIN_FINDER_ICON_NONE);
}

TEST(FinderIconRules, OnlyAReadingChannelIsAsked) {
  char type[5] = "????";
  int32_t id = 7;
  const MacBinRefEntry *ref = reinterpret_cast<const MacBinRefEntry *>(&id);
  EXPECT_EQ(MacBin_FindFinderIcon(nullptr, type, &id, &ref), -1);
  EXPECT_EQ(type[0], '\0');
  EXPECT_EQ(id, 0);
  EXPECT_EQ(ref, nullptr);
  // Null results are allowed.
  const IconFile file({"TEXT", "VARN", 0, {{"PICT", 5, picture(0, 0, 1, 1)}}});
  EXPECT_EQ(MacBin_FindFinderIcon(file.channel(), nullptr, nullptr, nullptr), MACBIN_FINDER_ICON_PICTURE);
}

// ---- Members of a family ------------------------------------------------------

TEST(FinderIconFamily, LargestMemberThatExists) {
  struct Case {
    std::initializer_list<const char *> members;
    const char *chosen;
  };
  for (const Case &c : {Case{{"ICN#", "icl4", "icl8", "ics#"}, "icl8"}, Case{{"ICN#", "icl4", "ics8"}, "icl4"},
                        Case{{"ics#", "ICN#"}, "ICN#"}, Case{{"ics#", "ics4"}, "ics4"},
                        Case{{"ics#"}, "ics#"}, Case{{"icl8"}, "icl8"}}) {
    const IconFile file({"TEXT", "VARN", kCustomIconFlag, family(kCustomIconId, c.members)});
    EXPECT_EQ(file.find().type, c.chosen);
  }
}

TEST(FinderIconFamily, MemberCutShortIsPassedOver) {
  std::vector<Resource> members = family(kCustomIconId, {"ICN#", "icl4"});
  members.push_back({"icl8", kCustomIconId, Bytes(1023, 0x11)});  // one byte short of 32 x 32
  const IconFile file({"TEXT", "VARN", kCustomIconFlag, members});
  EXPECT_EQ(file.find().type, "icl4");
}

TEST(FinderIconFamily, CompressedMemberIsReadAsItsContents) {
  std::vector<Resource> members = family(kCustomIconId, {"ICN#"});
  members.push_back({"icl8", kCustomIconId, vt::compressed_resource(8, 0, encoded("icl8")),
                     MACBIN_ATTR_PURGEABLE | 0x01});
  const IconFile file({"TEXT", "VARN", kCustomIconFlag, members});
  EXPECT_EQ(file.find().type, "icl8");
}

TEST(FinderIconFamily, DamagedCompressedMemberIsPassedOverSilently) {
  std::vector<Resource> members = family(kCustomIconId, {"ICN#", "icl4"});
  Bytes stored = vt::compressed_resource(8, 0, encoded("icl8"));
  stored.resize(stored.size() - 8);  // the stream ends early
  members.push_back({"icl8", kCustomIconId, stored, MACBIN_ATTR_PURGEABLE | 0x01});
  const IconFile file({"TEXT", "VARN", kCustomIconFlag, members});
  vt::recorded_messages().clear();
  EXPECT_EQ(file.find().type, "icl4");
  EXPECT_TRUE(vt::recorded_messages().empty());
}

TEST(FinderIconFamily, ColourMemberWhoseMaskCannotBeReadIsPassedOver) {
  // The decoder refuses icl8 and icl4 when their mask ICN# cannot be
  // decompressed; the small icon has its own mask.
  Bytes mask = vt::compressed_resource(8, 0, encoded("ICN#"));
  mask.resize(mask.size() - 8);
  std::vector<Resource> members = family(kCustomIconId, {"icl8", "icl4", "ics#"});
  members.push_back({"ICN#", kCustomIconId, mask, MACBIN_ATTR_PURGEABLE | 0x01});
  const IconFile file({"TEXT", "VARN", kCustomIconFlag, members});
  EXPECT_EQ(file.find().type, "ics#");
}

TEST(FinderIconFamily, DamagedCustomFamilyFallsThroughToTheBundle) {
  const IconFile file({"TEXT", "VARN", kCustomIconFlag,
                       std::vector<Resource>{{"ICN#", kCustomIconId, Bytes(100, 0xFF)},
                                             {"icl8", kCustomIconId, Bytes(12, 0)}} +
                           bundle_and_picture()});
  const IconFile::Found found = file.find();
  EXPECT_EQ(found.rule, MACBIN_FINDER_ICON_BUNDLE);
  EXPECT_EQ(found.id, 129);
}

TEST(FinderIconFamily, MemberInASecondEntryOfARepeatedType) {
  // A map that lists icl8 twice (made by hand or damaged): the family's
  // member is in the second entry, which lookups by type alone miss.
  vt::MacBinaryPlan plan;
  plan.flags = kCustomIconFlag;
  plan.types = {{"icl8", {{128, std::nullopt, encoded("icl8")}}},
                {"icl8", {{0xBFB9, std::nullopt, encoded("icl8")}}}};
  vt::TempDir dir;
  vt::write_file(dir.file("repeated.bin"), vt::build_macbinary(plan).bytes);
  vt::init_recording();
  MacBinChannel *channel = MacBin_OpenR(dir.file("repeated.bin").c_str());
  ASSERT_NE(channel, nullptr);
  ASSERT_EQ(channel->type_count, 2);
  char type[5] = "";
  int32_t id = 0;
  const MacBinRefEntry *ref = nullptr;
  EXPECT_EQ(MacBin_FindFinderIcon(channel, type, &id, &ref), MACBIN_FINDER_ICON_CUSTOM);
  EXPECT_STREQ(type, "icl8");
  EXPECT_EQ(ref, &channel->types[1].refs[0]);
  MacBin_Close(channel);
}

// ---- The bundle ------------------------------------------------------------------

TEST(FinderIconBundle, ApplicationIconFromItsOwnBundle) {
  // Two file types: APPL (local icon 0, family 128) and TEXT (local icon 1,
  // family 129); the application shows its own.
  const char *const lists =
      "0001 | two lists\n"
      "46524546 0001 | FREF, two entries\n"
      "0000 0080  0001 0081 | local 0 = FREF 128, local 1 = FREF 129\n"
      "49434E23 0001 | ICN#, two entries\n"
      "0001 0081  0000 0080 | local icon 1 = family 129, 0 = family 128\n";
  const std::vector<Resource> resources =
      std::vector<Resource>{{"BNDL", 128, bundle("VARN", lists)},
                            {"FREF", 128, fref("APPL", 0)},
                            {"FREF", 129, fref("TEXT", 1)}} +
      family(128, {"ICN#", "icl8"}) + family(129, {"ICN#"});
  const IconFile application({"APPL", "VARN", 0x2000, resources});
  const IconFile::Found found = application.find();
  EXPECT_EQ(found.rule, MACBIN_FINDER_ICON_BUNDLE);
  EXPECT_EQ(found.type, "icl8");
  EXPECT_EQ(found.id, 128);
  const IconFile document({"TEXT", "VARN", 0, resources});
  EXPECT_EQ(document.find().type, "ICN#");
  EXPECT_EQ(document.find().id, 129);
}

TEST(FinderIconBundle, BundleOfAnotherOwnerIsNotAsked) {
  const IconFile file({"TEXT", "OTHR", 0, bundle_and_picture()});
  EXPECT_EQ(file.find().rule, MACBIN_FINDER_ICON_PICTURE);
}

TEST(FinderIconBundle, SecondBundleOfTheOwnerIsAskedWhenTheFirstIsAnothers) {
  std::vector<Resource> resources = bundle_and_picture();
  resources[0].id = 129;
  resources.insert(resources.begin(), Resource{"BNDL", 128, bundle("OTHR", kOneTypeLists)});
  const IconFile file({"TEXT", "VARN", 0, resources});
  EXPECT_EQ(file.find().rule, MACBIN_FINDER_ICON_BUNDLE);
}

TEST(FinderIconBundle, NoFileReferenceForTheFilesType) {
  const IconFile file({"PDOC", "VARN", 0, bundle_and_picture()});
  EXPECT_EQ(file.find().rule, MACBIN_FINDER_ICON_PICTURE);
}

TEST(FinderIconBundle, MissingOrDamagedPiecesFallThroughToThePicture) {
  struct Case {
    const char *what;
    std::vector<Resource> resources;
  };
  const Resource pict{"PICT", 300, picture(0, 0, 40, 60)};
  const std::vector<Resource> family129 = family(129, {"ICN#"});
  const std::vector<Case> cases = {
      {"the family is missing", {{"BNDL", 128, bundle("VARN", kOneTypeLists)}, {"FREF", 128, fref("TEXT", 0)}, pict}},
      {"the FREF is missing", std::vector<Resource>{{"BNDL", 128, bundle("VARN", kOneTypeLists)}, pict} + family129},
      {"the FREF is cut short",
       std::vector<Resource>{{"BNDL", 128, bundle("VARN", kOneTypeLists)}, {"FREF", 128, hex("54455854 00")}, pict} +
           family129},
      {"the bundle claims more entries than it holds",
       std::vector<Resource>{{"BNDL", 128, bundle("VARN", "0001 46524546 0005 0000 0080")},
                             {"FREF", 128, fref("TEXT", 0)},
                             pict} +
           family129},
      {"the bundle has no ICN# list",
       std::vector<Resource>{{"BNDL", 128, bundle("VARN", "0000 46524546 0000 0000 0080")},
                             {"FREF", 128, fref("TEXT", 0)},
                             pict} +
           family129},
      {"the local icon ID is in no list",
       std::vector<Resource>{{"BNDL", 128, bundle("VARN", kOneTypeLists)}, {"FREF", 128, fref("TEXT", 7)}, pict} +
           family129},
      {"the family's only member is cut short",
       {{"BNDL", 128, bundle("VARN", kOneTypeLists)},
        {"FREF", 128, fref("TEXT", 0)},
        {"ICN#", 129, Bytes(127, 0)},
        pict}},
  };
  for (const Case &c : cases) {
    const IconFile file({"TEXT", "VARN", 0, c.resources});
    const IconFile::Found found = file.find();
    EXPECT_EQ(found.rule, MACBIN_FINDER_ICON_PICTURE) << c.what;
    EXPECT_EQ(found.id, 300) << c.what;
  }
}

// ---- Pictures -------------------------------------------------------------------

TEST(FinderIconPicture, PicturesTooShortOrEmptyAreNotChosen) {
  const IconFile file({"TEXT", "VARN", 0,
                       {{"PICT", 128, hex("0000 0000 0000 0010")},  // cut inside the frame
                        {"PICT", 129, picture(5, 5, 5, 50)},       // no rows
                        {"PICT", 130, Bytes{}}}});
  EXPECT_EQ(file.find().rule, MACBIN_FINDER_ICON_NONE);
}

TEST(FinderIconPicture, CompressedPictureByItsContents) {
  const IconFile file({"TEXT", "VARN", 0,
                       {{"PICT", 128, picture(0, 0, 10, 10)},
                        {"PICT", 129, vt::compressed_resource(8, 1, picture(0, 0, 100, 100)),
                         MACBIN_ATTR_PURGEABLE | 0x01}}});
  EXPECT_EQ(file.find().id, 129);
}

}  // namespace
