test_that("a workbook opened once serves every reader until it is closed", {
  path <- fixture("readxl.xlsx")
  book <- open_workbook(path)
  expect_s3_class(book, "tabulon_workbook")
  expect_identical(sheet_names(book), sheet_names(path))
  expect_identical(excel_sheets(book), excel_sheets(path))
  for (sheet in c("Lead", "Grid", "Names")) {
    expect_identical(read_sheet(book, sheet), read_sheet(path, sheet), label = sheet)
    expect_identical(suppressMessages(read_excel(book, sheet)),
                     suppressMessages(read_excel(path, sheet)), label = sheet)
  }
  expect_output(print(book), "tabulon workbook")
  expect_identical(open_workbook(book), book)
  close_workbook(book)
  expect_output(print(book), "closed")
  expect_error(read_sheet(book), "the workbook is closed", class = "tabulon_argument_error")
  expect_error(excel_sheets(book), class = "tabulon_argument_error")
  expect_silent(close_workbook(book))  # twice is fine
  expect_error(close_workbook(path), class = "tabulon_argument_error")
})

test_that("a workbook from a raw vector keeps its bytes, and bad sources are refused", {
  path <- fixture("readxl.xlsx")
  bytes <- readBin(path, "raw", file.size(path))
  book <- open_workbook(bytes)
  bytes[] <- as.raw(0)  # the workbook holds its own copy
  expect_identical(read_sheet(book, "Grid"), read_sheet(path, "Grid"))
  close_workbook(book)
  expect_error(open_workbook(file.path(tempdir(), "missing.xlsx")), class = "tabulon_file_error")
  expect_error(open_workbook(fixture("not-a-workbook.xlsx")), class = "tabulon_workbook_error")
  expect_error(read_sheet(raw(0)), class = "tabulon_workbook_error")
  expect_error(read_sheet(charToRaw("not a zip archive")), class = "tabulon_workbook_error")
})

test_that("workbooks left unreferenced are closed by the garbage collector", {
  path <- fixture("readxl.xlsx")
  for (i in 1:50) open_workbook(path)
  gc()
  expect_identical(dim(read_sheet(path, "Grid")), c(6L, 4L))
})

test_that("children forked after a read (parallel::mclapply) read as well", {
  skip_on_os("windows")
  path <- fixture("readxl.xlsx")
  expected <- read_sheet(path, "Grid")
  book <- open_workbook(path)
  on.exit(close_workbook(book))
  results <- parallel::mclapply(1:4, function(i) {
    list(read_sheet(path, "Grid"), read_sheet(book, "Grid"))
  }, mc.cores = 2)
  for (result in results) {
    expect_identical(result[[1]], expected)
    expect_identical(result[[2]], expected)
  }
})
