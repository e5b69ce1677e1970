# Cell ranges as readxl takes them: "B3:D87", "Sheet2!B3:D87", "R3C2:R87C4",
# one cell "B3", and cellranger's cell_limits objects (cell_rows(),
# cell_cols(), cell_limits(), anchored()), read from their fields so that
# cellranger itself is not needed.

# list(sheet, limits): limits is c(first row, last row, first column, last
# column), 0 where open; sheet is the sheet the range names, or NULL.
parse_range <- function(range, call) {
  if (inherits(range, "cell_limits")) {
    limits <- c(range$ul[[1]], range$lr[[1]], range$ul[[2]], range$lr[[2]])
    # A side left open whose other side is given starts at the sheet's
    # first row or column, as readxl reads such limits.
    if (is.na(limits[[1]]) && !is.na(limits[[2]])) limits[[1]] <- 1
    if (is.na(limits[[3]]) && !is.na(limits[[4]])) limits[[3]] <- 1
    limits[is.na(limits)] <- 0
    sheet <- range$sheet
    if (length(sheet) != 1 || is.na(sheet)) sheet <- NULL
    return(check_limits(list(sheet = sheet, limits = as.double(limits)), range, call))
  }
  if (!is.character(range) || length(range) != 1 || is.na(range)) {
    raise("`range` must be a string like \"B3:D87\" or \"Sheet2!B3:D87\", or a cell_limits object",
          "tabulon_argument_error", call)
  }
  sheet <- NULL
  text <- range
  bang <- regexpr("![^!]*$", text)
  if (bang > 0) {
    sheet <- substr(text, 1, bang - 1)
    text <- substr(text, bang + 1, nchar(text))
    # A quoted sheet name: 'My sheet'!A1:B2, '' standing for one quote.
    if (grepl("^'.*'$", sheet)) sheet <- gsub("''", "'", substr(sheet, 2, nchar(sheet) - 1))
  }
  corners <- strsplit(toupper(text), ":", fixed = TRUE)[[1]]
  if (length(corners) == 1) corners <- c(corners, corners)
  if (length(corners) != 2) bad_range(range, call)
  cells <- lapply(corners, parse_cell, range = range, call = call)
  limits <- c(cells[[1]][[1]], cells[[2]][[1]], cells[[1]][[2]], cells[[2]][[2]])
  check_limits(list(sheet = sheet, limits = as.double(limits)), range, call)
}

# c(row, column) of "B3", "$B$3" or "R3C2".
parse_cell <- function(text, range, call) {
  text <- gsub("$", "", text, fixed = TRUE)
  if (grepl("^[A-Z]{1,3}[0-9]+$", text)) {
    letters <- sub("[0-9]+$", "", text)
    return(c(as.numeric(sub("^[A-Z]+", "", text)), column_number(letters)))
  }
  if (grepl("^R[0-9]+C[0-9]+$", text)) {
    parts <- as.numeric(strsplit(substr(text, 2, nchar(text)), "C", fixed = TRUE)[[1]])
    return(parts)
  }
  bad_range(range, call)
}

column_number <- function(letters) {
  digits <- utf8ToInt(letters) - utf8ToInt("A") + 1
  sum(digits * 26^rev(seq_along(digits) - 1))
}

column_letters <- function(number) {
  vapply(number, function(n) {
    out <- character()
    while (n > 0) {
      out <- c(LETTERS[(n - 1) %% 26 + 1], out)
      n <- (n - 1) %/% 26
    }
    paste(out, collapse = "")
  }, "")
}

bad_range <- function(range, call) {
  raise(sprintf("Cell reference follows neither the A1 nor R1C1 format: %s",
                paste(format(range), collapse = " ")), "tabulon_argument_error", call)
}

check_limits <- function(parsed, range, call) {
  l <- parsed$limits
  if (any(l < 0) || any(l[1:2] > 1048576) || any(l[3:4] > 16384) ||
      (l[[1]] > 0 && l[[2]] > 0 && l[[1]] > l[[2]]) ||
      (l[[3]] > 0 && l[[4]] > 0 && l[[3]] > l[[4]])) {
    raise(sprintf("`range` %s is not a range of a sheet: rows 1 to 1048576, columns A to XFD, the first corner above and left of the second",
                  paste(format(range), collapse = " ")), "tabulon_argument_error", call)
  }
  parsed
}
