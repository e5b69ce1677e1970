#include "parse/styles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Flags = std::vector<int>;

TEST(Styles, DateFlagsOfCellFormats) {
  struct Case {
    std::string part;
    Flags expected;
  };
  const Case cases[] = {
      {"<cellXfs count=\"3\"><xf numFmtId=\"0\" fontId=\"0\"/><xf numFmtId=\"14\" fontId=\"0\" "
       "applyNumberFormat=\"1\"/><xf numFmtId=\"164\" fontId=\"0\"/></cellXfs>",
       {0, 1, 0}},
      // the built-in dates run from 14 to 22; 12 and 13 are fractions
      {"<cellXfs><xf numFmtId=\"12\"/><xf numFmtId=\"13\"/><xf numFmtId=\"14\"/><xf numFmtId=\"22\"/>"
       "<xf numFmtId=\"11\"/><xf numFmtId=\"23\"/><xf numFmtId=\"-14\"/></cellXfs>",
       {0, 0, 1, 1, 0, 0, 0}},
      // numFmtId anywhere in the tag, either quotes, white space, whole name only
      {"<cellXfs><xf fontId='0' numFmtId = ' 15 '/><xf xfId=\"0\" numFmtId=\"20\" />"
       "<xf x:numFmtId=\"14\"/><xf applyNumFmtId=\"14\"/></cellXfs>",
       {1, 1, 0, 0}},
      // parsed as far as it reads as an int; otherwise the default id 0
      {"<cellXfs><xf numFmtId=\"14.5\"/><xf numFmtId=\"abc\"/><xf numFmtId=\"\"/>"
       "<xf numFmtId=\"99999999999\"/><xf numFmtId=\"+14\"/></cellXfs>",
       {1, 0, 0, 0, 0}},
      // a missing id is 0, not the previous element's
      {"<cellXfs><xf numFmtId=\"14\"/><xf fontId=\"1\"/></cellXfs>", {1, 0}},
      // child elements belong to their xf
      {"<cellXfs count=\"2\"><xf numFmtId=\"20\"><alignment wrapText=\"1\"/></xf>"
       "<xf numFmtId=\"0\">\n <protection locked=\"0\"></protection>\n</xf></cellXfs>",
       {1, 0}},
      // prefixed elements
      {"<x:styleSheet><x:cellXfs count=\"2\"><x:xf numFmtId=\"0\"/><x:xf numFmtId=\"14\"/>"
       "</x:cellXfs></x:styleSheet>",
       {0, 1}},
      // cell-style formats and later lists never count
      {"<cellStyleXfs count=\"2\"><xf numFmtId=\"14\"/><xf numFmtId=\"22\"/></cellStyleXfs>"
       "<cellXfs count=\"1\"><xf numFmtId=\"0\"/></cellXfs>"
       "<cellStyles><cellStyle name=\"Normal\" xfId=\"0\"/></cellStyles>"
       "<dxfs><dxf><numFmt numFmtId=\"14\"/></dxf></dxfs><extLst><xf numFmtId=\"14\"/></extLst>",
       {0}},
      // the count attribute is not trusted either way
      {"<cellXfs count=\"0\"/>", {}},
      {"<cellXfs count=\"0\"></cellXfs>", {}},
      {"<cellXfs count=\"2\"><xf numFmtId=\"14\"/></cellXfs>", {1}},
      {"<cellXfs count=\"1\"><xf numFmtId=\"14\"/><xf numFmtId=\"0\"/></cellXfs>", {1, 0}},
      {"<cellXfs><xf numFmtId=\"14\"/></cellXfs><cellStyles count=\"5\"/>", {1}},
      // a list cut off by the end of text, an xf left open
      {"<cellXfs><xf numFmtId=\"14\"/><xf numFmtId=\"16\"", {1}},
      {"<cellXfs><xf numFmtId=\"14\"><alignment/><xf numFmtId=\"0\"/></cellXfs>", {1, 0}},
      {"<styleSheet><numFmts count=\"1\"/><fonts/></styleSheet>", {}},
      {"<cellXfs", {}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(getStyles(c.part), c.expected) << c.part;
}

}  // namespace
