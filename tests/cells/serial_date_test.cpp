#include "cells/serial_date.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <ctime>
#include <limits>
#include <string>

namespace {

struct SerialCase {
  double serial;
  const char* text;
};

TEST(ExcelSerialToDMY, WorkedExamples) {
  const SerialCase cases[] = {
      {0, "1899-12-31 00:00:00"},
      {0.5, "1899-12-31 12:00:00"},
      {1, "1900-01-01 00:00:00"},
      {1.25, "1900-01-01 06:00:00"},
      {59, "1900-02-28 00:00:00"},
      {59.5, "1900-02-28 12:00:00"},  // shifted to 60.5, not the leap day
      {60, "1900-02-29 00:00:00"},
      {60.5, "1900-02-28 12:00:00"},
      {61, "1900-03-01 00:00:00"},
      {366, "1900-12-31 00:00:00"},
      {25569, "1970-01-01 00:00:00"},
      {36526, "2000-01-01 00:00:00"},
      {45000.5, "2023-03-15 12:00:00"},
      {45292.75, "2024-01-01 18:00:00"},
      {0.3, "1899-12-31 07:12:00"},
      {1.0 / 3.0, "1899-12-31 08:00:00"},
      {44927.9999999, "2023-01-01 23:59:59"},
      {44927.99999999, "2023-01-01 24:00:00"},
      {-1, "1899-12-30 00:00:00"},
      {-0.5, "1899-12-30 12:00:00"},
      {2958465, "9999-12-31 00:00:00"},
      {2958465.999, "9999-12-31 23:58:33"},
      // A fraction a hair below midnight keeps its day (hour 24), even where
      // adding the day offsets in floating point would round up to year 10000.
      {2958465.9999999995, "9999-12-31 24:00:00"},
      {-328717, "1000-01-01 00:00:00"},
  };
  for (const SerialCase& c : cases) EXPECT_EQ(ExcelSerialToDMY(c.serial), c.text) << c.serial;
}

TEST(ExcelSerialToDMY, YearsBelowOneThousandAreNotPadded) {
  const SerialCase cases[] = {
      {-328718, "999-12-31 00:00:00"},
      {-657741, "99-03-01 00:00:00"},
      {-693960, "0-01-01 00:00:00"},
  };
  for (const SerialCase& c : cases) EXPECT_EQ(ExcelSerialToDMY(c.serial), c.text) << c.serial;
}

TEST(ExcelSerialToDMY, UnrenderableValuesGiveEmptyText) {
  const double cases[] = {
      std::numeric_limits<double>::quiet_NaN(),
      std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(),
      2958466,     // year 10000
      -693961,     // year -1
      -2483589,    // before the day numbers start
      2147483647.0,
      4294967296.0,
      1e300,
      -1e300,
      std::numeric_limits<double>::max(),
      std::numeric_limits<double>::lowest(),
  };
  for (double serial : cases) EXPECT_EQ(ExcelSerialToDMY(serial), "") << serial;
}

std::string viaStrftime(int day, int month, int year, int hour, int minute, int second) {
  std::tm fields{};
  fields.tm_mday = day;
  fields.tm_mon = month - 1;
  fields.tm_year = year - 1900;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  char buf[20];
  return std::string(buf, std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &fields));
}

TEST(CreateTS, PrintsFieldsLikeStrftimeWithoutNormalising) {
  EXPECT_EQ(CreateTS(15, 3, 2023, 12, 0, 0), "2023-03-15 12:00:00");
  EXPECT_EQ(CreateTS(1, 1, 2023, 24, 0, 0), "2023-01-01 24:00:00");
  EXPECT_EQ(CreateTS(31, 2, 2023, 0, 0, 0), "2023-02-31 00:00:00");

  const int years[] = {-1000, -1, 0, 7, 99, 999, 1000, 1900, 2024, 9999, 10000};
  const int fields[] = {-10, -1, 0, 1, 9, 10, 12, 24, 31, 59, 60, 99, 100, 1000};
  for (int year : years) {
    for (int a : fields) {
      for (int b : fields) {
        EXPECT_EQ(CreateTS(a, b, year, b, a, 7), viaStrftime(a, b, year, b, a, 7))
            << a << " " << b << " " << year;
        EXPECT_EQ(CreateTS(7, 3, year, a, b, a), viaStrftime(7, 3, year, a, b, a))
            << a << " " << b << " " << year;
      }
    }
  }
}

TEST(CreateTS, FieldsBeyondTheRecordGiveEmptyText) {
  EXPECT_EQ(CreateTS(1, 1, INT_MIN, 0, 0, 0), "");
  EXPECT_EQ(CreateTS(1, 1, INT_MAX, 0, 0, 0), "");
  EXPECT_EQ(CreateTS(1, INT_MIN, 2000, 0, 0, 0), "");
}

}  // namespace
