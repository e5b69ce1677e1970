test_that("col_names: the header row, default names, or names given", {
  path <- fixture("types.xlsx")
  header <- read_sheet(path, "Année")
  expect_identical(names(header), c("k", "v"))
  expect_identical(header$v, c(1, 2))

  plain <- read_sheet(path, "Année", col_names = FALSE)
  expect_identical(names(plain), c("...1", "...2"))
  expect_identical(plain$...1, c("k", "a", "b"))
  expect_identical(plain$...2, c("v", "1", "2"))  # the header's text makes the column text

  given <- read_sheet(path, "Année", col_names = c("key", "value"))
  expect_identical(names(given), c("key", "value"))
  expect_identical(given$key, c("k", "a", "b"))

  expect_error(read_sheet(path, "Année", col_names = "one"),
               "col_names has 1 names, but the sheet has 2 columns", class = "tabulon_argument_error")
})

test_that("header names are made unique, empty ones filled", {
  frame <- read_sheet(fixture("types.xlsx"), "Names")
  expect_named(frame, c("id", "...2", "x...3", "x...4", "y"))
  expect_identical(unlist(frame, use.names = FALSE), c(1, 2, 3, 4, 5))
})

test_that("name repair follows tibble's unique names", {
  cases <- list(
    list(c("a", "b"), c("a", "b")),
    list(c("", NA), c("...1", "...2")),
    list(c("a", "a", "a"), c("a...1", "a...2", "a...3")),
    list(c("a...5", "b"), c("a", "b")),
    list(c("...3", "x", "x...1"), c("...1", "x...2", "x...3")),
    list(character(), character()))
  for (case in cases) {
    expect_identical(tabulon:::repair_names(case[[1]]), case[[2]], label = deparse(case[[1]]))
  }
  if (requireNamespace("vctrs", quietly = TRUE)) {
    for (case in cases) {
      expect_identical(tabulon:::repair_names(case[[1]]),
                       suppressMessages(vctrs::vec_as_names(case[[1]], repair = "unique")))
    }
  }
})

test_that("skip counts from the first row holding a value; n_max limits the data rows", {
  path <- fixture("types.xlsx")
  amounts <- c(10, 20, 30, 40, 50)
  days <- utc("2024-01-01", "2024-01-02", "2024-01-03", "2024-01-04", "2024-01-05")
  cases <- list(
    # skip, n_max, col_names, names, rows
    list(1, Inf, TRUE, c("when", "amount"), 1:5),
    list(1, 2, TRUE, c("when", "amount"), 1:2),
    list(1, 100, TRUE, c("when", "amount"), 1:5),
    list(3, Inf, FALSE, c("...1", "...2"), 2:5),
    list(3, 1, FALSE, c("...1", "...2"), 2))
  for (case in cases) {
    label <- sprintf("skip = %g, n_max = %g, col_names = %s", case[[1]], case[[2]], case[[3]])
    frame <- read_sheet(path, "Report", col_names = case[[3]], skip = case[[1]], n_max = case[[2]])
    expect_named(frame, case[[4]])
    expect_identical(frame[[1]], days[case[[5]]], label = label)
    expect_identical(frame[[2]], amounts[case[[5]]], label = label)
  }
  expect_identical(dim(read_sheet(path, "Report", skip = 1e300)), c(0L, 0L))
  expect_identical(dim(read_sheet(path, "Report", skip = 1, n_max = 1e300)), c(5L, 2L))
  none <- read_sheet(path, "Report", skip = 1, n_max = 0)
  expect_identical(dim(none), c(0L, 2L))
  expect_named(none, c("when", "amount"))
})

test_that("a sheet is chosen by name or by position", {
  path <- fixture("types.xlsx")
  expect_identical(sheet_names(path), c("Types", "Année", "Report", "Names", "Blank"))
  expect_identical(Encoding(sheet_names(path)[2]), "UTF-8")
  expect_identical(read_sheet(path, 2), read_sheet(path, "Année"))
  expect_identical(read_sheet(path, 2L), read_sheet(path, "Année"))
  expect_identical(read_sheet(path), read_sheet(path, "Types"))
})

test_that("zero rows without a header give an empty frame", {
  path <- fixture("types.xlsx")
  expect_identical(dim(read_sheet(path, "Report", col_names = FALSE, n_max = 0)), c(0L, 0L))
  expect_identical(names(read_sheet(path, "Année", n_max = 0)), c("k", "v"))
})
