// Which format codes and built-in formats count as dates.
#include <gtest/gtest.h>

#include "cells/date_format.h"

namespace tabulon {
namespace {

TEST(DateFormat, FormatCodes) {
  struct Case {
    const char* code;
    bool date;
  };
  const Case cases[] = {
      {"yyyy-mm-dd", true},
      {"d/m/yy h:mm", true},
      {"[$-409]mmmm d, yyyy", true},
      {"hh:mm:ss AM/PM", true},
      {"[h]:mm", true},
      {"[mm]:ss", true},
      {"[ss]", true},
      {"General", false},
      {"0.00", false},
      {"#,##0.00_);[Red](#,##0.00)", false},
      {"0.00E+00", false},
      {"@", false},
      {"0\" days\"", false},        // quoted text
      {"0\\d", false},              // an escaped character
      {"[Red]0.00", false},         // a colour
      {"[>=100]0;0.0", false},      // a condition
      {"[$USD-409] #,##0", false},  // a locale and currency
      {"_(* #,##0_)", false},       // padding
      {"0;[Red]yyyy", false},       // only the first section counts
      {"\"unclosed", false},
      {"[unclosed", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isDateFormatCode(c.code), c.date) << c.code;
}

TEST(DateFormat, BuiltInIds) {
  for (int id = 0; id < 200; ++id) {
    const bool expected = (id >= 14 && id <= 22) || (id >= 45 && id <= 47);
    EXPECT_EQ(isBuiltInDateFormat(id), expected) << id;
  }
}

}  // namespace
}  // namespace tabulon
