# Times tabulon::read_sheet and tabulon::read_xlsx against readxl::read_xlsx,
# sheet to data frame, and the first 100 rows alone (n_max = 100).
#
#   Rscript bench/frames.R [-r N] WORKBOOK...      (bench/frames.sh runs it)
#
# Speed: in one warm R process per workbook, a first call of each reader
# loads everything, then the readers take turns N times (default 5); the
# median wall time of each is reported, with the range. Memory: a fresh R
# process per reader and workbook reads the sheet once and reports its peak
# resident size (VmHWM); a process that only loads both packages gives R's
# own share. The package must be installed and find tabulon.so (set
# TABULON_LIBRARY to the Release build's).
suppressPackageStartupMessages({
  library(tabulon)
  library(readxl)
})

args <- commandArgs(trailingOnly = TRUE)
repeats <- 5L
if (length(args) >= 2 && args[[1]] == "-r") {
  repeats <- as.integer(args[[2]])
  args <- args[-(1:2)]
}
if (length(args) == 0 || is.na(repeats) || repeats < 1) {
  stop("usage: Rscript bench/frames.R [-r N] WORKBOOK...")
}

readers <- list(
  read_sheet = function(path) tabulon::read_sheet(path),
  read_xlsx = function(path) tabulon::read_xlsx(path),
  read_excel = function(path) readxl::read_xlsx(path))
calls <- c(read_sheet = "tabulon::read_sheet(path)", read_xlsx = "tabulon::read_xlsx(path)",
           read_excel = "readxl::read_xlsx(path)")
# The first rows only: where reading stops early, this is what it saves.
first_rows <- list(
  read_xlsx = function(path) tabulon::read_xlsx(path, n_max = 100),
  read_excel = function(path) readxl::read_xlsx(path, n_max = 100))

# Wall and CPU ms of one call (CPU: user and system time of all the
# process's threads, which a busy shared machine inflates less than wall time).
call_ms <- function(f, path) {
  gc(FALSE)  # a collection owed by the previous call is not charged to this one
  start <- proc.time()
  f(path)
  used <- proc.time() - start
  1000 * c(wall = used[["elapsed"]], cpu = used[["user.self"]] + used[["sys.self"]])
}

# Peak resident MB of a fresh R process that loads both packages and runs
# the expression (NULL: nothing).
peak_mb <- function(expression, path) {
  code <- paste0(
    "suppressPackageStartupMessages({library(tabulon); library(readxl)});",
    "path <- commandArgs(TRUE)[[1]];",
    if (!is.null(expression)) paste0("x <- ", expression, ";"),
    "s <- readLines('/proc/self/status');",
    "cat(as.numeric(gsub('[^0-9]', '', grep('^VmHWM', s, value = TRUE))) / 1024)")
  out <- system2(file.path(R.home("bin"), "Rscript"), c("-e", shQuote(code), shQuote(path)),
                 stdout = TRUE)
  as.numeric(out[[length(out)]]) * 1024 * 1024 / 1e6
}

figure <- function(x) {
  if (x >= 100) formatC(x, format = "f", digits = 0, big.mark = ",")
  else formatC(x, format = "f", digits = if (x >= 10) 1 else 2)
}
with_range <- function(x) sprintf("%s (%s–%s)", figure(median(x)), figure(min(x)), figure(max(x)))

rows <- character()
notes <- character()
for (path in args) {
  name <- sub("\\.xlsx$", "", basename(path))
  ours <- readers$read_sheet(path)  # the warm-up calls
  theirs <- readers$read_excel(path)
  same_types <- identical(vapply(ours, function(c) class(c)[1], ""),
                          vapply(theirs, function(c) class(c)[1], ""))
  same_values <- isTRUE(all.equal(as.data.frame(ours), as.data.frame(theirs),
                                  check.attributes = FALSE))
  drop_in <- identical(suppressMessages(readers$read_xlsx(path)), readers$read_excel(path))
  times <- list(read_sheet = numeric(), read_xlsx = numeric(), read_excel = numeric())
  cpu <- times
  for (run in seq_len(repeats)) {
    for (reader in names(readers)) {
      used <- call_ms(readers[[reader]], path)
      times[[reader]] <- c(times[[reader]], used[["wall"]])
      cpu[[reader]] <- c(cpu[[reader]], used[["cpu"]])
    }
  }
  first <- list(read_xlsx = numeric(), read_excel = numeric())
  for (run in seq_len(repeats)) {
    for (reader in names(first_rows)) {
      first[[reader]] <- c(first[[reader]], call_ms(first_rows[[reader]], path)[["wall"]])
    }
  }
  baseline <- peak_mb(NULL, path)
  peaks <- vapply(names(readers), function(r) peak_mb(calls[[r]], path), 0)
  frame_mb <- as.numeric(object.size(ours)) / 1e6
  shape <- dim(ours)
  rm(ours, theirs)
  rows <- c(rows, sprintf(
    "| R | %s | %s × %d | read_sheet | %s | readxl::read_xlsx | %s | %.1f× | %s | %s |",
    name, formatC(shape[[1]], big.mark = ",", format = "d"), shape[[2]],
    with_range(times$read_sheet), with_range(times$read_excel),
    median(times$read_excel) / median(times$read_sheet),
    figure(peaks[["read_sheet"]]), figure(peaks[["read_excel"]])),
    sprintf(
    "| R | %s | %s × %d | read_xlsx | %s | readxl::read_xlsx | %s | %.1f× | %s | %s |",
    name, formatC(shape[[1]], big.mark = ",", format = "d"), shape[[2]],
    with_range(times$read_xlsx), with_range(times$read_excel),
    median(times$read_excel) / median(times$read_xlsx),
    figure(peaks[["read_xlsx"]]), figure(peaks[["read_excel"]])),
    sprintf(
    "| R | %s | 100 × %d (n_max = 100) | read_xlsx | %s | readxl::read_xlsx | %s | %.1f× | | |",
    name, shape[[2]], with_range(first$read_xlsx), with_range(first$read_excel),
    median(first$read_excel) / median(first$read_xlsx)))
  notes <- c(notes, sprintf(
    "- %s: read_xlsx takes %.2f× the time of read_sheet; CPU time (all threads) read_sheet %s ms, read_xlsx %s ms, readxl::read_xlsx %s ms; R with both packages loaded %s MB; the data frame %s MB; the frames of read_sheet and readxl %s; read_xlsx's frame %s readxl's.",
    name, median(times$read_xlsx) / median(times$read_sheet),
    figure(median(cpu$read_sheet)), figure(median(cpu$read_xlsx)), figure(median(cpu$read_excel)),
    figure(baseline), figure(frame_mb),
    if (same_types && same_values) "are equal" else if (same_types) "have the same types, not the same values"
    else "differ in type", if (drop_in) "is identical to" else "differs from"))
}

cat(sprintf("Measured %s on %s; R %s, readxl %s; %d timed calls of each reader, alternating. Medians, with the range in parentheses; times in ms, MB = 10^6 bytes.\n\n",
            format(Sys.Date()), sub("^model name\\s*:\\s*", "",
                                    grep("^model name", readLines("/proc/cpuinfo"), value = TRUE)[1]),
            getRversion(), packageVersion("readxl"), repeats))
cat("| host | workbook | rows × columns | reader | ms | other reader | ms | faster by | peak RSS MB | other's peak RSS MB |\n")
cat("|---|---|---|---|---:|---|---:|---:|---:|---:|\n")
cat(rows, sep = "\n")
cat("\n")
cat(notes, sep = "\n")
cat("\n")
