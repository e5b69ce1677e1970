# read_excel() against readxl::read_excel() itself, argument by argument, on
# the generated fixtures: the same tibble (identical(): both build tibbles
# of the same classes, UTC date-times and double numbers, so nothing short
# of identity is expected), the same warnings and the same name messages.

# Runs f, returning list(value, warnings, messages); an error is the value.
outcome <- function(f) {
  warnings <- character()
  messages <- character()
  value <- tryCatch(withCallingHandlers(f(),
    warning = function(w) {
      warnings <<- c(warnings, conditionMessage(w))
      invokeRestart("muffleWarning")
    },
    message = function(m) {
      messages <<- c(messages, conditionMessage(m))
      invokeRestart("muffleMessage")
    }), error = function(e) structure(conditionMessage(e), class = "failed"))
  list(value = value, warnings = warnings, messages = messages)
}

expect_same_as_readxl <- function(path, arguments, label = deparse(arguments)) {
  ours <- outcome(function() do.call(tabulon::read_excel, c(list(path), arguments)))
  theirs <- outcome(function() do.call(readxl::read_excel, c(list(path), arguments)))
  if (inherits(theirs$value, "failed")) {
    # Both refuse (name repair that finds names it cannot accept).
    expect_s3_class(ours$value, "failed")
    return(invisible())
  }
  expect_false(inherits(ours$value, "failed"), label = paste(label, ours$value))
  expect_identical(ours$value, theirs$value, label = label)
  expect_identical(sort(ours$warnings), sort(theirs$warnings), label = paste(label, "warnings"))
  expect_identical(ours$messages, theirs$messages, label = paste(label, "messages"))
}

# Cases whose result depends on where the sheet's cells are (skip counted
# from the sheet's first row, ranges) or on the kind of each cell of a
# mixed column need a library with selections and cell kinds.
needs_kinds <- function() {
  tabulon::tabulon_library()
  if (!tabulon:::has_handles()) skip("this tabulon.so predates selections and cell kinds")
}

cellranger_cases <- function() {
  if (!requireNamespace("cellranger", quietly = TRUE)) return(list())
  list(
    list(sheet = "Grid", range = cellranger::cell_rows(3:5)),
    list(sheet = "Grid", range = cellranger::cell_cols("C:D")),
    list(sheet = "Grid", range = cellranger::cell_limits(c(3, NA), c(NA, 3))),
    list(sheet = "Grid", range = cellranger::anchored("C4", c(2, 2)), col_names = FALSE),
    list(range = cellranger::cell_limits(c(2, 2), c(4, 3), sheet = "Grid")),
    list(sheet = "Kinds", range = cellranger::cell_cols("E:F"), col_types = "logical"))
}

test_that("sheets of one column type each match readxl", {
  skip_if_not_installed("readxl")
  path <- fixture("readxl.xlsx")
  cases <- list(
    list(sheet = "Names"), list(sheet = "Empty"), list(sheet = "HeaderOnly"),
    list(sheet = "Grid"), list(sheet = 7), list(),
    list(sheet = "Grid", col_names = FALSE), list(sheet = "Grid", n_max = 2),
    list(sheet = "Grid", n_max = 0), list(sheet = "Grid", col_names = FALSE, n_max = 0),
    list(sheet = "Grid", col_names = letters[1:4]),
    list(sheet = "Grid", col_types = "text"), list(sheet = "Grid", col_types = "list"),
    list(sheet = "Grid", col_types = c("skip", "numeric", "guess", "text")),
    list(sheet = "Grid", col_types = c("skip", "numeric", "guess", "skip"),
         col_names = c("b", "c")),
    list(sheet = "Names", .name_repair = "minimal"), list(sheet = "Names", trim_ws = FALSE),
    list(sheet = "Names", .name_repair = "universal"),
    list(sheet = "Names", .name_repair = "check_unique"),
    list(sheet = "Names", .name_repair = toupper),
    list(sheet = "Kinds", col_types = c("numeric", "numeric", "numeric", "numeric", "numeric",
                                        rep("skip", 9))),
    list(sheet = "Kinds", col_types = c("text", "text", "text", "text", "text", rep("skip", 9))),
    list(sheet = "Kinds", col_types = c("date", "date", "skip", "date", "date", rep("skip", 9))),
    list(sheet = "Kinds", col_types = c(rep("logical", 2), "skip", "logical", "logical",
                                        rep("skip", 9))),
    list(sheet = "Kinds", col_types = c(rep("list", 5), rep("skip", 9))))
  for (arguments in cases) expect_same_as_readxl(path, arguments)
})

test_that("mixed columns, na, trim_ws and guess_max match readxl", {
  skip_if_not_installed("readxl")
  needs_kinds()
  path <- fixture("readxl.xlsx")
  cases <- list(
    list(sheet = "Kinds"), list(sheet = "Kinds", col_types = "text"),
    list(sheet = "Kinds", trim_ws = FALSE), list(sheet = "Kinds", na = c("NA", "-", "x")),
    list(sheet = "Kinds", na = c("1", "two")), list(sheet = "Kinds", guess_max = 1),
    list(sheet = "Kinds", guess_max = 3), list(sheet = "Titled"),
    list(sheet = "Kinds", col_types = c(rep("guess", 5), rep("skip", 9))),
    list(sheet = "Kinds", col_types = "numeric"),
    list(sheet = "Kinds", col_types = "logical"),
    list(sheet = "Kinds", col_types = "date"),
    list(sheet = "Kinds", col_types = "list"),
    list(sheet = "Kinds", col_types = c("numeric", "text", "text", "numeric", "logical",
                                        rep("skip", 9))))
  for (arguments in cases) expect_same_as_readxl(path, arguments)
})

test_that("skip, leading empty rows and ranges of each form match readxl", {
  skip_if_not_installed("readxl")
  needs_kinds()
  path <- fixture("readxl.xlsx")
  cases <- c(list(
    list(sheet = "Lead"), list(sheet = "Lead", skip = 1), list(sheet = "Lead", skip = 3),
    list(sheet = "Lead", skip = 3, col_names = FALSE), list(sheet = "Lead", skip = 100),
    list(sheet = "Titled", skip = 2), list(sheet = "Titled", skip = 2, n_max = 1),
    list(sheet = "Grid", range = "C3:D5"), list(range = "Grid!A1:C3"),
    list(sheet = "Grid", range = "A1:B2"), list(sheet = "Grid", range = "A1:A1", col_names = FALSE),
    list(sheet = "Grid", range = "C3:D5", skip = 1, n_max = 1),
    list(sheet = "Grid", range = "R3C3:R5C4"), list(sheet = "Grid", range = "B2:F12"),
    list(sheet = "Lead", range = "Grid!C4"),
    # Warnings name the cell: after leading empty rows and columns, in ranges.
    list(sheet = "Lead", col_types = "numeric"), list(sheet = "Lead", skip = 4, col_types = "numeric"),
    list(range = "Kinds!E2:F6", col_types = "numeric", col_names = FALSE)),
    cellranger_cases())
  for (arguments in cases) expect_same_as_readxl(path, arguments)
})

test_that("n_max counts data rows after the leading empty rows (readxl counts those too)", {
  needs_kinds()
  path <- fixture("readxl.xlsx")
  # Row 2 is empty: readxl reads rows 2 and 3 for skip = 1, n_max = 1, and
  # so returns no data row at all.
  frame <- read_excel(path, "Titled", skip = 1, n_max = 1)
  expect_identical(frame$n, 1)
  expect_identical(dim(read_excel(path, "Lead", n_max = 2)), c(2L, 3L))
})

test_that("dates of both date systems match readxl", {
  skip_if_not_installed("readxl")
  for (name in c("date1900.xlsx", "date1904.xlsx")) {
    path <- fixture(name)
    for (arguments in list(list(), list(col_types = "date"), list(col_types = "numeric"),
                           list(col_types = "text"))) {
      if (length(arguments)) needs_kinds()
      expect_same_as_readxl(path, arguments, label = paste(name, deparse(arguments)))
    }
  }
})

test_that("types are guessed from every row unless guess_max is given", {
  skip_if_not_installed("readxl")
  path <- fixture("readxl.xlsx")
  frame <- read_excel(path, "Late")
  expect_identical(frame$value[c(1, 1199)], c("2", "late text"))
  theirs <- suppressWarnings(readxl::read_excel(path, "Late"))
  expect_true(is.na(theirs$value[[1199]]))
  # readxl guesses from 1,000 rows: numbers, and the text becomes NA with a
  # warning. Given explicitly, guess_max does the same here.
  needs_kinds()
  expect_same_as_readxl(path, list(sheet = "Late", guess_max = 1000))
  expect_same_as_readxl(path, list(sheet = "Late", guess_max = 5000))
})

test_that("excel_sheets and read_xlsx match readxl", {
  skip_if_not_installed("readxl")
  for (name in c("readxl.xlsx", "types.xlsx")) {
    path <- fixture(name)
    expect_identical(tabulon::excel_sheets(path), readxl::excel_sheets(path))
  }
  path <- fixture("readxl.xlsx")
  expect_identical(suppressMessages(tabulon::read_xlsx(path, "Grid")),
                   suppressMessages(readxl::read_xlsx(path, "Grid")))
  expect_identical(names(formals(tabulon::read_excel)), names(formals(readxl::read_excel)))
  expect_identical(names(formals(tabulon::read_xlsx)), names(formals(readxl::read_xlsx)))
  for (f in c("sheet", "range", "col_names", "col_types", "na", "trim_ws", "skip", "n_max",
              "guess_max", ".name_repair")) {
    expect_identical(formals(tabulon::read_excel)[[f]], formals(readxl::read_excel)[[f]],
                     label = f)
  }
})

test_that("mistakes give readxl's messages, with classes of their own", {
  skip_if_not_installed("readxl")
  path <- fixture("readxl.xlsx")
  cases <- list(
    list(list(sheet = 0), "tabulon_argument_error"),
    list(list(sheet = 99), "tabulon_sheet_error"),
    list(list(sheet = "nope"), "tabulon_sheet_error"),
    list(list(sheet = c(1, 2)), "tabulon_argument_error"),
    list(list(n_max = -1), "tabulon_argument_error"),
    list(list(skip = -1), "tabulon_argument_error"),
    list(list(guess_max = -1), "tabulon_argument_error"),
    list(list(col_names = c("a", "b")), "tabulon_argument_error"),
    list(list(col_types = c("guess", "text")), "tabulon_argument_error"))
  for (case in cases) {
    ours <- tryCatch(do.call(tabulon::read_excel, c(list(path), case[[1]])), error = identity)
    theirs <- tryCatch(do.call(readxl::read_excel, c(list(path), case[[1]])), error = identity)
    label <- deparse(case[[1]])
    expect_s3_class(ours, case[[2]])
    expect_s3_class(ours, "tabulon_error")
    expect_identical(conditionMessage(ours), conditionMessage(theirs), label = label)
  }
  missing <- file.path(tempdir(), "no-such-book.xlsx")
  for (f in c("read_excel", "read_xlsx", "excel_sheets")) {
    ours <- tryCatch(getExportedValue("tabulon", f)(missing), error = identity)
    theirs <- tryCatch(getExportedValue("readxl", f)(missing), error = identity)
    expect_s3_class(ours, "tabulon_file_error")
    expect_identical(conditionMessage(ours), conditionMessage(theirs), label = f)
  }
})

test_that("read_excel refuses formats other than .xlsx and .xlsm, by name or by content", {
  folder <- tempfile("formats-")
  dir.create(folder)
  xls <- file.path(folder, "old.xls")
  writeBin(as.raw(c(0xd0, 0xcf, 0x11, 0xe0, 0xa1, 0xb1, 0x1a, 0xe1, rep(0, 504))), xls)
  disguised <- file.path(folder, "old.dat")
  file.copy(xls, disguised)
  csv <- file.path(folder, "table.csv")
  writeLines("a,b\n1,2", csv)
  for (path in c(xls, disguised, csv)) {
    condition <- tryCatch(tabulon::read_excel(path), error = identity)
    expect_s3_class(condition, "tabulon_format_error")
    expect_match(conditionMessage(condition), "reads .xlsx and .xlsm workbooks only", fixed = TRUE)
  }
  expect_match(conditionMessage(tryCatch(tabulon::read_excel(xls), error = identity)),
               "is an .xls workbook")
  # An .xlsx under another name is read, as readxl reads it.
  renamed <- file.path(folder, "book.data")
  file.copy(fixture("readxl.xlsx"), renamed)
  expect_identical(dim(tabulon::read_excel(renamed, "Grid")), c(6L, 4L))
  expect_error(tabulon::read_excel(readBin(csv, "raw", 100)), class = "tabulon_format_error")
})

test_that("a raw vector reads as its file does", {
  path <- fixture("readxl.xlsx")
  bytes <- readBin(path, "raw", file.size(path))
  expect_identical(tabulon::excel_sheets(bytes), tabulon::excel_sheets(path))
  expect_identical(suppressMessages(tabulon::read_excel(bytes, "Grid")),
                   suppressMessages(tabulon::read_excel(path, "Grid")))
  expect_identical(read_sheet(bytes, "Grid"), read_sheet(path, "Grid"))
  expect_identical(sheet_names(bytes), sheet_names(path))
})

test_that("the real workbooks read as readxl reads them", {
  skip_if_not_installed("readxl")
  corpus <- Sys.getenv("TABULON_CORPUS", source_file("..", "shared", "corpus", "real"))
  skip_if_not(dir.exists(corpus), "the corpus of real workbooks is not there")
  needs_kinds()
  books <- list.files(corpus, pattern = "[.]xlsx$", full.names = TRUE)
  # Where readxl is at fault, the sheet is listed here and not compared:
  # sheet (file/sheet) = the reason.
  readxl_faults <- c(readxl_corpus_faults(), as.list(corpus_known_differences()))
  for (book in books) {
    if (paste0(basename(book), "/") %in% names(readxl_faults)) next
    for (sheet in tabulon::excel_sheets(book)) {
      key <- paste0(basename(book), "/", sheet)
      if (key %in% names(readxl_faults)) next
      theirs <- tryCatch(suppressWarnings(suppressMessages(readxl::read_excel(book, sheet))),
                         error = function(e) NULL)
      if (is.null(theirs)) next
      ours <- suppressWarnings(suppressMessages(tabulon::read_excel(book, sheet)))
      expect_identical(ours, theirs, label = key)
    }
  }
})
