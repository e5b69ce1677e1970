# Workbooks for the tests, written once per run by make_fixtures.py into a
# temporary folder (python3 from the standard library only).
fixture <- local({
  folder <- NULL
  function(name) {
    if (is.null(folder)) {
      python <- Sys.which("python3")
      if (!nzchar(python)) skip("python3 is needed to write the test workbooks")
      folder <<- tempfile("tabulon-fixtures-")
      dir.create(folder)
      status <- system2(python, c(shQuote(test_path("make_fixtures.py")), shQuote(folder)))
      if (status != 0) stop("make_fixtures.py failed")
    }
    file.path(folder, name)
  }
})

# The repository's files (examples/sample.xlsx): TABULON_SOURCE_DIR, else
# three folders above tests/testthat.
source_file <- function(...) {
  root <- Sys.getenv("TABULON_SOURCE_DIR")
  if (!nzchar(root)) root <- file.path(test_path(), "..", "..", "..")
  file.path(root, ...)
}

utc <- function(...) as.POSIXct(c(...), tz = "UTC")

# Sheets of the real corpus where readxl, not tabulon, is wrong, by
# "file/sheet" (or "file/" for every sheet of a file), with the reason; the
# corpus test leaves them out. Workbooks that crash readxl are never given
# to it.
readxl_corpus_faults <- function() {
  list(
    "exceldatareader__LowerCaseReferenceAttribute.xlsx/" =
      "readxl crashes R (segfault) on cell references written in lower case",
    "openpyxl__bigfoot.xlsx/" =
      "not a fault: readxl takes minutes over its 1,024 sheets, too long for a test",
    "calamine__date_1904.xlsx/Sheet1" =
      "readxl ignores date1904=\"true\" (it takes only \"1\"), so its dates are 4 years early")
}
