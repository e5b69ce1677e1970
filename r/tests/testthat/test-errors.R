test_that("files that cannot be read give classed errors with the library's text", {
  missing <- file.path(tempdir(), "no-such-book.xlsx")
  expect_error(read_sheet(missing), class = "tabulon_file_error")
  expect_error(sheet_names(missing), class = "tabulon_file_error")
  expect_error(read_sheet(tempdir()), class = "tabulon_file_error")
  not_a_workbook <- fixture("not-a-workbook.xlsx")
  expect_error(read_sheet(not_a_workbook), class = "tabulon_workbook_error")
  expect_error(sheet_names(not_a_workbook), class = "tabulon_workbook_error")

  condition <- tryCatch(read_sheet(missing), error = identity)
  expect_true(nzchar(conditionMessage(condition)))
  expect_identical(condition$path, missing)
  expect_s3_class(condition, "tabulon_error")
})

test_that("a file of another format says what it is", {
  text <- tempfile(fileext = ".xlsx")
  writeLines(c("name,value", "a,1"), text)
  condition <- tryCatch(read_sheet(text), error = identity)
  expect_s3_class(condition, "tabulon_not_spreadsheet_error")
  expect_s3_class(condition, "tabulon_workbook_error")
  expect_match(conditionMessage(condition), "not a workbook: a text file", fixed = TRUE)
  unlink(text)
})

test_that("an unknown sheet lists the workbook's sheets", {
  path <- fixture("types.xlsx")
  listed <- '"Types" "Année" "Report" "Names" "Blank"'
  for (sheet in list("Summary", "types", 6)) {
    condition <- tryCatch(read_sheet(path, sheet), error = identity)
    expect_s3_class(condition, "tabulon_sheet_error")
    expect_match(conditionMessage(condition), as.character(sheet), fixed = TRUE)
    expect_match(conditionMessage(condition), listed, fixed = TRUE)
    expect_identical(condition$sheets, sheet_names(path))
  }
  # The workbook was closed on the way out: the next call works.
  expect_identical(dim(read_sheet(path, "Année")), c(2L, 2L))
})

test_that("arguments are checked before anything is read", {
  path <- fixture("types.xlsx")
  bad <- list(
    list(sheet = 0), list(sheet = 1.5), list(sheet = NA), list(sheet = c("a", "b")),
    list(sheet = TRUE), list(col_names = NA), list(col_names = 1), list(skip = -1),
    list(skip = Inf), list(skip = 0.5), list(n_max = -1), list(n_max = NA))
  for (arguments in bad) {
    expect_error(do.call(read_sheet, c(list(path), arguments)), class = "tabulon_argument_error",
                 label = deparse(arguments))
  }
  expect_error(read_sheet(c(path, path)), class = "tabulon_argument_error")
  expect_error(read_sheet(NA_character_), class = "tabulon_argument_error")
})

test_that("a library that cannot be found says where it looked", {
  rscript <- file.path(R.home("bin"), "Rscript")
  missing <- file.path(tempdir(), "nowhere", "tabulon.so")
  output <- suppressWarnings(system2(rscript, c("-e", shQuote(
    "tryCatch(tabulon::sheet_names('x.xlsx'), tabulon_library_error = function(e) cat(conditionMessage(e)))")),
    stdout = TRUE, stderr = TRUE, env = paste0("TABULON_LIBRARY=", shQuote(missing))))
  expect_match(paste(output, collapse = "\n"),
               paste0("cannot find tabulon.so (looked at ", missing, ")"), fixed = TRUE)
})

test_that("tabulon_library names the library in use and its version", {
  path <- tabulon_library()
  expect_true(file.exists(path))
  expected <- Sys.getenv("TABULON_LIBRARY")
  if (nzchar(expected)) expect_identical(as.character(path), normalizePath(expected))
  expect_match(attr(path, "version"), "Tabulon", fixed = TRUE)
})
