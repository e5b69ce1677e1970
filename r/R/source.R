# Workbook sources: a path, a raw vector holding the bytes of a workbook,
# or a workbook object from open_workbook(). Every reader takes any of them.

# TRUE when the loaded library has the handle interface: raw vectors are
# read in place, workbook objects stay open, and ranges, skip counted from
# the sheet's first row and the kinds of cells are honoured.
has_handles <- function() isTRUE(.Call(C_tb_has_handles))

# The source as the C code takes it (a path, a raw vector, or the workbook's
# pointer). A raw vector with a library that cannot read memory goes
# through a temporary file, removed when the frame `owner` ends.
as_source <- function(source, call, owner = parent.frame()) {
  if (inherits(source, "tabulon_workbook")) {
    if (!is_open(source)) raise("the workbook is closed", "tabulon_argument_error", call)
    return(source$pointer)
  }
  if (is.raw(source)) {
    if (!length(source)) raise("the raw vector is empty: it holds no workbook",
                               "tabulon_workbook_error", call)
    load_library(call)
    if (has_handles()) return(source)
    file <- tempfile(fileext = ".xlsx")
    writeBin(source, file)
    do.call(on.exit, list(substitute(unlink(f), list(f = file)), add = TRUE), envir = owner)
    return(file)
  }
  check_path(source, call)
}

# A short description of a source for messages.
source_label <- function(source) {
  if (inherits(source, "tabulon_workbook")) return(source$label)
  if (is.raw(source)) return(sprintf("<raw vector of %d bytes>", length(source)))
  source
}

open_workbook <- function(path) {
  call <- sys.call()
  if (inherits(path, "tabulon_workbook")) return(path)
  label <- source_label(path)
  source <- as_source(path, call)
  load_library(call)
  pointer <- .Call(C_tb_open, source, FALSE)
  if (inherits(pointer, "tabulon_failure")) signal_failure(pointer, label, NULL, call)
  book <- new.env(parent = emptyenv())
  book$pointer <- pointer
  book$label <- label
  # The bytes are the library's now; what readers need of them later, the
  # date system, is read while they are here.
  if (is.raw(path)) book$date_system <- workbook_date_system(path)
  # Without the handle interface the pointer keeps a path: a raw vector's
  # temporary file must then outlive this call, until the workbook goes.
  if (is.character(source) && is.raw(path)) {
    keep <- tempfile(fileext = ".xlsx")
    file.copy(source, keep)
    .Call(C_tb_close, pointer)
    book$pointer <- .Call(C_tb_open, keep, FALSE)
    book$file <- keep
    reg.finalizer(book, function(b) unlink(b$file), onexit = TRUE)
  }
  class(book) <- "tabulon_workbook"
  book
}

close_workbook <- function(workbook) {
  if (!inherits(workbook, "tabulon_workbook")) {
    raise("close_workbook() takes a workbook from open_workbook()", "tabulon_argument_error",
          sys.call())
  }
  .Call(C_tb_close, workbook$pointer)
  if (!is.null(workbook$file)) unlink(workbook$file)
  invisible(NULL)
}

is_open <- function(workbook) isTRUE(.Call(C_tb_is_open, workbook$pointer))

print.tabulon_workbook <- function(x, ...) {
  cat(sprintf("<tabulon workbook %s%s>\n", x$label, if (is_open(x)) "" else ", closed"))
  invisible(x)
}
