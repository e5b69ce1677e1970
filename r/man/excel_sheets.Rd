\name{excel_sheets}
\alias{excel_sheets}
\title{List the worksheets of a workbook as readxl's excel_sheets() does}
\description{
  The names of the workbook's worksheets, in workbook order: the names
  \code{\link{read_excel}}'s \code{sheet} takes, and whose positions it
  counts. Chart, dialog and macro sheets are not listed (readxl lists them,
  but cannot read them).
}
\usage{
excel_sheets(path)
}
\arguments{
  \item{path}{a file name, a raw vector holding a workbook, or a workbook
    from \code{\link{open_workbook}}.}
}
\value{A character vector.}
\section{Conditions}{
  A missing file gives readxl's message \code{"`path` does not exist: ..."}
  with class \code{tabulon_file_error}; a file that is not a workbook gives
  \code{tabulon_workbook_error}.
}
\examples{
path <- system.file("extdata", "sample.xlsx", package = "tabulon")
excel_sheets(path)
# Every sheet into a list of tibbles:
sapply(excel_sheets(path), function(sheet) nrow(read_excel(path, sheet)))
}
