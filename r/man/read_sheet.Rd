\name{read_sheet}
\alias{read_sheet}
\alias{sheet_names}
\alias{tabulon_library}
\title{Read a worksheet of an .xlsx workbook into a data frame}
\description{
  \code{read_sheet} reads one worksheet into a data frame (a tibble when the
  tibble package is installed), each column typed from the cells it holds.
  \code{sheet_names} lists the workbook's sheets in workbook order.
  \code{tabulon_library} gives the path of the \file{tabulon.so} in use.
}
\usage{
sheet_names(path)
read_sheet(path, sheet = 1, col_names = TRUE, skip = 0, n_max = Inf)
tabulon_library()
}
\arguments{
  \item{path}{the workbook: a file name, a raw vector holding its bytes, or
    a workbook from \code{\link{open_workbook}}.}
  \item{sheet}{a sheet name (exact, case-sensitive) or a position, 1 being
    the first sheet.}
  \item{col_names}{\code{TRUE}: the first row read names the columns;
    \code{FALSE}: it is data, and the columns are named \code{...1},
    \code{...2}, ...; a character vector: the names, one per column, and the
    first row is data.}
  \item{skip}{rows skipped before anything is read, counted from the first
    row that holds a value (so leading empty rows never count).}
  \item{n_max}{the most data rows read (after the header row); with a
    library that has selections, reading stops there.}
}
\details{
  Column types: numbers are double; cells with a date or time format (built-in
  or custom) and ISO 8601 date cells are \code{POSIXct} in time zone
  \code{"UTC"} (the wall-clock time written in the sheet); booleans are
  logical; text is character. A column whose cells have several types is
  character, each cell as the library writes it (numbers as written in the
  file, booleans as \code{"1"}/\code{"0"}, dates as
  \code{"\%Y-\%m-\%d \%H:\%M:\%S"}). Empty cells are \code{NA}; a column without
  any value is logical \code{NA}.

  With a library that tells the kinds of cells apart, cells of elapsed-time
  formats (\code{[h]:mm:ss}) are \code{difftime} in seconds, times of day
  (\code{hh:mm:ss} on a serial below 1) are \code{POSIXct} on 1899-12-31 as
  readxl gives them, error cells (\code{#N/A}, \code{#DIV/0!}) are
  \code{NA}, a cell holding empty text is \code{""}, and a column mixing
  kinds is character with booleans as \code{"1"}/\code{"0"}, numbers in R's
  shortest form and date-times as \code{"\%Y-\%m-\%d \%H:\%M:\%S"}.

  For readxl's arguments and rules (\code{skip} counted from the sheet's
  first row, ranges, \code{col_types}, \code{na}) use
  \code{\link{read_excel}}, which reads through the same code.

  Rows span the first to the last row holding a value, columns the first to
  the last column holding one; empty rows and columns inside keep their place
  as \code{NA}.

  Column names are made unique as tibble's \code{"unique"} name repair does:
  a trailing \code{...N} already in a name is dropped, then empty names and
  every copy of a repeated name get the suffix \code{...N}, N being the
  column's position: a header \code{id, "", x, x} gives
  \code{id, ...2, x...3, x...4}. Names given in \code{col_names} are repaired
  the same way.

  Set \code{options(tabulon.tibble = FALSE)} for a plain data.frame even when
  tibble is installed.
}
\section{The library}{
  \file{tabulon.so} is loaded on first use, from the first of:
  \code{getOption("tabulon.library")} or, when that is unset, the
  environment variable \env{TABULON_LIBRARY} (either one, when set, is the only
  place looked at); else the places recorded when the package was installed:
  the library installed by \command{cmake --install} (found through
  pkg-config), then \file{build/tabulon.so} of the repository the package was
  installed from. Each call given a path or a raw vector opens the workbook,
  reads it and closes it; \code{\link{open_workbook}} keeps one open.
}
\section{Errors}{
  Conditions carry the library's text and inherit from \code{tabulon_error}:
  \code{tabulon_file_error} (no such file, not a regular file, unreadable),
  \code{tabulon_workbook_error} (not a zip archive, damaged, a part missing),
  \code{tabulon_memory_error}, \code{tabulon_sheet_error} (no such sheet; the
  message and field \code{sheets} list the workbook's sheets),
  \code{tabulon_library_error} (the library cannot be found or loaded),
  \code{tabulon_argument_error}, and \code{tabulon_read_error} for anything
  else. Fields \code{code} (the library's failure code) and \code{path} say
  more.
}
\value{
  \code{read_sheet}: a tibble or data.frame. \code{sheet_names}: a character
  vector. \code{tabulon_library}: the library's path, with its identification
  text as attribute \code{"version"}.
}
\examples{
path <- system.file("extdata", "sample.xlsx", package = "tabulon")
sheet_names(path)
sales <- read_sheet(path, "Sales")
sales
read_sheet(path, 2, col_names = FALSE, skip = 1, n_max = 2)
read_sheet(readBin(path, "raw", file.size(path)), "Notes")
tabulon_library()
}
