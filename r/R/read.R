# sheet_names and read_sheet: argument checks, failures turned into classed
# conditions, column names, and the data frame around the C columns.

# Condition classes by the library's failure code (see tabulon.h).
failure_classes <- c(
  "1" = "tabulon_file_error", "2" = "tabulon_file_error", "3" = "tabulon_file_error",
  "4" = "tabulon_workbook_error", "5" = "tabulon_workbook_error",
  "6" = "tabulon_workbook_error", "7" = "tabulon_memory_error",
  "8" = "tabulon_sheet_error",
  # what the file is; each also a tabulon_workbook_error
  "12" = "tabulon_password_error", "13" = "tabulon_xls_error", "14" = "tabulon_xlsb_error",
  "15" = "tabulon_ods_error", "16" = "tabulon_not_spreadsheet_error", "17" = "tabulon_encoding_error")

sheet_names <- function(path) {
  call <- sys.call()
  source <- as_source(path, call)
  load_library(call)
  worksheet_names(source, source_label(path), call)
}

# The worksheet names of a source already checked.
worksheet_names <- function(source, label, call) {
  names <- .Call(C_tb_sheet_names, source)
  if (inherits(names, "tabulon_failure")) signal_failure(names, label, NULL, call)
  names
}

# Read flags (tabulon.h): skip counted from the sheet's first row, and
# every kind of cell told apart. A library without them ignores them.
SKIP_FROM_FIRST_ROW <- 1L
READ_KINDS <- 2L

# The columns of one sheet (a name) as the C code gives them: a named list
# with attribute "rows", or a failure raised as a condition.
read_columns <- function(source, label, sheet, header, skip, n_max, limits = c(0, 0, 0, 0),
                         flags = READ_KINDS, call) {
  columns <- .Call(C_tb_read, source, sheet, header, as.double(skip),
                   if (is.infinite(n_max)) -1 else as.double(n_max), as.double(limits),
                   as.integer(flags))
  if (inherits(columns, "tabulon_failure")) signal_failure(columns, label, sheet, call)
  columns
}

read_sheet <- function(path, sheet = 1, col_names = TRUE, skip = 0, n_max = Inf) {
  call <- sys.call()
  label <- source_label(path)
  source <- as_source(path, call)
  if (is.character(sheet) && length(sheet) == 1 && !is.na(sheet)) {
    # a name
  } else if (is.numeric(sheet) && length(sheet) == 1 && !is.na(sheet) && sheet >= 1 &&
             sheet == trunc(sheet) && sheet <= .Machine$integer.max) {
    sheet <- as.integer(sheet)
  } else {
    raise("sheet must be one sheet name or one position (1 is the first sheet)",
          "tabulon_argument_error", call)
  }
  given_names <- is.character(col_names)
  if (!given_names && !(is.logical(col_names) && length(col_names) == 1 && !is.na(col_names))) {
    raise("col_names must be TRUE, FALSE or a character vector", "tabulon_argument_error", call)
  }
  skip <- check_count(skip, "skip", FALSE, call)
  n_max <- check_count(n_max, "n_max", TRUE, call)

  load_library(call)
  if (is.integer(sheet)) {
    sheets <- worksheet_names(source, label, call)
    if (sheet > length(sheets)) {
      signal_failure(structure(list(code = 8L, message = "", sheets = sheets),
                               class = "tabulon_failure"), label, sheet, call)
    }
    sheet <- sheets[[sheet]]
  }
  columns <- read_columns(source, label, sheet, isTRUE(col_names), skip, n_max, call = call)
  rows <- attr(columns, "rows")
  attr(columns, "rows") <- NULL
  columns[] <- lapply(columns, plain_column)
  if (rows == 0 && isFALSE(col_names)) columns <- columns[0]

  if (given_names) {
    if (length(col_names) != length(columns)) {
      raise(sprintf("col_names has %d names, but the sheet has %d columns",
                    length(col_names), length(columns)), "tabulon_argument_error", call)
    }
    names(columns) <- repair_names(col_names)
  } else if (isTRUE(col_names)) {
    names(columns) <- repair_names(names(columns))
  } else {
    names(columns) <- sprintf("...%d", seq_along(columns))
  }
  as_frame(columns, rows)
}

# A column of the cell kinds as one of read_sheet's types: times of day as
# date-times on 1899-12-31 (as readxl gives them), durations as difftime,
# error cells missing; a column mixing kinds as text (booleans "1" and "0",
# as the sheet text writes them).
plain_column <- function(x) {
  if (inherits(x, "hms")) return(.POSIXct(as.vector(unclass(x)) - 2209075200, tz = "UTC"))
  if (!inherits(x, "tabulon_cells")) return(x)
  kind <- x$kind
  kind[kind == 7L] <- 0L
  present <- unique(kind[kind != 0L])
  if (length(present) == 0) return(rep(NA, length(kind)))
  if (length(present) == 1) {
    value <- switch(as.character(present),
      "1" = x$flag, "2" = x$number, "3" = .POSIXct(x$number, tz = "UTC"),
      "4" = structure(x$number, class = "difftime", units = "secs"),
      "5" = .POSIXct(x$number - 2209075200, tz = "UTC"), "6" = x$text)
    value[kind == 0L] <- NA
    return(value)
  }
  text <- x$text
  text[kind == 1L] <- ifelse(x$flag[kind == 1L], "1", "0")
  text[kind == 2L] <- as.character(x$number[kind == 2L])
  text[kind == 3L] <- format(.POSIXct(x$number[kind == 3L], tz = "UTC"), "%Y-%m-%d %H:%M:%S")
  text[kind == 4L | kind == 5L] <- as.character(x$number[kind == 4L | kind == 5L] / 86400)
  text[kind == 0L] <- NA
  text
}

# Column names made unique as tibble's "unique" repair does: a suffix
# "...N" (N the column's position) that a name already carries is dropped,
# then every empty name, and every copy of a repeated name, gets "...N".
# So c("id", "", "x", "x") becomes c("id", "...2", "x...3", "x...4").
repair_names <- function(names) {
  names <- as.character(names)
  names[is.na(names)] <- ""
  names <- sub("[.][.][.][0-9]+$", "", names)
  suffixed <- names == "" | duplicated(names) | duplicated(names, fromLast = TRUE)
  names[suffixed] <- paste0(names[suffixed], "...", which(suffixed))
  names
}

# A tibble when the tibble package is there (and options(tabulon.tibble)
# is not FALSE), else a data.frame; neither copies the columns.
as_frame <- function(columns, rows) {
  if (!isFALSE(getOption("tabulon.tibble")) && requireNamespace("tibble", quietly = TRUE)) {
    return(tibble::new_tibble(columns, nrow = rows))
  }
  structure(columns, class = "data.frame", row.names = .set_row_names(as.integer(rows)))
}

check_path <- function(path, call) {
  if (!is.character(path) || length(path) != 1 || is.na(path) || !nzchar(path)) {
    raise("path must be one file name, a raw vector or a workbook", "tabulon_argument_error", call)
  }
  path.expand(path)
}

# A whole number >= 0 (Inf too when infinite_ok), as a double.
check_count <- function(value, what, infinite_ok, call) {
  ok <- is.numeric(value) && length(value) == 1 && !is.na(value) && value >= 0 &&
    (is.infinite(value) && infinite_ok || is.finite(value) && value == trunc(value))
  if (!ok) {
    raise(paste0(what, " must be a whole number from 0", if (infinite_ok) " or Inf"),
          "tabulon_argument_error", call)
  }
  as.double(value)
}

# Raises the condition for a failure the C code returned, with the library's
# text. For a sheet that is not there the text lists the workbook's sheets,
# and so does the message made here for a position past the last sheet.
signal_failure <- function(failure, path, sheet, call) {
  code <- failure$code
  message <- failure$message
  class <- failure_classes[as.character(code)]
  if (is.na(class)) class <- "tabulon_read_error"
  path <- if (is.character(path)) path else source_label(path)
  if (identical(class[[1]], "tabulon_sheet_error")) {
    sheets <- failure$sheets
    if (!nzchar(message)) {
      message <- sprintf("no sheet %d in %s, which has %d; the sheets are: %s", sheet, path,
                         length(sheets), paste0('"', sheets, '"', collapse = " "))
    }
    raise(message, class[[1]], call, code = code, path = path, sheet = sheet, sheets = sheets)
  }
  if (!nzchar(message)) message <- sprintf("%s: the library failed (code %d)", path, code)
  if (code >= 12 && code <= 17) class <- c(class[[1]], "tabulon_workbook_error")
  raise(message, unname(class), call, code = code, path = path)
}
