// QuickDraw drawing through MacBin_DecodePicture: lines, rectangles, round
// rectangles, ovals, arcs, polygons and regions in each verb and "same"
// form, the pen, patterns, transfer modes, the clip region and the
// origin.  Each picture is built opcode by opcode; the expected pixels are
// drawn by hand from QuickDraw's rules ('#' black, '.' white): coordinates
// are the lines between pixels, a rectangle covers the pixels inside its
// lines, the pen hangs below and to the right of its point, a frame is the
// shape less the shape inset by the pen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/pict_builder.hpp"
#include "support/support.hpp"
#include "varnel.h"

namespace {

using vt::Bytes;
using vt::DecodedPicture;
using vt::hex;
using vt::PictBuilder;
using vt::drawn;
using vt::lines;
using vt::point;
using vt::rect;

Bytes operator+(const Bytes &a, const Bytes &b) { return vt::concat({a, b}); }

// ---- Rectangles -------------------------------------------------------------

TEST(DrawRectangles, EachVerbCoversThePixelsInsideItsLines) {
  // paintRect in the pen pattern (black), frameRect with a 1 x 1 pen.
  EXPECT_EQ(drawn(PictBuilder(4, 6).op(0x31, rect(1, 1, 3, 4))),
            lines({"......", ".###..", ".###..", "......"}));
  EXPECT_EQ(drawn(PictBuilder(5, 6).op(0x30, rect(0, 1, 5, 5))),
            lines({".####.", ".#..#.", ".#..#.", ".#..#.", ".####."}));
  // A 2 x 2 frame is all frame; an empty rectangle draws nothing.
  EXPECT_EQ(drawn(PictBuilder(3, 3).op(0x30, rect(0, 0, 2, 2)).op(0x31, rect(2, 2, 2, 3))),
            lines({"##.", "##.", "..."}));
  // eraseRect in the background pattern, invertRect, fillRect in the fill
  // pattern, over a painted rectangle.
  EXPECT_EQ(drawn(PictBuilder(3, 6)
                      .op(0x31, rect(0, 0, 3, 6))
                      .op(0x32, rect(0, 0, 1, 2))
                      .op(0x33, rect(1, 0, 3, 3))
                      .op(0x33, rect(2, 1, 3, 2))
                      .op(0x0A, hex("AA AA AA AA AA AA AA AA"))
                      .op(0x34, rect(0, 3, 1, 6))),
            lines({"..#.#.", "...###", ".#.###"}));
}

TEST(DrawRectangles, PenSizeSetsTheFrameWidthAndHeight) {
  // PnSize is (v, h): 2 high, 3 wide.
  EXPECT_EQ(drawn(PictBuilder(7, 9).op(0x07, point(3, 2)).op(0x30, rect(0, 0, 7, 9))),
            lines({"#########", "#########", "###...###", "###...###", "###...###", "#########",
                   "#########"}));
  // A pen of 0 draws no frame; a pen wider than half the rectangle fills it.
  EXPECT_EQ(drawn(PictBuilder(2, 3).op(0x07, point(0, 1)).op(0x30, rect(0, 0, 2, 3))), lines({"...", "..."}));
  EXPECT_EQ(drawn(PictBuilder(2, 3).op(0x07, point(2, 2)).op(0x30, rect(0, 0, 2, 3))), lines({"###", "###"}));
}

TEST(DrawRectangles, SameFormsDrawTheLastRectangleAgain) {
  // frameRect, then paintSameRect, invertSameRect of a second one.
  EXPECT_EQ(drawn(PictBuilder(3, 8)
                      .op(0x30, rect(0, 0, 3, 3))
                      .op(0x39)
                      .op(0x31, rect(0, 4, 2, 8))
                      .op(0x3B)),
            lines({"###.....", "###.....", "###....."}));
  // One rectangle serves rectangles, ovals and round rectangles alike.
  EXPECT_EQ(drawn(PictBuilder(2, 4).op(0x33, rect(0, 0, 2, 4)).op(0x5B)), lines({"....", "...."}));
}

// ---- Lines ----------------------------------------------------------------

TEST(DrawLines, BothEndsAreDrawnAndEachStepRoundsAwayFromTheStart) {
  EXPECT_EQ(drawn(PictBuilder(5, 9).op(0x20, point(1, 1) + point(8, 4))),
            lines({".........", ".##......", "...##....", ".....##..", ".......##"}));
  // From (4, 2) back to (0, 0): the halves round away from the start.
  EXPECT_EQ(drawn(PictBuilder(3, 5).op(0x20, point(4, 2) + point(0, 0))), lines({"##...", "..##.", "....#"}));
  EXPECT_EQ(drawn(PictBuilder(3, 5).op(0x20, point(0, 0) + point(4, 2))), lines({"#....", ".##..", "...##"}));
  // Steep: one pixel a row.
  EXPECT_EQ(drawn(PictBuilder(5, 3).op(0x20, point(2, 0) + point(0, 4))),
            lines({"..#", ".#.", ".#.", "#..", "#.."}));
}

TEST(DrawLines, LineFromAndShortFormsStartAtThePen) {
  // Line to (2, 0), LineFrom to (2, 2), ShortLineFrom (-2, 0), ShortLine
  // from (4, 0) by (0, 2).
  EXPECT_EQ(drawn(PictBuilder(3, 5)
                      .op(0x20, point(0, 0) + point(2, 0))
                      .op(0x21, point(2, 2))
                      .op(0x23, hex("FE 00"))
                      .op(0x22, point(4, 0) + hex("00 02"))),
            lines({"###.#", "..#.#", "###.#"}));
}

TEST(DrawLines, ThePenHangsBelowAndRightOfEachPoint) {
  EXPECT_EQ(drawn(PictBuilder(6, 10).op(0x07, point(2, 2)).op(0x20, point(1, 1) + point(8, 4))),
            lines({"..........", ".###......", ".#####....", "...#####..", ".....#####", ".......###"}));
  // In a pen pattern: the pattern shows through where the pen passes.
  EXPECT_EQ(drawn(PictBuilder(2, 8)
                      .op(0x07, point(8, 2))
                      .op(0x09, hex("F0 0F F0 0F F0 0F F0 0F"))
                      .op(0x20, point(0, 0) + point(0, 0))),
            lines({"####....", "....####"}));
}

// ---- Ovals, round rectangles, arcs ------------------------------------------

TEST(DrawOvals, PixelsWhoseCentresAreInside) {
  EXPECT_EQ(drawn(PictBuilder(6, 8).op(0x51, rect(0, 0, 6, 8))),
            lines({"..####..", ".######.", "########", "########", ".######.", "..####.."}));
  // A 2 x 2 oval is its four pixels; frameOval is the oval less the oval
  // inset by the pen.
  EXPECT_EQ(drawn(PictBuilder(2, 2).op(0x51, rect(0, 0, 2, 2))), lines({"##", "##"}));
  EXPECT_EQ(drawn(PictBuilder(8, 8).op(0x50, rect(0, 0, 8, 8))),
            lines({"..####..", ".#....#.", "#......#", "#......#", "#......#", "#......#", ".#....#.",
                   "..####.."}));
  // eraseOval, invertOval, fillOval, and the same forms.
  EXPECT_EQ(drawn(PictBuilder(4, 8)
                      .op(0x31, rect(0, 0, 4, 8))
                      .op(0x52, rect(0, 0, 4, 4))
                      .op(0x53, rect(0, 4, 4, 8))
                      .op(0x5B)
                      .op(0x5B)),
            lines({"#..##..#", "........", "........", "#..##..#"}));
}

TEST(DrawOvals, RoundRectanglesHaveOvalCorners) {
  // OvSize (v, h) 4 x 4: quarter ovals of a 4 x 4 oval at each corner.
  EXPECT_EQ(drawn(PictBuilder(6, 8).op(0x0B, point(4, 4)).op(0x41, rect(0, 0, 6, 8))),
            lines({".######.", "########", "########", "########", "########", ".######."}));
  EXPECT_EQ(drawn(PictBuilder(6, 10).op(0x0B, point(6, 6)).op(0x40, rect(0, 0, 6, 10))),
            lines({".########.", "##......##", "#........#", "#........#", "##......##", ".########."}));
  // An oval size of zero is a plain rectangle; paintSameRRect.
  EXPECT_EQ(drawn(PictBuilder(2, 3).op(0x30, rect(0, 0, 2, 3)).op(0x49)), lines({"###", "###"}));
}

TEST(DrawOvals, ArcsRunClockwiseFromTwelveOClockScaledToTheRectangle) {
  // paintArc 0 to 90 degrees: the top right quarter; 90 for 180 degrees:
  // the bottom half; a negative arc runs the other way.
  EXPECT_EQ(drawn(PictBuilder(4, 4).op(0x61, rect(0, 0, 4, 4) + vt::be_words({0, 90}))),
            lines({"..#.", "..##", "....", "...."}));
  EXPECT_EQ(drawn(PictBuilder(4, 8).op(0x61, rect(0, 0, 4, 8) + vt::be_words({90, 180}))),
            lines({"........", "........", "########", ".######."}));
  EXPECT_EQ(drawn(PictBuilder(4, 4).op(0x61, rect(0, 0, 4, 4) + vt::be_words({0, -90}))),
            lines({".#..", "##..", "....", "...."}));
  // 45 degrees meets the corner of a wide rectangle: the wedge from 0 to
  // 45 holds the pixels of the top right quarter above its diagonal.
  EXPECT_EQ(drawn(PictBuilder(4, 8).op(0x61, rect(0, 0, 4, 8) + vt::be_words({0, 45}))),
            lines({"....###.", "....#...", "........", "........"}));
  // frameArc draws the arc of the frame alone; paintSameArc uses the last
  // rectangle with its own angles.
  EXPECT_EQ(drawn(PictBuilder(8, 8).op(0x60, rect(0, 0, 8, 8) + vt::be_words({180, 90}))),
            lines({"........", "........", "........", "........", "#.......", "#.......", ".#......",
                   "..##...."}));
  // (The frame, inverted, leaves the inside black.)
  EXPECT_EQ(drawn(PictBuilder(4, 4)
                      .op(0x30, rect(0, 0, 4, 4))
                      .op(0x33, rect(0, 0, 4, 4))
                      .op(0x69, vt::be_words({270, 90}))),
            lines({".#..", "###.", ".##.", "...."}));
}

// ---- Polygons ---------------------------------------------------------------

TEST(DrawPolygons, PaintCoversPixelCentresInsideAndFrameDrawsTheLines) {
  // A rectangle as a polygon paints as the rectangle does.
  EXPECT_EQ(drawn(PictBuilder(4, 6).op(0x71, vt::polygon({{1, 1}, {5, 1}, {5, 3}, {1, 3}}))),
            lines({"......", ".####.", ".####.", "......"}));
  // A triangle: the pixels with centres inside x + y < 4; its frame is the lines between its points (not closed
  // unless the last point is the first).
  EXPECT_EQ(drawn(PictBuilder(5, 5).op(0x71, vt::polygon({{0, 0}, {4, 0}, {0, 4}, {0, 0}}))),
            lines({"###..", "##...", "#....", ".....", "....."}));
  EXPECT_EQ(drawn(PictBuilder(5, 5).op(0x70, vt::polygon({{0, 0}, {4, 0}, {0, 4}}))),
            lines({"#####", "...#.", "..#..", ".#...", "#...."}));
  // erasePoly, invertPoly, fillPoly and the same forms.
  EXPECT_EQ(drawn(PictBuilder(2, 4)
                      .op(0x31, rect(0, 0, 2, 4))
                      .op(0x72, vt::polygon({{0, 0}, {2, 0}, {2, 2}, {0, 2}}))
                      .op(0x0A, hex("00 FF 00 FF 00 FF 00 FF"))
                      .op(0x7C)
                      .op(0x73, vt::polygon({{3, 0}, {4, 0}, {4, 2}, {3, 2}}))),
            lines({"..#.", "###."}));
}

// ---- Regions ----------------------------------------------------------------

TEST(DrawRegions, AllFiveFormsAndTheSameForms) {
  // An L: rows 0-1 columns 0-4, rows 2-3 columns 0-2.
  const Bytes l_shape = vt::region(0, 0, 4, 4, {{0, 0, 4}, {2, 2, 4}, {4, 0, 2}});
  EXPECT_EQ(drawn(PictBuilder(4, 5).op(0x81, l_shape)), lines({"####.", "####.", "##...", "##..."}));
  EXPECT_EQ(drawn(PictBuilder(4, 5).op(0x80, l_shape)), lines({"####.", "####.", "##...", "##..."}));
  const Bytes block = vt::region(0, 0, 5, 5, {{0, 0, 5}, {5, 0, 5}});
  EXPECT_EQ(drawn(PictBuilder(5, 5).op(0x80, block)), lines({"#####", "#...#", "#...#", "#...#", "#####"}));
  EXPECT_EQ(drawn(PictBuilder(5, 5)
                      .op(0x31, rect(0, 0, 5, 5))
                      .op(0x82, vt::region(1, 1, 4, 4, {{1, 1, 4}, {4, 1, 4}}))
                      .op(0x8B)
                      .op(0x0A, hex("80 80 80 80 80 80 80 80"))
                      .op(0x84, vt::region(4, 0, 5, 5, {{4, 0, 5}, {5, 0, 5}}))),
            lines({"#####", "#####", "#####", "#####", "#...."}));
  // Overlapping inversion points cancel rather than stack.
  EXPECT_EQ(drawn(PictBuilder(2, 6).op(0x81, vt::region(0, 0, 2, 6, {{0, 0, 4, 2, 6}, {2, 0, 4, 2, 6}}))),
            lines({"##..##", "##..##"}));
}

// ---- Clip region and origin -------------------------------------------------

TEST(DrawClipping, TheClipRegionBoundsEveryShape) {
  // A rectangular clip, then a non-rectangular one (a 2 x 2 checker).
  EXPECT_EQ(drawn(PictBuilder(3, 4).op(0x01, vt::region(1, 1, 3, 3, {})).op(0x31, rect(0, 0, 3, 4))),
            lines({"....", ".##.", ".##."}));
  EXPECT_EQ(drawn(PictBuilder(2, 4)
                      .op(0x01, vt::region(0, 0, 2, 4, {{0, 0, 2}, {1, 0, 4}, {2, 2, 4}}))
                      .op(0x20, point(0, 0) + point(3, 0))
                      .op(0x20, point(0, 1) + point(3, 1))),
            lines({"##..", "..##"}));
}

TEST(DrawClipping, OriginMovesTheLocalCoordinates) {
  // After Origin (dh 2, dv 1), local (2, 1) is the picture's (0, 0).
  EXPECT_EQ(drawn(PictBuilder(3, 4).op(0x0C, vt::be_words({2, 1})).op(0x31, rect(1, 2, 3, 4))),
            lines({"##..", "##..", "...."}));
  // Patterns stay aligned to the picture, not to the local coordinates.
  EXPECT_EQ(drawn(PictBuilder(1, 8)
                      .op(0x09, hex("F0 F0 F0 F0 F0 F0 F0 F0"))
                      .op(0x0C, vt::be_words({1, 0}))
                      .op(0x31, rect(0, 1, 1, 9))),
            lines({"####...."}));
}

}  // namespace

// ---- Patterns and transfer modes --------------------------------------------

namespace modes {

// A 1 x 4 picture: columns 0-1 painted `under` (RGB), then columns 1-2 painted
// in the foreground colour `over` by `mode`, with OpColor `op`.
std::string mixed(uint32_t under, uint32_t over, int mode, const Bytes &op) {
  const auto rgb = [](uint32_t c) {
    return vt::be_words({static_cast<int>(((c >> 16) & 0xFF) * 0x101), static_cast<int>(((c >> 8) & 0xFF) * 0x101),
                         static_cast<int>((c & 0xFF) * 0x101)});
  };
  PictBuilder picture(1, 4);
  picture.op(0x1A, rgb(under)).op(0x31, rect(0, 0, 1, 2));
  picture.op(0x1A, rgb(over)).op(0x1F, op).op(0x08, vt::be_words({mode})).op(0x31, rect(0, 1, 1, 3));
  DecodedPicture d(picture.finish());
  EXPECT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "");
  char text[40];
  std::snprintf(text, sizeof text, "%06X %06X %06X %06X", d.rgb(0, 0), d.rgb(1, 0), d.rgb(2, 0), d.rgb(3, 0));
  return text;
}

}  // namespace modes

TEST(DrawModes, ArithmeticModesMixTheColours) {
  using modes::mixed;
  const Bytes half = vt::hex("80 00 80 00 80 00"), pins = vt::hex("C0 00 40 00 20 00");
  // Over 0x204060 (columns 0-1) and white (column 2), with 0x608020:
  EXPECT_EQ(mixed(0x204060, 0x608020, 32, half), "204060 406040 AFBF8F FFFFFF");  // blend: half of each
  EXPECT_EQ(mixed(0x204060, 0x608020, 33, pins), "204060 804020 C04020 FFFFFF");  // addPin: sum, at most the pin
  EXPECT_EQ(mixed(0x204060, 0x608020, 34, pins), "204060 80C080 5F7F1F FFFFFF");  // addOver: sum, wrapping
  EXPECT_EQ(mixed(0x204060, 0x608020, 35, pins), "204060 C04040 C07FDF FFFFFF");  // subPin: less, at least the pin
  EXPECT_EQ(mixed(0x204060, 0x608020, 37, pins), "204060 608060 FFFFFF FFFFFF");  // addMax
  EXPECT_EQ(mixed(0x204060, 0x608020, 38, pins), "204060 C0C040 9F7FDF FFFFFF");  // subOver: less, wrapping
  EXPECT_EQ(mixed(0x204060, 0x608020, 39, pins), "204060 204020 608020 FFFFFF");  // addMin
  // transparent: everything but the background colour (white) is copied.
  EXPECT_EQ(mixed(0x204060, 0x608020, 36, pins), "204060 608020 608020 FFFFFF");
  EXPECT_EQ(mixed(0x204060, 0xFFFFFF, 36, pins), "204060 204060 FFFFFF FFFFFF");
}

TEST(DrawModes, HiliteSwapsTheBackgroundAndTheHighlightColour) {
  // HiliteColor red; column 0-1 black, then hilite over columns 1-2.
  PictBuilder picture(1, 4);
  picture.op(0x1D, vt::hex("FF FF 00 00 00 00")).op(0x31, rect(0, 0, 1, 2));
  picture.op(0x08, vt::be_words({50})).op(0x31, rect(0, 1, 1, 3)).op(0x31, rect(0, 3, 1, 4));
  picture.op(0x31, rect(0, 3, 1, 4));
  DecodedPicture d(picture.finish());
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_EQ(d.rows({{0xFF0000, 'R'}}), "##R.\n");
}

TEST(DrawModes, PatternModesAndTheirNotForms) {
  // Over ####...., the pattern ##..##.. in patCopy to notPatBic.
  const char *expected[] = {"##..##..", "######..", "..####..", "..##....",
                            "..##..##", "####..##", "##....##", "##......"};
  for (int mode = 8; mode < 16; ++mode) {
    PictBuilder picture(1, 8);
    picture.op(0x31, rect(0, 0, 1, 4)).op(0x08, vt::be_words({mode})).op(0x09, vt::hex("CC CC CC CC CC CC CC CC"));
    picture.op(0x31, rect(0, 0, 1, 8));
    EXPECT_EQ(drawn(picture), std::string(expected[mode - 8]) + "\n") << "mode " << mode;
  }
  // A mode QuickDraw does not define is drawn as patCopy and named.
  DecodedPicture d(PictBuilder(1, 2).op(0x08, vt::be_words({20})).op(0x31, rect(0, 0, 1, 1)).finish());
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "not drawn: 0x0031/mode 20");
  EXPECT_EQ(d.rows(), "#.\n");
}

TEST(DrawPatterns, PixelPatternsDrawTheirOwnColours) {
  // PnPixPat of type 2 (a colour: green), then FillPixPat of type 1: a
  // 2 x 2 pixel map of 2 bits, tiled from the picture's (0, 0).
  PictBuilder picture(2, 6);
  picture.op(0x13, vt::hex("00 02  FF FF FF FF FF FF FF FF  00 00 FF FF 00 00")).op(0x31, rect(0, 0, 2, 2));
  picture.op(0x14, vt::hex("00 01  00 00 00 00 00 00 00 00 | type 1, the old pattern\n"
                           "80 02  00 00 00 00 00 02 00 02 | row bytes (pixel map flag), bounds\n"
                           "00 00 00 00  00 00 00 00  00 48 00 00  00 48 00 00 | version, pack type and size, resolution\n"
                           "00 00 00 02 00 01 00 02 | indexed, 2 bits, 1 component of 2 bits\n"
                           "00 00 00 00  00 00 00 00  00 00 00 00 | plane bytes, table, reserved\n"
                           "00 00 00 00 00 00 00 03 | colour table: seed, flags, 4 entries\n"
                           "00 00 FFFF 0000 0000  00 01 0000 0000 FFFF  00 02 0000 FFFF 0000  00 03 0000 0000 0000\n"
                           "10 00  E0 00 | rows: 0 1, then 3 2"));
  picture.op(0x34, rect(0, 2, 2, 6));
  DecodedPicture d(picture.finish());
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "");
  EXPECT_EQ(d.rows({{0x00FF00, 'G'}, {0x0000FF, 'B'}, {0xFF0000, 'R'}}), "GGRBRB\nGG#G#G\n");
}

// ---- Bounds -----------------------------------------------------------------

TEST(DrawBounds, FramesOverTheMemoryLimitAreRefusedBeforeAnythingIsAllocated) {
  // 42 bytes: an empty 16384 x 16384 frame would be 1 GiB of pixels.
  const Bytes huge = PictBuilder(16384, 16384).finish();
  DecodedPicture d(huge);
  EXPECT_EQ(d.result, 0);
  EXPECT_STREQ(d.error, "picture frame 16384 x 16384 needs 1024 MiB, more than the limit of 256 MiB");
  EXPECT_EQ(d.pixels.rgba, nullptr);
  // A host's own limit: 10 x 10 pictures (400 bytes) pass, 11 x 10 do not.
  const int64_t before = MacBin_SetPictureMemoryLimit(400);
  EXPECT_EQ(before, MACBIN_DEFAULT_PICTURE_BYTES);
  EXPECT_EQ(DecodedPicture(PictBuilder(10, 10).finish()).result, 1);
  DecodedPicture over(PictBuilder(11, 10).finish());
  EXPECT_EQ(over.result, 0);
  EXPECT_STREQ(over.error, "picture frame 10 x 11 needs 1 MiB, more than the limit of 1 MiB");
  EXPECT_EQ(MacBin_SetPictureMemoryLimit(before), 400);
  EXPECT_EQ(MacBin_SetPictureMemoryLimit(-5), MACBIN_DEFAULT_PICTURE_BYTES);
}

TEST(DrawBounds, DrawingStopsWithAReasonPastItsWorkBudget) {
  // 1,000 one-pixel bit images, each scaled over a 512 x 512 frame: each
  // visits every pixel, so the budget (64 visits a pixel) ends the drawing
  // at the 65th, which the reason names by its offset.
  PictBuilder picture(512, 512);
  const Bytes image = vt::be_words({2}) + rect(0, 0, 1, 8) + rect(0, 0, 1, 1) + rect(0, 0, 512, 512) +
                      vt::be_words({0}) + vt::hex("80 00");
  for (int i = 0; i < 1000; ++i) picture.op(0x90, image);
  DecodedPicture d(picture.finish());
  ASSERT_EQ(d.result, 1) << d.error;
  // Each opcode takes 2 + 30 bytes from offset 40.
  EXPECT_STREQ(d.error, ("not drawn: everything from opcode 0x0090 at offset " + std::to_string(40 + 64 * 32) +
                         " (drawing work limit)").c_str());
  EXPECT_EQ(d.rgb(0, 0), 0u);
  EXPECT_EQ(d.rgb(511, 511), 0u);
}

TEST(DrawBounds, HugeShapesAreClippedToTheCanvas) {
  // A pen of 32767 x 32767 drawn corner to corner, a 32767-wide oval and a
  // round rectangle, a polygon of 16,000 points zigzagging across the
  // frame, and a region of as many overlapping runs: each drawn within the
  // 64 x 64 canvas, quickly.
  PictBuilder picture(64, 64);
  picture.op(0x07, point(32767, 32767)).op(0x20, point(-32768, -32768) + point(32767, 32767));
  DecodedPicture pen(picture.finish());
  ASSERT_EQ(pen.result, 1) << pen.error;
  EXPECT_EQ(pen.rows().find('.'), std::string::npos);

  PictBuilder shapes(64, 64);
  shapes.op(0x50, rect(-32768, -32768, 32767, 32767)).op(0x0B, point(30000, 30000)).op(0x43, rect(-30000, 0, 30000, 64));
  std::vector<std::pair<int, int>> zigzag;
  for (int i = 0; i < 16000; ++i) zigzag.push_back({i % 2 ? 32000 : -32000, i % 64});
  shapes.op(0x71, vt::polygon(zigzag));
  std::vector<int> runs{0};
  for (int i = 0; i < 8000; ++i) runs.push_back(-30000 + i * 7), runs.push_back(30000 - i * 7);
  std::sort(runs.begin() + 1, runs.end());
  shapes.op(0x83, vt::region(0, -30000, 64, 30000, {runs, {64, -30000, 30000}}));
  DecodedPicture d(shapes.finish());
  ASSERT_EQ(d.result, 1) << d.error;
  EXPECT_STREQ(d.error, "");
}
