// Date-times as microseconds: the serial conversion and the text.
#include <gtest/gtest.h>

#include <cstdint>
#include <cmath>
#include <iomanip>
#include <limits>
#include <random>

#include "cells/date_time.h"
#include "cells/serial_date.h"

namespace tabulon {
namespace {

constexpr std::int64_t kDay = 86400LL * 1000000LL;

TEST(DateTime, KnownSerials) {
  struct Case {
    double serial;
    const char* text;
  };
  const Case cases[] = {
      {1, "1900-01-01 00:00:00"},        {59, "1900-02-28 00:00:00"},
      {61, "1900-03-01 00:00:00"},       {25569, "1970-01-01 00:00:00"},
      {45000.5, "2023-03-15 12:00:00"},  {2958465.5, "9999-12-31 12:00:00"},
      {0.25, "1899-12-31 06:00:00"},
  };
  for (const Case& c : cases) {
    std::int64_t micros = 0;
    ASSERT_TRUE(serialToMicros(c.serial, micros)) << c.serial;
    EXPECT_EQ(microsText(micros), c.text) << c.serial;
  }
  std::int64_t micros = -1;
  ASSERT_TRUE(serialToMicros(25569.5, micros));
  EXPECT_EQ(micros, kDay / 2);
}

TEST(DateTime, OutOfRange) {
  std::int64_t micros = 0;
  for (double serial : {2958466.0, 1e9, -1e9, std::numeric_limits<double>::infinity(),
                        std::numeric_limits<double>::quiet_NaN()})
    EXPECT_FALSE(serialToMicros(serial, micros)) << serial;
}

TEST(DateTime, CivilDays) {
  EXPECT_EQ(daysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(daysFromCivil(2000, 3, 1), 11017);
  EXPECT_EQ(daysFromCivil(1969, 12, 31), -1);
  EXPECT_EQ(microsText(daysFromCivil(2024, 2, 29) * kDay), "2024-02-29 00:00:00");
}

// The typed value written out gives the sheet text's date, for serials all
// over the range (serial 60, the day that never was, excepted).
TEST(DateTime, AgreesWithTheSerialText) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> serials(61.0, 2958465.0);
  for (int i = 0; i < 200000; ++i) {
    double serial = i % 2 ? serials(random) : std::floor(serials(random)) + (i % 86400) / 86400.0;
    std::int64_t micros = 0;
    ASSERT_TRUE(serialToMicros(serial, micros));
    ASSERT_EQ(microsText(micros), ExcelSerialToDMY(serial)) << std::setprecision(17) << serial;
  }
}

}  // namespace
}  // namespace tabulon
