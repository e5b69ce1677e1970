# Finding and loading tabulon.so.
#
# The library is loaded with dlopen on first use, not linked, so the package
# installs and attaches without it and says where it looked when it is
# missing. Places, in order:
#   1. options(tabulon.library = PATH), else the environment variable
#      TABULON_LIBRARY: when set, the only place, so that a wrong value is
#      reported rather than hidden by another copy of the library;
#   2. the places configure recorded at installation (inst/library-places):
#      the library installed by cmake --install, then build/tabulon.so of the
#      repository the package was installed from.
# The first library loaded stays for the session.

.state <- new.env(parent = emptyenv())

library_places <- function() {
  chosen <- getOption("tabulon.library", "")
  if (!nzchar(chosen)) chosen <- Sys.getenv("TABULON_LIBRARY")
  if (nzchar(chosen)) return(path.expand(chosen))
  recorded <- system.file("library-places", package = "tabulon")
  if (!nzchar(recorded)) return(character())
  places <- readLines(recorded, encoding = "UTF-8", warn = FALSE)
  places[nzchar(places)]
}

load_library <- function(call = sys.call(-1)) {
  if (!is.null(.state$path)) return(.state$path)
  places <- library_places()
  found <- places[file.exists(places) & !dir.exists(places)]
  if (length(found) == 0) {
    looked <- if (length(places)) paste(places, collapse = ", ") else "nowhere"
    raise(paste0("cannot find tabulon.so (looked at ", looked, "); build it with ",
                 "./scripts/build.sh, or set options(tabulon.library = PATH) or ",
                 "TABULON_LIBRARY to its path"), "tabulon_library_error", call)
  }
  path <- normalizePath(found[[1]])
  problem <- .Call(C_tb_load, path)
  if (!is.null(problem)) {
    raise(paste0(path, " is not a usable tabulon.so: ", problem), "tabulon_library_error", call)
  }
  .state$path <- path
  path
}

# The path of the tabulon.so this session uses (loading it if need be), with
# the library's identification text as attribute "version".
tabulon_library <- function() {
  path <- load_library(sys.call())
  structure(path, version = .Call(C_tb_version))
}

# Signals an error of class c(class, "tabulon_error", "error", "condition"),
# with any further fields; call is the user's call to this package.
raise <- function(message, class, call, ...) {
  condition <- structure(
    class = c(class, "tabulon_error", "error", "condition"),
    list(message = message, call = call, ...))
  stop(condition)
}
