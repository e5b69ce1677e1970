\name{open_workbook}
\alias{open_workbook}
\alias{close_workbook}
\alias{print.tabulon_workbook}
\title{Keep a workbook open for many reads}
\description{
  \code{open_workbook} opens a workbook once and returns an object that every
  reader of the package takes in place of a path (\code{\link{read_excel}},
  \code{\link{read_xlsx}}, \code{\link{excel_sheets}}, \code{\link{read_sheet}},
  \code{\link{sheet_names}}), so that a script reading many sheets of one
  workbook does not open and parse its archive again for each.
  \code{close_workbook} releases it; a workbook that is no longer referenced
  is closed by the garbage collector.
}
\usage{
open_workbook(path)
close_workbook(workbook)
\method{print}{tabulon_workbook}(x, ...)
}
\arguments{
  \item{path}{a file name or a raw vector holding a workbook (the bytes are
    copied, so the vector may change afterwards).}
  \item{workbook, x}{a workbook from \code{open_workbook}.}
  \item{...}{ignored.}
}
\details{
  The workbook is an external pointer to the library's handle, with a
  finalizer. Reading a closed workbook is an error of class
  \code{tabulon_argument_error}; closing one twice does nothing. With a
  library that predates handles the object keeps the file name (and a raw
  vector in a temporary file) and each read opens the file again.
}
\value{\code{open_workbook}: an object of class \code{tabulon_workbook}.
  \code{close_workbook}: \code{NULL}, invisibly.}
\examples{
path <- system.file("extdata", "sample.xlsx", package = "tabulon")
book <- open_workbook(path)
book
frames <- lapply(excel_sheets(book), function(sheet) read_excel(book, sheet))
sapply(frames, nrow)
close_workbook(book)
book
}
