# read_excel(), read_xlsx() and excel_sheets(): readxl's functions of those
# names, argument by argument, on tabulon's reader.

readxl_progress <- function() {
  isTRUE(getOption("readxl.show_progress", TRUE)) && interactive()
}

excel_sheets <- function(path) {
  call <- sys.call()
  source <- readxl_source(path, call)
  load_library(call)
  worksheet_names(source, source_label(path), call)
}

read_excel <- function(path, sheet = NULL, range = NULL, col_names = TRUE, col_types = NULL,
                       na = "", trim_ws = TRUE, skip = 0, n_max = Inf,
                       guess_max = min(1000, n_max), progress = readxl_progress(),
                       .name_repair = "unique") {
  call <- sys.call()
  check_format(path, call)
  guess_given <- !missing(guess_max)
  read_frame_readxl(path, sheet, range, col_names, col_types, na, trim_ws, skip, n_max,
                    guess_max, guess_given, .name_repair, call)
}

read_xlsx <- function(path, sheet = NULL, range = NULL, col_names = TRUE, col_types = NULL,
                      na = "", trim_ws = TRUE, skip = 0, n_max = Inf,
                      guess_max = min(1000, n_max), progress = readxl_progress(),
                      .name_repair = "unique") {
  call <- sys.call()
  guess_given <- !missing(guess_max)
  read_frame_readxl(path, sheet, range, col_names, col_types, na, trim_ws, skip, n_max,
                    guess_max, guess_given, .name_repair, call)
}

# A path that must exist, as readxl says it; raw vectors and workbooks pass.
readxl_source <- function(path, call, owner = parent.frame()) {
  if (is.character(path) && length(path) == 1 && !is.na(path) && nzchar(path) &&
      !file.exists(path.expand(path))) {
    raise(sprintf("`path` does not exist: %s", sQuote(path)), "tabulon_file_error", call,
          path = path)
  }
  as_source(path, call, owner)
}

# read_excel() reads the formats read_xlsx() reads, and says so for others:
# known by the extension, else (or for a raw vector) by the first bytes.
check_format <- function(path, call) {
  if (inherits(path, "tabulon_workbook")) return(invisible())
  if (is.character(path) && length(path) == 1 && !is.na(path)) {
    extension <- tolower(tools::file_ext(path))
    if (extension %in% c("xlsx", "xlsm", "xltx", "xltm")) return(invisible())
    if (!file.exists(path.expand(path))) return(invisible())  # said by readxl_source
    if (extension == "xls") {
      raise(sprintf("%s is an .xls workbook (the binary format before 2007): tabulon reads .xlsx and .xlsm workbooks only",
                    path), "tabulon_format_error", call, path = path)
    }
    bytes <- readBin(path.expand(path), "raw", 8)
  } else if (is.raw(path)) {
    bytes <- path[seq_len(min(8, length(path)))]
  } else {
    return(invisible())
  }
  zip <- as.raw(c(0x50, 0x4b, 0x03, 0x04))
  ole <- as.raw(c(0xd0, 0xcf, 0x11, 0xe0, 0xa1, 0xb1, 0x1a, 0xe1))
  if (length(bytes) >= 4 && identical(bytes[1:4], zip)) return(invisible())
  what <- if (length(bytes) == 8 && identical(bytes, ole)) {
    "an .xls workbook (the binary format before 2007)"
  } else {
    "not an .xlsx workbook (it is not a zip archive)"
  }
  raise(sprintf("%s is %s: tabulon reads .xlsx and .xlsm workbooks only", source_label(path),
                what), "tabulon_format_error", call,
        path = if (is.character(path)) path else NULL)
}

# A count argument as readxl checks it: one whole number from 0, Inf allowed
# where given.
readxl_count <- function(value, what, call) {
  ok <- is.numeric(value) && length(value) == 1 && !is.na(value) && value >= 0
  if (!ok) raise(sprintf("`%s` must be a positive integer", what), "tabulon_argument_error", call)
  if (is.finite(value)) value <- floor(value)
  as.double(value)
}

# Which sheet: a name, or a position among the worksheets.
resolve_sheet <- function(sheet, sheets, call) {
  if (is.null(sheet)) sheet <- 1
  if (length(sheet) != 1) raise("`sheet` must have length 1", "tabulon_argument_error", call)
  if (is.na(sheet)) raise("`sheet` must not be NA", "tabulon_argument_error", call)
  if (is.character(sheet)) {
    if (!sheet %in% sheets) {
      raise(sprintf("Sheet '%s' not found", sheet), "tabulon_sheet_error", call,
            sheet = sheet, sheets = sheets)
    }
    return(list(name = sheet, position = match(sheet, sheets)))
  }
  if (!is.numeric(sheet)) {
    raise("`sheet` must be either an integer or a string.", "tabulon_argument_error", call)
  }
  if (sheet < 1) raise("`sheet` must be positive", "tabulon_argument_error", call)
  position <- floor(sheet)
  if (position > length(sheets)) {
    raise(sprintf("Can't retrieve sheet in position %d, only %d sheet(s) found.", position,
                  length(sheets)), "tabulon_sheet_error", call, sheet = sheet, sheets = sheets)
  }
  list(name = sheets[[position]], position = position)
}

read_frame_readxl <- function(path, sheet, range, col_names, col_types, na, trim_ws, skip,
                              n_max, guess_max, guess_given, name_repair, call) {
  label <- source_label(path)
  source <- readxl_source(path, call)
  load_library(call)
  # The sheet list and the sheet come from one opening of the workbook.
  if (has_handles() && !inherits(path, "tabulon_workbook")) {
    pointer <- .Call(C_tb_open, source, TRUE)
    if (inherits(pointer, "tabulon_failure")) signal_failure(pointer, label, NULL, call)
    on.exit(.Call(C_tb_close, pointer), add = TRUE)
    source <- pointer
  }

  # A range names its own sheet and takes precedence over skip and n_max.
  limits <- c(0, 0, 0, 0)
  if (!is.null(range)) {
    parsed <- parse_range(range, call)
    if (!is.null(parsed$sheet)) {
      if (!is.null(sheet)) {
        message("Two values given for `sheet`. Using the `sheet` found in `range`:\n",
                parsed$sheet)
      }
      sheet <- parsed$sheet
    }
    limits <- parsed$limits
  }
  if (!(is.logical(col_names) && length(col_names) == 1 && !is.na(col_names)) &&
      !is.character(col_names)) {
    raise("`col_names` must be TRUE, FALSE or a character vector", "tabulon_argument_error", call)
  }
  if (!is.character(na)) {
    raise(sprintf("Invalid input type, expected 'character' actual '%s'", typeof(na)),
          "tabulon_argument_error", call)
  }
  if (!(is.logical(trim_ws) && length(trim_ws) == 1 && !is.na(trim_ws))) {
    raise("`trim_ws` must be either TRUE or FALSE", "tabulon_argument_error", call)
  }
  skip <- readxl_count(skip, "skip", call)
  n_max <- readxl_count(n_max, "n_max", call)
  guess_max <- readxl_count(guess_max, "guess_max", call)
  if (!is.null(col_types)) check_col_types(col_types, call)

  sheets <- worksheet_names(source, label, call)
  chosen <- resolve_sheet(sheet, sheets, call)
  header <- isTRUE(col_names)
  if (!is.null(range)) {
    n_max <- Inf
  } else {
    # Rows from skip + 1 on, with the last open: the library then starts at
    # the first of them holding a value, as readxl skips leading empty rows.
    limits[[1]] <- skip + 1
  }
  skip <- 0
  columns <- if (limits[[1]] > 1048576) {
    structure(list(), names = character(), rows = 0)  # past a sheet's last row
  } else {
    read_columns(source, label, chosen$name, header, skip, n_max, limits, READ_KINDS, call)
  }
  rows <- attr(columns, "rows")
  attr(columns, "rows") <- NULL
  # Without a header row nothing at all was read: no columns either.
  if (rows == 0 && !header) columns <- columns[0]
  width <- length(columns)

  # Where each cell is, for the warnings, found only when one is given.
  where <- cell_places(source, label, chosen$name, header, n_max, limits, width, call)

  types <- if (is.null(col_types)) rep("guess", width) else col_types
  if (length(types) == 1) types <- rep(types, width)
  if (length(types) != width) {
    raise(sprintf("Sheet %d has %d columns, but `col_types` has length %d.", chosen$position,
                  width, length(types)), "tabulon_argument_error", call)
  }
  types[types == "blank"] <- "skip"
  kept <- types != "skip"

  names <- names(columns)
  if (is.character(col_names)) {
    if (length(col_names) != width && length(col_names) != sum(kept)) {
      raise(sprintf("Sheet %d has %d columns (%d unskipped), but `col_names` has length %d.",
                    chosen$position, width, sum(kept), length(col_names)),
            "tabulon_argument_error", call)
    }
    names <- if (length(col_names) == width) col_names[kept] else col_names
  } else if (header) {
    names <- names[kept]
  } else {
    names <- rep("", sum(kept))
  }
  if (trim_ws && header) names <- trimws(names)

  system <- NULL
  date_system <- function() {
    if (is.null(system)) system <<- workbook_date_system(path)
    system
  }
  out <- vector("list", sum(kept))
  j <- 0
  for (i in which(kept)) {
    j <- j + 1
    out[[j]] <- readxl_column(columns[[i]], types[[i]], na, trim_ws,
                              if (guess_given) guess_max else Inf, i, where, date_system)
  }
  names <- vctrs::vec_as_names(as.character(names), repair = name_repair,
                               repair_arg = ".name_repair", call = call)
  names(out) <- names
  tibble::new_tibble(out, nrow = as.integer(rows))
}

# The sheet's letters of the columns read and the sheet row of the first
# data row, as functions computed once when first asked. A range closed on
# both sides says them; otherwise the columns are read again without their
# names (which are then the letters), and rows from the first row counted
# are probed for the first that holds a value, as the read skipped the
# empty rows before it.
cell_places <- function(source, label, sheet, header, n_max, limits, width, call) {
  where <- new.env(parent = emptyenv())
  where$letters <- function() {
    if (is.null(where$letters_found)) {
      where$letters_found <- if (limits[[3]] > 0 && limits[[4]] > 0) {
        column_letters(limits[[3]] + seq_len(width) - 1)
      } else {
        names(read_columns(source, label, sheet, FALSE, 0, n_max + header, limits, 0L, call))
      }
    }
    where$letters_found
  }
  where$first_row <- function() {
    if (is.null(where$row_found)) where$row_found <- first_row(where$letters()) + header
    where$row_found
  }
  first_row <- function(letters) {
    start <- max(limits[[1]], 1)
    if ((limits[[1]] > 0 && limits[[2]] > 0) || !length(letters)) return(start)
    columns <- range(vapply(letters, column_number, 0))
    size <- 64
    repeat {
      last <- min(start + size - 1, 1048576)
      probe <- read_columns(source, label, sheet, FALSE, 0, Inf, c(start, last, columns), 0L,
                            call)
      rows <- attr(probe, "rows")
      attr(probe, "rows") <- NULL
      filled <- rep(FALSE, rows)
      for (column in probe) filled <- filled | !is.na(column)
      if (any(filled)) return(start + which(filled)[[1]] - 1)
      if (last >= 1048576 || rows < last - start + 1) return(start)
      size <- size * 8
    }
  }
  where
}

check_col_types <- function(col_types, call) {
  known <- c("skip", "guess", "logical", "numeric", "date", "text", "list", "blank")
  if (!is.character(col_types) || !length(col_types) || anyNA(col_types)) {
    raise("`col_types` must be a character vector", "tabulon_argument_error", call)
  }
  bad <- which(!col_types %in% known)
  if (length(bad)) {
    raise(paste0("Illegal column type: ", paste(sprintf("'%s' [%d]", col_types[bad], bad),
                                                 collapse = ", ")),
          "tabulon_argument_error", call)
  }
}

# 1904 or 1900: the date system of a workbook, from its workbook part,
# which R's unz() reads from the zip archive (a raw vector goes through a
# temporary file; this is asked only when a serial number is needed).
workbook_date_system <- function(path) {
  if (inherits(path, "tabulon_workbook")) {
    if (!is.null(path$date_system)) return(path$date_system)
    path <- if (!is.null(path$file)) path$file else path$label
  }
  if (is.raw(path)) {
    file <- tempfile(fileext = ".xlsx")
    on.exit(unlink(file))
    writeBin(path, file)
    path <- file
  }
  if (!is.character(path) || !file.exists(path.expand(path))) return(1900)
  connection <- tryCatch(unz(path.expand(path), "xl/workbook.xml", "rb"),
                         error = function(e) NULL)
  if (is.null(connection)) return(1900)
  on.exit(close(connection), add = TRUE)
  text <- tryCatch({
    bytes <- raw()
    repeat {
      piece <- readBin(connection, "raw", 65536)
      if (!length(piece)) break
      bytes <- c(bytes, piece)
    }
    rawToChar(bytes[bytes != as.raw(0)])
  }, error = function(e) "", warning = function(w) "")
  if (grepl("date1904\\s*=\\s*[\"'](1|true)[\"']", text)) 1904 else 1900
}
