# One column as readxl makes it: missing strings (na) and whitespace
# (trim_ws), the type guessed or given (col_types), and readxl's coercions,
# with its warnings for cells that do not fit.
#
# A column comes from the library either with one type (a plain vector) or
# as cells of several kinds (class "tabulon_cells"; kind codes: 0 missing,
# 1 boolean, 2 number, 3 date-time, 4 duration, 5 time of day, 6 text,
# 7 error). Plain columns that need no work pass through untouched.

KIND_BLANK <- 0L
KIND_BOOLEAN <- 1L
KIND_NUMBER <- 2L
KIND_DATE <- 3L
KIND_DURATION <- 4L
KIND_TIME <- 5L
KIND_TEXT <- 6L
KIND_ERROR <- 7L

readxl_column <- function(x, type, na, trim_ws, guess_max, column, where, date_system) {
  n <- length(if (inherits(x, "tabulon_cells")) x$kind else x)
  limited <- guess_max < n
  na_numbers <- any(!is.na(suppressWarnings(as.numeric(na))))
  if (!inherits(x, "tabulon_cells") && !limited && !na_numbers) {
    if (is.character(x)) {
      x <- clean_text(x, na, trim_ws)
      if (type %in% c("guess", "text") && (type == "text" || !all(is.na(x)))) return(x)
    } else if (is.double(x) && is.null(attributes(x))) {
      if (type %in% c("guess", "numeric")) return(x)
    } else if (is.logical(x)) {
      if (type %in% c("guess", "logical")) return(x)
    } else if (inherits(x, "POSIXct")) {
      if (type %in% c("guess", "date")) return(x)
    }
  }
  cells <- as_cells(x)
  cells <- missing_cells(cells, na, trim_ws, date_system)
  if (type == "guess") type <- guess_type(cells$kind[seq_len(min(n, guess_max))])
  coerce_cells(cells, type, column, where, date_system)
}

# Any column as cells.
as_cells <- function(x) {
  if (inherits(x, "tabulon_cells")) return(x)
  n <- length(x)
  cells <- list(kind = integer(n), number = rep(NA_real_, n), text = rep(NA_character_, n),
                flag = rep(NA, n))
  present <- !is.na(x)
  if (is.character(x)) {
    cells$kind[present] <- KIND_TEXT
    cells$text <- as.character(x)
  } else if (is.logical(x)) {
    cells$kind[present] <- KIND_BOOLEAN
    cells$flag <- x
  } else if (inherits(x, "POSIXct")) {
    cells$kind[present] <- KIND_DATE
    cells$number <- as.double(unclass(x))
  } else if (inherits(x, "hms")) {
    cells$kind[present] <- KIND_TIME
    cells$number <- as.double(unclass(x))
  } else if (inherits(x, "difftime")) {
    cells$kind[present] <- KIND_DURATION
    cells$number <- as.double(unclass(x))
  } else {
    cells$kind[present] <- KIND_NUMBER
    cells$number <- as.double(x)
  }
  cells
}

# Cells matching na (after trimming text, when trim_ws) become blank, as do
# empty text and error cells. Numbers, booleans and dates are matched by the
# text of their value ("1" for TRUE, as the sheet stores it).
missing_cells <- function(cells, na, trim_ws, date_system) {
  kind <- cells$kind
  text <- kind == KIND_TEXT
  cells$text[text] <- clean_text(cells$text[text], na, trim_ws)
  blank <- kind == KIND_ERROR | (text & is.na(cells$text))
  if (length(na)) {
    numbers <- kind %in% c(KIND_NUMBER, KIND_DATE, KIND_DURATION, KIND_TIME)
    if (any(numbers) && any(!is.na(suppressWarnings(as.numeric(na))))) {
      # Dates match by their serial number, as the sheet stores them.
      values <- date_serial(cells$number[numbers], kind[numbers], date_system())
      values[kind[numbers] == KIND_NUMBER] <- cells$number[numbers & kind == KIND_NUMBER]
      blank[numbers] <- number_text(values) %in% na
    }
    flags <- kind == KIND_BOOLEAN
    if (any(flags)) blank[flags] <- ifelse(cells$flag[flags], "1", "0") %in% na
  }
  cells$kind[blank] <- KIND_BLANK
  cells
}

# Text trimmed of spaces, tabs and line ends (when trim_ws), with strings
# empty or all whitespace, and those in na, made NA.
clean_text <- function(x, na, trim_ws) .Call(C_tb_clean_text, x, na, trim_ws)

# readxl's guess: the widest of the kinds present, in the order blank <
# logical < date < numeric < text.
guess_type <- function(kind) {
  present <- unique(kind)
  if (KIND_TEXT %in% present) return("text")
  if (KIND_NUMBER %in% present) return("numeric")
  if (any(c(KIND_DATE, KIND_DURATION, KIND_TIME) %in% present)) return("date")
  "logical"
}

coerce_cells <- function(cells, type, column, where, date_system) {
  kind <- cells$kind
  n <- length(kind)
  is_date <- kind %in% c(KIND_DATE, KIND_DURATION, KIND_TIME)
  say <- function(rows, text) {
    if (!length(rows)) return()
    letters <- where$letters()
    letter <- if (column <= length(letters)) letters[[column]] else column_letters(column)
    number <- column_number(letter)
    for (k in seq_along(rows)) {
      row <- where$first_row() + rows[[k]] - 1
      warning(sprintf(text[[k]], sprintf("%s%d / R%dC%d", letter, row, row, number)),
              call. = FALSE)
    }
  }
  quote_text <- function(rows) sprintf("'%s'", cells$text[rows])
  switch(type,
    logical = {
      out <- rep(NA, n)
      out[kind == KIND_BOOLEAN] <- cells$flag[kind == KIND_BOOLEAN]
      # readxl takes the integer part: 0.1 is FALSE.
      out[kind == KIND_NUMBER] <- trunc(cells$number[kind == KIND_NUMBER]) != 0
      text <- which(kind == KIND_TEXT)
      value <- as.logical(cells$text[text])
      out[text] <- value
      bad <- sort(c(which(is_date), text[is.na(value)]))
      say(bad, ifelse(kind[bad] == KIND_TEXT,
                      paste0("Expecting logical in %s: got ", quote_text(bad)),
                      "Expecting logical in %s: got a date"))
      out
    },
    numeric = {
      out <- rep(NA_real_, n)
      out[kind == KIND_NUMBER] <- cells$number[kind == KIND_NUMBER]
      out[kind == KIND_BOOLEAN] <- as.double(cells$flag[kind == KIND_BOOLEAN])
      out[is_date] <- date_serial(cells$number[is_date], kind[is_date], date_system())
      text <- which(kind == KIND_TEXT)
      value <- suppressWarnings(as.numeric(cells$text[text]))
      out[text] <- value
      rows <- sort(c(which(kind == KIND_BOOLEAN), which(is_date), text))
      messages <- character(length(rows))
      messages[kind[rows] == KIND_BOOLEAN] <- "Coercing boolean to numeric in %s"
      messages[is_date[rows]] <- "Expecting numeric in %s: got a date"
      t <- kind[rows] == KIND_TEXT
      parsed <- !is.na(out[rows])
      messages[t & parsed] <- paste0("Coercing text to numeric in %s: ",
                                     quote_text(rows[t & parsed]))
      messages[t & !parsed] <- paste0("Expecting numeric in %s: got ",
                                      quote_text(rows[t & !parsed]))
      say(rows, messages)
      out
    },
    date = {
      serial <- rep(NA_real_, n)
      plain <- kind == KIND_DATE
      serial[is_date] <- date_serial(cells$number[is_date], kind[is_date], date_system())
      serial[kind == KIND_NUMBER] <- cells$number[kind == KIND_NUMBER]
      out <- rep(NA_real_, n)
      out[plain] <- cells$number[plain]
      redo <- !plain & !is.na(serial)
      out[redo] <- serial_seconds(serial[redo], date_system())
      # Date-times before 1900-03-01 of the 1900 system are read again from
      # their serial, which readxl counts without the leap day of 1900.
      early <- plain & date_system() == 1900 & !is.na(serial) & serial < 61
      out[early] <- serial_seconds(serial[early], 1900)
      rows <- sort(c(which(kind == KIND_NUMBER), which(kind %in% c(KIND_BOOLEAN, KIND_TEXT))))
      messages <- ifelse(kind[rows] == KIND_NUMBER, "Coercing numeric to date in %s",
                         ifelse(kind[rows] == KIND_BOOLEAN, "Expecting date in %s: got boolean",
                                paste0("Expecting date in %s: got ", quote_text(rows))))
      say(rows, messages)
      impossible <- !is.na(serial) & serial >= 60 & serial < 61 & date_system() == 1900
      before <- !is.na(serial) & serial < 0
      if (any(before)) warning("NA inserted for an unsupported date prior to 1900", call. = FALSE)
      if (any(impossible)) warning("NA inserted for impossible 1900-02-29 datetime", call. = FALSE)
      out[impossible | before] <- NA
      .POSIXct(out, tz = "UTC")
    },
    text = {
      out <- rep(NA_character_, n)
      out[kind == KIND_TEXT] <- cells$text[kind == KIND_TEXT]
      out[kind == KIND_NUMBER] <- number_text(cells$number[kind == KIND_NUMBER])
      out[kind == KIND_BOOLEAN] <- ifelse(cells$flag[kind == KIND_BOOLEAN], "TRUE", "FALSE")
      out[is_date] <- number_text(date_serial(cells$number[is_date], kind[is_date],
                                              date_system()))
      out
    },
    list = {
      out <- vector("list", n)
      for (i in seq_len(n)) {
        out[[i]] <- switch(kind[[i]] + 1L,
          NA, cells$flag[[i]], cells$number[[i]],
          .POSIXct(cells$number[[i]], tz = "UTC"),
          .POSIXct(serial_seconds(cells$number[[i]] / 86400, date_system()), tz = "UTC"),
          .POSIXct(serial_seconds(cells$number[[i]] / 86400, date_system()), tz = "UTC"),
          cells$text[[i]], NA)
      }
      out
    })
}

# Numbers as text: whole numbers in full, others in the fewest significant
# digits (15 to 17) that read back as the same number. readxl gives the
# text stored in the file instead, which some programs write with 17 digits
# (54.562989999999999 for 54.56299).
number_text <- function(x) {
  out <- sprintf("%.15g", x)
  for (digits in c(16, 17)) {
    redo <- !is.na(x) & as.numeric(out) != x
    if (!any(redo)) break
    out[redo] <- sprintf(paste0("%.", digits, "g"), x[redo])
  }
  whole <- !is.na(x) & x == trunc(x) & abs(x) < 1e21
  out[whole] <- sprintf("%.0f", x[whole])
  out[is.na(x)] <- NA
  out
}

# The serial number of date-time cells (seconds since 1970) and of
# durations and times of day (seconds), in the workbook's date system.
date_serial <- function(number, kind, system) {
  serial <- number / 86400
  dates <- kind == KIND_DATE
  offset <- if (system == 1904) 24107 else 25569
  serial[dates] <- serial[dates] + offset
  # The 1900 system counts a 29 February 1900 that was not.
  if (system == 1900) {
    early <- dates & serial < 61
    serial[early] <- serial[early] - 1
  }
  serial
}

# Seconds since 1970 of serial numbers, as readxl places them: in the 1900
# system, serials from 61 on are days since 1899-12-30, those before 60
# days since 1899-12-31.
serial_seconds <- function(serial, system) {
  if (system == 1904) return(round((serial - 24107) * 86400, 3))
  days <- ifelse(serial < 61, serial - 25568, serial - 25569)
  round(days * 86400, 3)
}
