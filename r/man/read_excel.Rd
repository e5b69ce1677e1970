\name{read_excel}
\alias{read_excel}
\alias{read_xlsx}
\title{Read a worksheet as readxl's read_excel() does}
\description{
  \code{read_excel} and \code{read_xlsx} take the arguments of the functions
  of those names in the \pkg{readxl} package (version 1.4), with the same
  defaults and meaning, and give the same tibble, so that a script switches
  by changing the package name. The sheet is parsed by \file{tabulon.so}.
  \code{read_excel} reads .xlsx and .xlsm workbooks and refuses other formats;
  \code{read_xlsx} reads its input as .xlsx whatever its name.
}
\usage{
read_excel(path, sheet = NULL, range = NULL, col_names = TRUE,
  col_types = NULL, na = "", trim_ws = TRUE, skip = 0, n_max = Inf,
  guess_max = min(1000, n_max), progress = readxl_progress(),
  .name_repair = "unique")

read_xlsx(path, sheet = NULL, range = NULL, col_names = TRUE,
  col_types = NULL, na = "", trim_ws = TRUE, skip = 0, n_max = Inf,
  guess_max = min(1000, n_max), progress = readxl_progress(),
  .name_repair = "unique")
}
\arguments{
  \item{path}{the workbook: a file name, a raw vector holding the bytes of
    a workbook (read in memory, never written to a file, when the library
    has the handle interface), or a workbook from \code{\link{open_workbook}}.}
  \item{sheet}{a sheet name, or a position among the worksheets (chart
    sheets are not counted); \code{NULL}: the first. A sheet named in
    \code{range} takes precedence.}
  \item{range}{the cells to read: \code{"B3:D87"}, \code{"Sheet2!B3:D87"},
    \code{"R3C2:R87C4"}, or a \code{cell_limits} object of the
    \pkg{cellranger} package (\code{cell_rows()}, \code{cell_cols()},
    \code{cell_limits()}, \code{anchored()}). It takes precedence over
    \code{skip} and \code{n_max}. A range with both corners gives exactly its
    rows and columns, empty ones included.}
  \item{col_names}{\code{TRUE}: the first row read names the columns;
    \code{FALSE}: names \code{...1}, \code{...2}, ...; a character vector:
    the names (one per column, or one per column not skipped).}
  \item{col_types}{\code{NULL} (guess every column) or one of
    \code{"skip"}, \code{"guess"}, \code{"logical"}, \code{"numeric"},
    \code{"date"}, \code{"text"}, \code{"list"} per column; one type is
    recycled to every column.}
  \item{na}{strings read as missing values; blank cells always are.
    Numbers, dates and booleans match by the text of their value.}
  \item{trim_ws}{whether leading and trailing whitespace is trimmed from
    text cells and column names.}
  \item{skip}{rows skipped before anything is read, counted from the
    sheet's first row; leading empty rows after them are skipped too.}
  \item{n_max}{the most data rows read. Reading stops there.}
  \item{guess_max}{the most data rows the type of a column is guessed from
    (see Details).}
  \item{progress}{accepted for compatibility; no progress is shown.}
  \item{.name_repair}{how column names are repaired, passed to
    \code{vctrs::vec_as_names()}: \code{"unique"}, \code{"minimal"},
    \code{"check_unique"}, \code{"universal"}, or a function.}
}
\details{
  Types follow readxl's rules. A guessed column takes the widest kind of its
  cells in the order logical, date, numeric, text; blank cells, error cells
  (\code{#N/A}, \code{#DIV/0!}, ...) and cells matching \code{na} do not
  count and read as \code{NA}. Dates are \code{POSIXct} in UTC, including
  cells of elapsed-time formats such as \code{[h]:mm:ss} and times of day,
  which are placed on 1899-12-31 (1904-01-01 in the 1904 date system) as
  readxl places them. A column of a given type coerces cells of other kinds
  as readxl does, with its warnings (\code{"Expecting numeric in B3 / R3C2:
  got 'abc'"}, \code{"Coercing text to numeric in ..."},
  \code{"Coercing boolean to numeric in ..."}, \code{"Coercing numeric to
  date in ..."}, ...): text that reads as a number becomes numeric, numbers
  become dates from their serial, dates read as numbers give their serial,
  booleans become 1 and 0, numbers become logical by their integer part, and
  every kind becomes text. \code{"list"} keeps each cell's own value.
}
\section{Where tabulon differs on purpose}{
  \itemize{
    \item Types are guessed from every row of the sheet, not only the first
      1,000, so a column whose first values are blank or numbers does not
      turn later text into \code{NA} with a warning per cell. Giving
      \code{guess_max} explicitly still limits the guess to that many rows,
      as readxl does, for scripts that rely on it.
    \item \code{path} may be a raw vector, or a workbook opened once with
      \code{\link{open_workbook}} for reading many sheets.
    \item \code{read_excel} refuses .xls workbooks, and files that are not
      zip archives, with a condition of class \code{tabulon_format_error};
      an .xlsx under another name is read, as readxl reads it.
    \item Sheet names and positions count worksheets only. readxl's
      \code{excel_sheets()} also lists chart, dialog and macro sheets, which
      its \code{read_excel()} then cannot read (\code{"`rId2` not found"}),
      and counts them in positions, so \code{sheet = 3} may name another
      sheet there when a chart sheet comes first.
    \item A number read as text is written in the fewest digits (15 to 17)
      that read back as the same number; readxl gives the text stored in the
      file, which some programs write with 17 digits (\code{"54.562989999999999"}
      for 54.56299).
    \item \code{n_max} counts data rows; readxl also counts the empty rows it
      skips after \code{skip}, and so may return fewer rows than asked.
    \item Whole-number dates written as \code{date1904="true"} (rather than
      \code{"1"}) are read in the 1904 date system; readxl reads them four
      years early.
    \item The date-time of the 1900 date system's serial 60 (the 29 February
      1900 that never was) reads as 1900-02-28 where readxl gives \code{NA}
      with a warning.
  }
}
\section{Conditions}{
  Errors come in the situations readxl has them, with readxl's messages:
  \code{"`path` does not exist: 'x.xlsx'"} (class
  \code{tabulon_file_error}); \code{"Sheet 'x' not found"} and
  \code{"Can't retrieve sheet in position 9, only 3 sheet(s) found."}
  (\code{tabulon_sheet_error}, with fields \code{sheet} and
  \code{sheets}); \code{"`sheet` must be positive"}, \code{"`n_max` must be
  a positive integer"}, \code{"Sheet 1 has 3 columns, but `col_types` has
  length 2."} and the other argument checks (\code{tabulon_argument_error}).
  Workbooks that cannot be read give \code{tabulon_workbook_error}. Every
  error also has class \code{tabulon_error}. Warnings are plain warnings, as
  readxl's are; the messages about repaired names come from \pkg{vctrs}.
}
\value{A tibble.}
\seealso{\code{\link{excel_sheets}}, \code{\link{read_sheet}},
  \code{\link{open_workbook}}.}
\examples{
path <- system.file("extdata", "sample.xlsx", package = "tabulon")
read_excel(path)
read_excel(path, sheet = "Sales", range = "A1:D4")
read_excel(path, 1, col_types = c("date", "text", "skip", "numeric", "numeric", "logical"))
read_excel(path, "Notes", col_names = FALSE, na = "Figures are illustrative.")

# From memory: the bytes of a download, an upload or a database blob.
bytes <- readBin(path, "raw", file.size(path))
read_xlsx(bytes, n_max = 2)
}
