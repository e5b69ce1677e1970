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
      // Seconds are rounded, and the carry runs on into the day and the year.
      {43206.805447106482, "2018-04-16 19:19:51"},  // 19:19:50.63
      {43206.805440000000, "2018-04-16 19:19:50"},  // 19:19:50.016
      {45000.5 + 0.4999 / 86400, "2023-03-15 12:00:00"},
      {45000.5 + 0.5001 / 86400, "2023-03-15 12:00:01"},
      {45000.5 - 0.4999 / 86400, "2023-03-15 12:00:00"},
      {45000.5 + 59.6 / 86400, "2023-03-15 12:01:00"},
      {45000.5 + 3599.7 / 86400, "2023-03-15 13:00:00"},
      {44927.9999999, "2023-01-02 00:00:00"},
      {44927.99999999, "2023-01-02 00:00:00"},
      {45351.99999999, "2024-03-01 00:00:00"},       // 2024-02-29 ends
      {45291.99999999, "2024-01-01 00:00:00"},       // 2023-12-31 ends
      {59.999999999, "1900-02-29 00:00:00"},         // rounds to serial 60
      {-0.000001, "1899-12-31 00:00:00"},
      {-1, "1899-12-30 00:00:00"},
      {-0.5, "1899-12-30 12:00:00"},
      {2958465, "9999-12-31 00:00:00"},
      {2958465.999, "9999-12-31 23:58:34"},
      // The last half second of 9999-12-31 cannot carry into year 10000.
      {2958465.99999, "9999-12-31 23:59:59"},
      {2958465.9999999995, "9999-12-31 23:59:59"},
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

TEST(IsoDateToTimestamp, DatesAndTimesInTheExtendedForm) {
  struct IsoCase {
    const char* text;
    const char* expected;  // "" : not such a date, shown as written
  };
  const IsoCase cases[] = {
      {"2017-03-16", "2017-03-16 00:00:00"},
      {"2021-01-01T10:10:10", "2021-01-01 10:10:10"},
      {"2021-01-01T10:10", "2021-01-01 10:10:00"},
      {"2021-01-01T10:10:51.894", "2021-01-01 10:10:52"},
      {"2021-01-01T10:10:51.4999", "2021-01-01 10:10:51"},
      {"2021-01-01T10:10:51.5", "2021-01-01 10:10:52"},
      {"2021-01-01T10:10:51,7", "2021-01-01 10:10:52"},
      {"2023-12-31T23:59:59.5", "2024-01-01 00:00:00"},  // the carry reaches the year
      {"2024-02-28T23:59:59.9", "2024-02-29 00:00:00"},
      {"2023-02-28T23:59:59.9", "2023-03-01 00:00:00"},
      {"2021-06-30T10:59:59.5", "2021-06-30 11:00:00"},
      {"9999-12-31T23:59:59.9", "9999-12-31 23:59:59"},  // no year 10000
      {"1900-02-28T12:00:00", "1900-02-28 12:00:00"},
      {"0999-01-02", "999-01-02 00:00:00"},              // as serial dates print early years
      // A zone is checked and kept apart: the time is the one written.
      {"2021-01-01T10:10:10Z", "2021-01-01 10:10:10"},
      {"2021-01-01T23:30:00+02:00", "2021-01-01 23:30:00"},
      {"2021-01-01T00:30:00-0530", "2021-01-01 00:30:00"},
      {"2021-01-01T10:10:10.25+01", "2021-01-01 10:10:10"},
      // Not such a date: shown as written.
      {"", ""},
      {"2017-3-16", ""},
      {"17-03-16", ""},
      {"2017-02-29", ""},
      {"2017-13-01", ""},
      {"2017-04-31", ""},
      {"2017-00-10", ""},
      {"2017-01-00", ""},
      {"20170316", ""},
      {"2017-03-16T", ""},
      {"2017-03-16 10:10:10", ""},
      {"2017-03-16T24:00:00", ""},
      {"2017-03-16T10:60:00", ""},
      {"2017-03-16T10:10:60", ""},
      {"2017-03-16T10:10:10.", ""},
      {"2017-03-16T10:10:10 ", ""},
      {"2017-03-16T10:10:10+24:00", ""},
      {"2017-03-16T10:10:10+02:0", ""},
      {"2017-03-16T10:10:10ZZ", ""},
      {"2017-03-16Z", ""},
      {"10:10:10", ""},
      {"45000.5", ""},
      {"２０１７-03-16", ""},
  };
  for (const IsoCase& c : cases) EXPECT_EQ(IsoDateToTimestamp(c.text), c.expected) << c.text;
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
