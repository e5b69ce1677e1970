test_that("each column gets the R type of its cells", {
  frame <- read_sheet(fixture("types.xlsx"), "Types")
  expected <- list(
    Number = c(1.5, -2, NA, NA, 1e10),
    Date = utc("2024-01-01", "2024-01-02", NA, NA, "2024-01-03"),
    Custom = utc("2024-01-01 12:00", "2024-01-02 06:00", NA, NA, "2024-01-03 00:00"),
    Flag = c(TRUE, FALSE, NA, NA, TRUE),
    Text = c("alpha", "Åsa; ok", NA, NA, "alpha"),
    Mixed = c("7", "seven", "1", NA, NA),
    Empty = rep(NA, 5),
    ...8 = rep(NA, 5),
    Last = c("x", NA, NA, NA, "y"))
  expect_named(frame, names(expected))
  for (name in names(expected)) {
    expect_identical(frame[[name]], expected[[name]], label = name)
  }
  expect_identical(attr(frame$Date, "tzone"), "UTC")
  expect_identical(Encoding(frame$Text[2]), "UTF-8")
})

test_that("the result is a tibble, or a data.frame when asked", {
  path <- fixture("types.xlsx")
  skip_if_not_installed("tibble")
  expect_s3_class(read_sheet(path), "tbl_df")
  old <- options(tabulon.tibble = FALSE)
  on.exit(options(old))
  frame <- read_sheet(path)
  expect_identical(class(frame), "data.frame")
  expect_identical(dim(frame), c(5L, 9L))
  expect_identical(frame[5, "Last"], "y")
})

test_that("a sheet without values gives an empty frame", {
  frame <- read_sheet(fixture("types.xlsx"), "Blank")
  expect_identical(dim(frame), c(0L, 0L))
})

test_that("durations, times of day and error cells get their own types", {
  tabulon_library()
  if (!tabulon:::has_handles()) skip("this tabulon.so predates cell kinds")
  frame <- read_sheet(fixture("readxl.xlsx"), "Kinds")
  expect_identical(frame$duration,
                   structure(c(1.5, 0.5, 30, NA, NA) * 86400, class = "difftime", units = "secs"))
  expect_identical(frame$clock, utc("1899-12-31 06:00", "1899-12-31 12:00", "1899-12-31 18:00",
                                    NA, NA))
  expect_identical(frame$errors, c("1", NA, NA, "text", "2"))
  expect_identical(frame$text, c("x", "", "y z", "f", "TRUE"))
  expect_identical(frame$flag_num, c("1", "0", NA, "2", "1"))
})
