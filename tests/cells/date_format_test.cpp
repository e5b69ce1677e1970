// Which format codes and built-in formats count as dates.
#include <gtest/gtest.h>

#include "cells/date_format.h"
#include "cells/iso_duration.h"

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

// Dates, durations and times of day told apart, by code and by built-in id.
TEST(DateFormat, NumberKinds) {
  struct Case {
    const char* code;
    NumberKind kind;
  } cases[] = {
      {"yyyy-mm-dd", NumberKind::DateTime},
      {"dd/mm/yyyy hh:mm", NumberKind::DateTime},
      {"mmm", NumberKind::DateTime},            // a month alone
      {"mmm-yy", NumberKind::DateTime},
      {"[h]:mm:ss", NumberKind::Duration},
      {"[mm]:ss", NumberKind::Duration},
      {"[s]", NumberKind::Duration},
      {"[HH]:MM", NumberKind::Duration},
      {"hh:mm", NumberKind::TimeOfDay},
      {"h:mm AM/PM", NumberKind::TimeOfDay},    // AM/PM holds no month
      {"h:mm:ss A/P", NumberKind::TimeOfDay},
      {"mm:ss", NumberKind::TimeOfDay},         // minutes before seconds
      {"mm:ss.0", NumberKind::TimeOfDay},
      {"[$-409]h:mm:ss", NumberKind::TimeOfDay},
      {"\"day\" hh", NumberKind::TimeOfDay},    // quoted letters are text
      {"0.00", NumberKind::Plain},
      {"hh:mm;yyyy", NumberKind::TimeOfDay},    // the first section decides
  };
  for (const Case& c : cases) EXPECT_EQ(numberKindOfCode(c.code), c.kind) << c.code;
  for (int id = 0; id < 200; ++id) {
    const NumberKind kind = builtInNumberKind(id);
    EXPECT_EQ(kind != NumberKind::Plain, isBuiltInDateFormat(id)) << id;
    if (id == 46) {
      EXPECT_EQ(kind, NumberKind::Duration);
    }
    if ((id >= 18 && id <= 21) || id == 45 || id == 47) {
      EXPECT_EQ(kind, NumberKind::TimeOfDay) << id;
    }
  }
}

TEST(IsoDuration, Forms) {
  struct Case {
    const char* text;
    bool valid;
    std::int64_t micros;
  } cases[] = {
      {"PT24H0M0.000S", true, 86400000000},
      {"P1DT2H", true, 93600000000},
      {"P2W", true, 1209600000000},
      {"PT0.5S", true, 500000},
      {"PT1,25S", true, 1250000},
      {"-PT1M", true, -60000000},
      {"PT36H", true, 129600000000},
      {"P1Y", false, 0},           // years have no fixed length
      {"P1M", false, 0},           // nor months
      {"PT", false, 0},
      {"P", false, 0},
      {"PT1S2M", false, 0},        // out of order
      {"PT1.5M2S", false, 0},      // a fraction before the last part
      {"2024-01-01", false, 0},
      {"PT1H ", false, 0},
  };
  for (const Case& c : cases) {
    std::int64_t micros = 0;
    EXPECT_EQ(isoDurationToMicros(c.text, micros), c.valid) << c.text;
    if (c.valid) {
      EXPECT_EQ(micros, c.micros) << c.text;
    }
  }
}

}  // namespace
}  // namespace tabulon
