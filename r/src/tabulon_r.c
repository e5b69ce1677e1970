/* The R side of tabulon: loads tabulon.so at run time and turns the typed
 * columns of readColumns into R vectors.
 *
 * The library is opened with dlopen rather than linked, so the package
 * installs before the library is built and a user can point it at any copy
 * (see R/library.R for where it is looked for).
 *
 * A workbook is a source: a path, a raw vector, or a workbook object (an
 * external pointer made by tb_open, closed by tb_close or its finalizer).
 * A library with the handle interface (tabulonOpen ...) opens each source
 * as a handle of its own; an older library holds one workbook per process,
 * so every call opens the workbook, reads, and closes it again, and raw
 * vectors need the handle interface. Everything between opening and the
 * end of the conversion runs under R_UnwindProtect: an R error (memory,
 * an embedded NUL, an interrupt) still closes what the call opened and
 * releases both Arrow structs. Failures the library reports are not raised
 * here but returned as a "tabulon_failure" list, so that R code builds the
 * classed condition. */
#include <dlfcn.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define R_NO_REMAP
#include <R.h>
#include <Rinternals.h>
#include <R_ext/Rdynload.h>

#include "tabulon.h"

/* ---- The library's entry points -------------------------------------- */

static struct {
  void* handle;
  int (*openExcel)(const char*);
  int (*closeExcel)(void);
  const char* (*listSheets)(void);
  const char* (*version)(void);
  const char* (*lastError)(int*);
  int (*readColumns)(const char*, const TabulonReadOptions*, struct ArrowSchema*,
                     struct ArrowArray*);
  /* The handle interface; all NULL when the library predates it. */
  TabulonWorkbook* (*open)(const char*, TabulonStatus*);
  TabulonWorkbook* (*open_memory)(const void*, size_t, unsigned, TabulonStatus*);
  int (*close)(TabulonWorkbook*, TabulonStatus*);
  int64_t (*sheet_count)(TabulonWorkbook*, TabulonStatus*);
  int (*sheet_info)(TabulonWorkbook*, int64_t, TabulonSheetInfo*, TabulonStatus*);
  int (*read_columns)(TabulonWorkbook*, const char*, int64_t, const TabulonReadOptions*,
                      struct ArrowSchema*, struct ArrowArray*, TabulonStatus*);
} lib;

/* Loads the library at path once per session. Returns NULL when loaded (now
 * or before), else the reason as a string; nothing is kept on failure. */
static SEXP tb_load(SEXP path_sexp) {
  if (lib.handle != NULL) return R_NilValue;
  if (!Rf_isString(path_sexp) || XLENGTH(path_sexp) != 1)
    Rf_error("the library path must be one string");
  const char* path = Rf_translateChar(STRING_ELT(path_sexp, 0));
  /* RTLD_LOCAL: the entry points are reached through dlsym only, and must
   * not clash with anything else the session has loaded. */
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == NULL) {
    const char* why = dlerror();
    return Rf_mkString(why != NULL ? why : "dlopen failed");
  }
  static const char* const names[] = {"openExcel", "closeExcel", "listSheets",
                                      "version", "lastError", "readColumns"};
  void* found[6];
  for (int i = 0; i < 6; ++i) {
    found[i] = dlsym(handle, names[i]);
    if (found[i] == NULL) {
      dlclose(handle);
      char text[200];
      snprintf(text, sizeof text, "it has no entry point %s", names[i]);
      return Rf_mkString(text);
    }
  }
  /* Object pointers to function pointers: what dlsym is for on POSIX. */
  memcpy(&lib.openExcel, &found[0], sizeof found[0]);
  memcpy(&lib.closeExcel, &found[1], sizeof found[1]);
  memcpy(&lib.listSheets, &found[2], sizeof found[2]);
  memcpy(&lib.version, &found[3], sizeof found[3]);
  memcpy(&lib.lastError, &found[4], sizeof found[4]);
  memcpy(&lib.readColumns, &found[5], sizeof found[5]);
  /* The handle interface is used only when all of it is there. */
  static const char* const handle_names[] = {"tabulonOpen",      "tabulonOpenMemory",
                                             "tabulonClose",     "tabulonSheetCount",
                                             "tabulonSheetInfo", "tabulonReadColumns"};
  void* handle_found[6];
  int complete = 1;
  for (int i = 0; i < 6; ++i) {
    handle_found[i] = dlsym(handle, handle_names[i]);
    complete = complete && handle_found[i] != NULL;
  }
  if (complete) {
    memcpy(&lib.open, &handle_found[0], sizeof handle_found[0]);
    memcpy(&lib.open_memory, &handle_found[1], sizeof handle_found[1]);
    memcpy(&lib.close, &handle_found[2], sizeof handle_found[2]);
    memcpy(&lib.sheet_count, &handle_found[3], sizeof handle_found[3]);
    memcpy(&lib.sheet_info, &handle_found[4], sizeof handle_found[4]);
    memcpy(&lib.read_columns, &handle_found[5], sizeof handle_found[5]);
  }
  lib.handle = handle;
  return R_NilValue;
}

/* TRUE when the library has the handle interface (and so reads raw
 * vectors, keeps workbooks open, and honours ranges and cell kinds). */
static SEXP tb_has_handles(void) { return Rf_ScalarLogical(lib.open != NULL); }

static SEXP tb_version(void) {
  if (lib.handle == NULL) Rf_error("tabulon.so is not loaded");
  return Rf_mkString(lib.version());
}

/* ---- Helpers ------------------------------------------------------------- */

static SEXP utf8_string(const char* text, size_t length) {
  if (length > INT_MAX) Rf_error("a string of %.0f bytes is too long for R", (double)length);
  /* mkCharLenCE refuses embedded NULs; a decoded _x0000_ escape can put
   * one into a cell, and dropping it beats failing the whole sheet. */
  if (memchr(text, '\0', length) == NULL)
    return Rf_mkCharLenCE(text, (int)length, CE_UTF8);
  char* copy = R_alloc(length, 1);
  size_t kept = 0;
  for (size_t i = 0; i < length; ++i)
    if (text[i] != '\0') copy[kept++] = text[i];
  return Rf_mkCharLenCE(copy, (int)kept, CE_UTF8);
}

/* The listSheets text ("a\nb\n") as a character vector. */
static SEXP sheet_list(void) {
  const char* text = lib.listSheets();
  R_xlen_t count = 0;
  for (const char* p = text; *p != '\0'; ++p) count += *p == '\n';
  SEXP names = PROTECT(Rf_allocVector(STRSXP, count));
  const char* start = text;
  for (R_xlen_t i = 0; i < count; ++i) {
    const char* end = strchr(start, '\n');
    SET_STRING_ELT(names, i, utf8_string(start, (size_t)(end - start)));
    start = end + 1;
  }
  UNPROTECT(1);
  return names;
}

/* list(code, message, sheets) of class "tabulon_failure"; sheets only when
 * the failure is about the sheet and a workbook is open to list them. */
static SEXP failure(int code, const char* message, int with_sheets) {
  SEXP result = PROTECT(Rf_allocVector(VECSXP, 3));
  SET_VECTOR_ELT(result, 0, Rf_ScalarInteger(code));
  SET_VECTOR_ELT(result, 1, Rf_ScalarString(utf8_string(message, strlen(message))));
  SET_VECTOR_ELT(result, 2, with_sheets ? sheet_list() : R_NilValue);
  SEXP names = PROTECT(Rf_allocVector(STRSXP, 3));
  SET_STRING_ELT(names, 0, Rf_mkChar("code"));
  SET_STRING_ELT(names, 1, Rf_mkChar("message"));
  SET_STRING_ELT(names, 2, Rf_mkChar("sheets"));
  Rf_setAttrib(result, R_NamesSymbol, names);
  Rf_setAttrib(result, R_ClassSymbol, Rf_mkString("tabulon_failure"));
  UNPROTECT(2);
  return result;
}

/* A failure from a handle call's status. */
static SEXP status_failure(const TabulonStatus* status) {
  return failure(status->code != TABULON_OK ? status->code : TABULON_INTERNAL, status->text, 0);
}

static SEXP library_failure(int with_sheets) {
  int code = TABULON_INTERNAL;
  const char* text = lib.lastError(&code);
  return failure(code, text != NULL ? text : "", with_sheets && code == TABULON_NO_SUCH_SHEET);
}

/* ---- Arrow columns to R vectors ------------------------------------------ */

static int bit(const uint8_t* bits, int64_t i) { return (bits[i >> 3] >> (i & 7)) & 1; }

static void check_buffers(const struct ArrowArray* a, int64_t wanted, const char* format) {
  if (a->n_buffers < wanted || a->buffers == NULL || (wanted > 1 && a->buffers[1] == NULL))
    Rf_error("tabulon.so gave a column of format '%s' without its buffers", format);
}

static SEXP all_missing(R_xlen_t n) {
  SEXP out = PROTECT(Rf_allocVector(LGLSXP, n));
  int* v = LOGICAL(out);
  for (R_xlen_t i = 0; i < n; ++i) v[i] = NA_LOGICAL;
  UNPROTECT(1);
  return out;
}

static SEXP booleans(const struct ArrowArray* a, int64_t start, R_xlen_t n) {
  check_buffers(a, 2, "b");
  const uint8_t* valid = a->buffers[0];
  const uint8_t* values = a->buffers[1];
  SEXP out = PROTECT(Rf_allocVector(LGLSXP, n));
  int* v = LOGICAL(out);
  for (R_xlen_t i = 0; i < n; ++i) {
    int64_t k = start + i;
    v[i] = valid != NULL && !bit(valid, k) ? NA_LOGICAL : bit(values, k);
  }
  UNPROTECT(1);
  return out;
}

static SEXP numbers(const struct ArrowArray* a, int64_t start, R_xlen_t n) {
  check_buffers(a, 2, "g");
  const uint8_t* valid = a->buffers[0];
  const double* values = (const double*)a->buffers[1] + start;
  SEXP out = PROTECT(Rf_allocVector(REALSXP, n));
  double* v = REAL(out);
  if (valid == NULL) {
    if (n > 0) memcpy(v, values, (size_t)n * sizeof(double));
  } else {
    for (R_xlen_t i = 0; i < n; ++i) v[i] = bit(valid, start + i) ? values[i] : NA_REAL;
  }
  UNPROTECT(1);
  return out;
}

/* Timestamps of the given unit per second, as POSIXct in time zone tz
 * ("UTC" when the column names none: the values are wall-clock times). */
static SEXP timestamps(const struct ArrowArray* a, int64_t start, R_xlen_t n, int64_t per_second,
                       const char* tz, const char* format) {
  check_buffers(a, 2, format);
  const uint8_t* valid = a->buffers[0];
  const int64_t* values = (const int64_t*)a->buffers[1] + start;
  SEXP out = PROTECT(Rf_allocVector(REALSXP, n));
  double* v = REAL(out);
  for (R_xlen_t i = 0; i < n; ++i) {
    if (valid != NULL && !bit(valid, start + i)) {
      v[i] = NA_REAL;
      continue;
    }
    /* Whole seconds and the fraction apart, so whole seconds stay exact
     * for every year a sheet can hold. */
    int64_t t = values[i];
    v[i] = (double)(t / per_second) + (double)(t % per_second) / (double)per_second;
  }
  SEXP klass = PROTECT(Rf_allocVector(STRSXP, 2));
  SET_STRING_ELT(klass, 0, Rf_mkChar("POSIXct"));
  SET_STRING_ELT(klass, 1, Rf_mkChar("POSIXt"));
  Rf_setAttrib(out, R_ClassSymbol, klass);
  Rf_setAttrib(out, Rf_install("tzone"), Rf_mkString(*tz != '\0' ? tz : "UTC"));
  UNPROTECT(2);
  return out;
}

/* A "u" array (UTF-8, 32-bit offsets) as one CHARSXP per element, NA_STRING
 * where missing. */
static SEXP utf8_strings(const struct ArrowArray* a) {
  check_buffers(a, 3, "u");
  if (a->length > 0 && a->buffers[2] == NULL)
    Rf_error("tabulon.so gave a string array without its characters");
  const uint8_t* valid = a->buffers[0];
  const int32_t* offsets = (const int32_t*)a->buffers[1] + a->offset;
  const char* data = a->buffers[2];
  R_xlen_t n = (R_xlen_t)a->length;
  SEXP out = PROTECT(Rf_allocVector(STRSXP, n));
  for (R_xlen_t i = 0; i < n; ++i) {
    if (valid != NULL && !bit(valid, a->offset + i)) {
      SET_STRING_ELT(out, i, NA_STRING);
      continue;
    }
    int32_t from = offsets[i], to = offsets[i + 1];
    if (from < 0 || to < from) Rf_error("tabulon.so gave a string array with broken offsets");
    SET_STRING_ELT(out, i, utf8_string(data + from, (size_t)(to - from)));
  }
  UNPROTECT(1);
  return out;
}

/* Dictionary-encoded text: each distinct string becomes a CHARSXP once, and
 * rows share it by index, which is also how R's string cache would end up. */
static SEXP dictionary_text(const struct ArrowSchema* s, const struct ArrowArray* a, int64_t start,
                            R_xlen_t n) {
  check_buffers(a, 2, "i");
  if (s->dictionary == NULL || a->dictionary == NULL || strcmp(s->dictionary->format, "u") != 0)
    Rf_error("tabulon.so gave a text column without a UTF-8 dictionary");
  SEXP dictionary = PROTECT(utf8_strings(a->dictionary));
  R_xlen_t size = XLENGTH(dictionary);
  const uint8_t* valid = a->buffers[0];
  const int32_t* indexes = (const int32_t*)a->buffers[1] + start;
  SEXP out = PROTECT(Rf_allocVector(STRSXP, n));
  for (R_xlen_t i = 0; i < n; ++i) {
    if (valid != NULL && !bit(valid, start + i)) {
      SET_STRING_ELT(out, i, NA_STRING);
      continue;
    }
    int32_t k = indexes[i];
    if (k < 0 || k >= size) Rf_error("tabulon.so gave a dictionary index out of range");
    SET_STRING_ELT(out, i, STRING_ELT(dictionary, k));
  }
  UNPROTECT(2);
  return out;
}

/* 64-bit integers as doubles: R has no 64-bit integer, and readers of
 * sheets give numbers as doubles. */
static SEXP integers64(const struct ArrowArray* a, int64_t start, R_xlen_t n) {
  check_buffers(a, 2, "l");
  const uint8_t* valid = a->buffers[0];
  const int64_t* values = (const int64_t*)a->buffers[1] + start;
  SEXP out = PROTECT(Rf_allocVector(REALSXP, n));
  double* v = REAL(out);
  for (R_xlen_t i = 0; i < n; ++i)
    v[i] = valid != NULL && !bit(valid, start + i) ? NA_REAL : (double)values[i];
  UNPROTECT(1);
  return out;
}

/* Durations ("tD?") and times of day ("tt?") as seconds, class difftime;
 * times of day also carry class "hms" before it. */
static SEXP seconds(const struct ArrowArray* a, int64_t start, R_xlen_t n, const char* format) {
  check_buffers(a, 2, format);
  static const char units[] = "smun";
  static const double per_second[] = {1, 1e3, 1e6, 1e9};
  const char* unit = strchr(units, format[2]);
  if (format[2] == '\0' || unit == NULL) Rf_error("tabulon.so gave a column of format '%s'", format);
  double scale = per_second[unit - units];
  const uint8_t* valid = a->buffers[0];
  int is_time = format[1] == 't';
  /* Arrow's time32 (seconds, milliseconds) has 32-bit values; every other
   * duration and time has 64-bit ones. */
  int narrow = is_time && (format[2] == 's' || format[2] == 'm');
  SEXP out = PROTECT(Rf_allocVector(REALSXP, n));
  double* v = REAL(out);
  for (R_xlen_t i = 0; i < n; ++i) {
    int64_t k = start + i;
    if (valid != NULL && !bit(valid, k)) {
      v[i] = NA_REAL;
    } else {
      double t = narrow ? (double)((const int32_t*)a->buffers[1])[k]
                        : (double)((const int64_t*)a->buffers[1])[k];
      v[i] = t / scale;
    }
  }
  SEXP klass = PROTECT(Rf_allocVector(STRSXP, is_time ? 2 : 1));
  if (is_time) SET_STRING_ELT(klass, 0, Rf_mkChar("hms"));
  SET_STRING_ELT(klass, is_time, Rf_mkChar("difftime"));
  Rf_setAttrib(out, R_ClassSymbol, klass);
  Rf_setAttrib(out, Rf_install("units"), Rf_mkString("secs"));
  UNPROTECT(2);
  return out;
}

/* A child's value at index k (its own offset applied) as a double: numbers,
 * date-times (seconds since 1970), durations and times (seconds). */
static double child_number(const struct ArrowSchema* s, const struct ArrowArray* a, int64_t k) {
  const char* f = s->format;
  int64_t i = a->offset + k;
  if (a->n_buffers < 2 || a->buffers == NULL || a->buffers[1] == NULL) return NA_REAL;
  if (a->buffers[0] != NULL && !bit(a->buffers[0], i)) return NA_REAL;
  if (strcmp(f, "g") == 0) return ((const double*)a->buffers[1])[i];
  if (strcmp(f, "l") == 0) return (double)((const int64_t*)a->buffers[1])[i];
  static const char units[] = "smun";
  static const double per_second[] = {1, 1e3, 1e6, 1e9};
  if (f[0] == 't' && f[1] != '\0' && f[2] != '\0' && strchr(units, f[2]) != NULL) {
    double scale = per_second[strchr(units, f[2]) - units];
    if (f[1] == 't' && (f[2] == 's' || f[2] == 'm'))
      return (double)((const int32_t*)a->buffers[1])[i] / scale;
    int64_t t = ((const int64_t*)a->buffers[1])[i];
    int64_t whole = (int64_t)scale;
    return (double)(t / whole) + (double)(t % whole) / scale;
  }
  return NA_REAL;
}

/* A dense union of the eight cell kinds as list(kind, number, text, flag)
 * of class "tabulon_cells": kind is each cell's kind code (0 missing,
 * 1 boolean, 2 number, 3 date-time, 4 duration, 5 time of day, 6 text,
 * 7 error); number holds kinds 2 to 5 (date-times in seconds since 1970,
 * durations and times in seconds), text kinds 6 and 7, flag kind 1. */
static SEXP union_cells(const struct ArrowSchema* s, const struct ArrowArray* a, int64_t start,
                        R_xlen_t n) {
  /* A dense union has no validity buffer: type ids, then offsets. */
  if (s->n_children != 8 || a->n_children != 8 || a->n_buffers < 2 || a->buffers == NULL ||
      (n > 0 && (a->buffers[0] == NULL || a->buffers[1] == NULL)))
    Rf_error("tabulon.so gave a mixed column that is not the union of eight kinds");
  const int8_t* ids = (const int8_t*)a->buffers[0] + start;
  const int32_t* offsets = (const int32_t*)a->buffers[1] + start;
  SEXP out = PROTECT(Rf_allocVector(VECSXP, 4));
  SEXP kind = Rf_allocVector(INTSXP, n);
  SET_VECTOR_ELT(out, 0, kind);
  SEXP number = Rf_allocVector(REALSXP, n);
  SET_VECTOR_ELT(out, 1, number);
  SEXP text = Rf_allocVector(STRSXP, n);
  SET_VECTOR_ELT(out, 2, text);
  SEXP flag = Rf_allocVector(LGLSXP, n);
  SET_VECTOR_ELT(out, 3, flag);
  /* The text and error children, each made into CHARSXPs once. */
  SEXP texts = PROTECT(Rf_allocVector(VECSXP, 2));
  for (int t = 0; t < 2; ++t) {
    const struct ArrowArray* child = a->children[6 + t];
    SET_VECTOR_ELT(texts, t, child->length > 0 ? utf8_strings(child) : Rf_allocVector(STRSXP, 0));
  }
  for (R_xlen_t i = 0; i < n; ++i) {
    int id = ids[i];
    int32_t k = offsets[i];
    INTEGER(kind)[i] = id >= 0 && id <= 7 ? id : 0;
    REAL(number)[i] = NA_REAL;
    SET_STRING_ELT(text, i, NA_STRING);
    LOGICAL(flag)[i] = NA_LOGICAL;
    if (id < 0 || id > 7 || k < 0 || k >= a->children[id]->length) {
      INTEGER(kind)[i] = 0;
      continue;
    }
    const struct ArrowArray* child = a->children[id];
    if (id == 1) {
      if (child->n_buffers < 2 || child->buffers[1] == NULL) Rf_error("broken boolean child");
      int64_t j = child->offset + k;
      LOGICAL(flag)[i] = child->buffers[0] != NULL && !bit(child->buffers[0], j)
                             ? NA_LOGICAL
                             : bit(child->buffers[1], j);
    } else if (id >= 2 && id <= 5) {
      REAL(number)[i] = child_number(s->children[id], child, k);
    } else if (id >= 6) {
      SEXP strings = VECTOR_ELT(texts, id - 6);
      if (k >= XLENGTH(strings)) Rf_error("tabulon.so gave a text offset out of range");
      SET_STRING_ELT(text, i, STRING_ELT(strings, k));
    }
  }
  SEXP names = PROTECT(Rf_allocVector(STRSXP, 4));
  SET_STRING_ELT(names, 0, Rf_mkChar("kind"));
  SET_STRING_ELT(names, 1, Rf_mkChar("number"));
  SET_STRING_ELT(names, 2, Rf_mkChar("text"));
  SET_STRING_ELT(names, 3, Rf_mkChar("flag"));
  Rf_setAttrib(out, R_NamesSymbol, names);
  Rf_setAttrib(out, R_ClassSymbol, Rf_mkString("tabulon_cells"));
  UNPROTECT(3);
  return out;
}

static SEXP column(const struct ArrowSchema* s, const struct ArrowArray* a, int64_t parent_offset,
                   R_xlen_t n) {
  const char* f = s->format;
  if (a->length - parent_offset < (int64_t)n)
    Rf_error("tabulon.so gave column '%s' fewer rows than its sheet", s->name ? s->name : "");
  int64_t start = a->offset + parent_offset;
  if (strcmp(f, "n") == 0) return all_missing(n);
  if (strcmp(f, "b") == 0) return booleans(a, start, n);
  if (strcmp(f, "g") == 0) return numbers(a, start, n);
  if (strcmp(f, "i") == 0) return dictionary_text(s, a, start, n);
  if (strcmp(f, "l") == 0) return integers64(a, start, n);
  if (strncmp(f, "tD", 2) == 0 || strncmp(f, "tt", 2) == 0) return seconds(a, start, n, f);
  if (strncmp(f, "+ud:", 4) == 0) return union_cells(s, a, start, n);
  if (strcmp(f, "u") == 0) {
    if (start != 0 || a->length != (int64_t)n) Rf_error("tabulon.so gave a sliced text column");
    return utf8_strings(a);
  }
  if (strncmp(f, "ts", 2) == 0 && f[2] != '\0' && f[3] == ':') {
    static const char units[] = "smun";
    static const int64_t per_second[] = {1, 1000, 1000000, 1000000000};
    const char* unit = strchr(units, f[2]);
    if (unit != NULL) return timestamps(a, start, n, per_second[unit - units], f + 4, f);
  }
  Rf_error("tabulon.so gave a column of format '%s', which this package does not read", f);
  return R_NilValue; /* not reached */
}

/* The struct array as a named list of columns with attribute "rows". */
static SEXP columns_to_r(const struct ArrowSchema* schema, const struct ArrowArray* array) {
  if (strcmp(schema->format, "+s") != 0 || schema->n_children != array->n_children)
    Rf_error("tabulon.so gave a result of format '%s', not a struct of columns", schema->format);
  if (array->length > R_XLEN_T_MAX) Rf_error("the sheet has too many rows for R");
  R_xlen_t n = (R_xlen_t)array->length;
  R_xlen_t width = (R_xlen_t)schema->n_children;
  SEXP out = PROTECT(Rf_allocVector(VECSXP, width));
  SEXP names = PROTECT(Rf_allocVector(STRSXP, width));
  for (R_xlen_t j = 0; j < width; ++j) {
    const struct ArrowSchema* s = schema->children[j];
    const char* name = s->name != NULL ? s->name : "";
    SET_STRING_ELT(names, j, utf8_string(name, strlen(name)));
    SET_VECTOR_ELT(out, j, column(s, array->children[j], array->offset, n));
  }
  Rf_setAttrib(out, R_NamesSymbol, names);
  Rf_setAttrib(out, Rf_install("rows"), Rf_ScalarReal((double)n));
  UNPROTECT(2);
  return out;
}

/* ---- Text cells as readxl reads them ---------------------------------- */

static int is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

/* clean_text(x, na, trim): x with leading and trailing whitespace removed
 * (when trim), and NA for strings that are empty, all whitespace, or in na. Strings left
 * as they are keep their CHARSXP, so a column needing nothing costs one
 * pass and no allocation but the result. */
static SEXP tb_clean_text(SEXP x, SEXP na, SEXP trim) {
  if (!Rf_isString(x) || !Rf_isString(na)) Rf_error("clean_text takes character vectors");
  int trimming = Rf_asLogical(trim) == TRUE;
  R_xlen_t n = XLENGTH(x), missing = XLENGTH(na);
  SEXP out = PROTECT(Rf_allocVector(STRSXP, n));
  for (R_xlen_t i = 0; i < n; ++i) {
    SEXP cell = STRING_ELT(x, i);
    if (cell == NA_STRING) {
      SET_STRING_ELT(out, i, NA_STRING);
      continue;
    }
    const char* text = CHAR(cell);
    size_t length = (size_t)LENGTH(cell);
    size_t from = 0, to = length;
    while (from < to && is_space(text[from])) ++from;
    while (to > from && is_space(text[to - 1])) --to;
    /* Nothing but whitespace is blank even when not trimming, as readxl
     * reads it. */
    int blank = from == to;
    if (!trimming) {
      from = 0;
      to = length;
    }
    for (R_xlen_t k = 0; !blank && k < missing; ++k) {
      SEXP m = STRING_ELT(na, k);
      if (m == NA_STRING) continue;
      blank = (size_t)LENGTH(m) == to - from && memcmp(CHAR(m), text + from, to - from) == 0;
    }
    if (blank) {
      SET_STRING_ELT(out, i, NA_STRING);
    } else if (from == 0 && to == length) {
      SET_STRING_ELT(out, i, cell);
    } else {
      SET_STRING_ELT(out, i, Rf_mkCharLenCE(text + from, (int)(to - from), Rf_getCharCE(cell)));
    }
  }
  UNPROTECT(1);
  return out;
}

/* ---- Workbook objects --------------------------------------------------- */

/* What a workbook object points to: a handle, or (for a library without
 * the handle interface) the path, opened again by every read. */
typedef struct {
  TabulonWorkbook* handle;
  char* path;
} Book;

static void book_close(Book* book) {
  if (book->handle != NULL) lib.close(book->handle, NULL);
  book->handle = NULL;
  free(book->path);
  book->path = NULL;
}

static void book_finalize(SEXP pointer) {
  Book* book = R_ExternalPtrAddr(pointer);
  if (book == NULL) return;
  book_close(book);
  free(book);
  R_ClearExternalPtr(pointer);
}

static Book* book_of(SEXP pointer) {
  Book* book = R_ExternalPtrAddr(pointer);
  if (book == NULL || (book->handle == NULL && book->path == NULL))
    Rf_error("the workbook is closed");
  return book;
}

/* ---- Calls ------------------------------------------------------------- */

typedef struct {
  SEXP source;            /* path, raw vector or workbook object */
  const char* sheet_name; /* NULL: the sheet names are wanted */
  TabulonReadOptions options;
  TabulonWorkbook* opened; /* a handle this call opened, closed at its end */
  int open;                /* the process-wide workbook is open */
  struct ArrowSchema schema;
  struct ArrowArray array;
} ReadCall;

static void release_all(void* data, Rboolean jump) {
  (void)jump;
  ReadCall* call = data;
  if (call->schema.release != NULL) call->schema.release(&call->schema);
  if (call->array.release != NULL) call->array.release(&call->array);
  if (call->opened != NULL) {
    lib.close(call->opened, NULL);
    call->opened = NULL;
  }
  if (call->open) {
    lib.closeExcel();
    call->open = 0;
  }
}

static const char* path_of(SEXP path) {
  if (!Rf_isString(path) || XLENGTH(path) != 1 || STRING_ELT(path, 0) == NA_STRING)
    Rf_error("path must be one string");
  return Rf_translateChar(STRING_ELT(path, 0));
}

/* Opens the call's source. Returns NULL when open: then call->opened (a
 * handle) or call->open (the process-wide workbook) is set, or the handle
 * is a workbook object's; else the failure. */
static SEXP open_source(ReadCall* call, TabulonWorkbook** handle) {
  TabulonStatus status;
  memset(&status, 0, sizeof status);
  SEXP source = call->source;
  const char* path = NULL;
  if (TYPEOF(source) == EXTPTRSXP) {
    Book* book = book_of(source);
    if (book->handle != NULL) {
      *handle = book->handle;
      return R_NilValue;
    }
    path = book->path;
  } else if (TYPEOF(source) == RAWSXP) {
    if (lib.open == NULL) Rf_error("this tabulon.so cannot read a workbook from memory");
    /* Borrowed: the vector is protected by the caller for the whole call. */
    call->opened = lib.open_memory(RAW(source), (size_t)XLENGTH(source), TABULON_BORROW, &status);
    if (call->opened == NULL) return status_failure(&status);
    *handle = call->opened;
    return R_NilValue;
  } else {
    path = path_of(source);
  }
  if (lib.open != NULL) {
    call->opened = lib.open(path, &status);
    if (call->opened == NULL) return status_failure(&status);
    *handle = call->opened;
    return R_NilValue;
  }
  if (lib.openExcel(path) != 0) return library_failure(0);
  call->open = 1;
  *handle = NULL;
  return R_NilValue;
}

/* The worksheets of an open handle (chart, dialog and macro sheets left
 * out, as the hosts' sheet positions count worksheets only). */
static SEXP handle_sheet_list(TabulonWorkbook* handle) {
  TabulonStatus status;
  memset(&status, 0, sizeof status);
  int64_t count = lib.sheet_count(handle, &status);
  if (count < 0) return status_failure(&status);
  SEXP names = PROTECT(Rf_allocVector(STRSXP, (R_xlen_t)count));
  R_xlen_t kept = 0;
  for (int64_t i = 0; i < count; ++i) {
    TabulonSheetInfo info;
    memset(&info, 0, sizeof info);
    if (lib.sheet_info(handle, i, &info, &status) != 0) {
      UNPROTECT(1);
      return status_failure(&status);
    }
    if (info.kind != TABULON_SHEET_WORKSHEET) continue;
    const char* name = info.name != NULL ? info.name : "";
    SET_STRING_ELT(names, kept++, utf8_string(name, strlen(name)));
  }
  SEXP out = Rf_lengthgets(names, kept);
  UNPROTECT(1);
  return out;
}

static SEXP read_body(void* data) {
  ReadCall* call = data;
  TabulonWorkbook* handle = NULL;
  SEXP problem = open_source(call, &handle);
  if (problem != R_NilValue) return problem;
  if (call->sheet_name == NULL) return handle != NULL ? handle_sheet_list(handle) : sheet_list();
  if (handle != NULL) {
    TabulonStatus status;
    memset(&status, 0, sizeof status);
    if (lib.read_columns(handle, call->sheet_name, 0, &call->options, &call->schema,
                         &call->array, &status) != 0) {
      SEXP result = PROTECT(status_failure(&status));
      if (status.code == TABULON_NO_SUCH_SHEET)
        SET_VECTOR_ELT(result, 2, handle_sheet_list(handle));
      UNPROTECT(1);
      return result;
    }
  } else if (lib.readColumns(call->sheet_name, &call->options, &call->schema, &call->array) != 0) {
    return library_failure(1);
  }
  /* The columns do not depend on the workbook: close what this call
   * opened before the conversion allocates. */
  if (call->opened != NULL) {
    lib.close(call->opened, NULL);
    call->opened = NULL;
  }
  if (call->open) {
    lib.closeExcel();
    call->open = 0;
  }
  return columns_to_r(&call->schema, &call->array);
}

static void need_library(void) {
  if (lib.handle == NULL) Rf_error("tabulon.so is not loaded");
}

static SEXP run(ReadCall* call) {
  SEXP token = PROTECT(R_MakeUnwindCont());
  SEXP result = R_UnwindProtect(read_body, call, release_all, call, token);
  UNPROTECT(1);
  return result;
}

static int64_t count_of(SEXP value, int64_t infinite) {
  double x = Rf_asReal(value);
  if (ISNAN(x) || x < 0 || x >= 9.2e18) return infinite;
  return (int64_t)x;
}

/* read(source, sheet, header, skip, n_max, limits, flags): sheet is a name;
 * skip and n_max are doubles (n_max < 0: all rows); limits is the range's
 * first and last row and column (0: open); flags are TABULON_* read flags. */
static SEXP tb_read(SEXP source, SEXP sheet, SEXP header, SEXP skip, SEXP n_max, SEXP limits,
                    SEXP flags) {
  need_library();
  ReadCall call;
  memset(&call, 0, sizeof call);
  call.source = source;
  if (!Rf_isString(sheet) || XLENGTH(sheet) != 1 || STRING_ELT(sheet, 0) == NA_STRING)
    Rf_error("sheet must be one name");
  call.sheet_name = Rf_translateCharUTF8(STRING_ELT(sheet, 0));
  call.options.header = Rf_asLogical(header) == TRUE;
  /* Counts beyond int64 mean "all" (n_max) or "everything" (skip); the
   * conversion of such a double would be undefined. */
  call.options.skip_rows = count_of(skip, INT64_MAX);
  call.options.max_rows = Rf_asReal(n_max) < 0 ? -1 : count_of(n_max, -1);
  if (!Rf_isReal(limits) || XLENGTH(limits) != 4) Rf_error("limits must be four numbers");
  call.options.first_row = count_of(Rf_ScalarReal(REAL(limits)[0]), 0);
  call.options.last_row = count_of(Rf_ScalarReal(REAL(limits)[1]), 0);
  call.options.first_column = count_of(Rf_ScalarReal(REAL(limits)[2]), 0);
  call.options.last_column = count_of(Rf_ScalarReal(REAL(limits)[3]), 0);
  call.options.flags = (unsigned)Rf_asInteger(flags);
  return run(&call);
}

/* The worksheet names of a source. */
static SEXP tb_sheet_names(SEXP source) {
  need_library();
  ReadCall call;
  memset(&call, 0, sizeof call);
  call.source = source;
  return run(&call);
}

/* A workbook object for a path or raw vector, or a failure. Without the
 * handle interface it keeps the path (raw vectors are written to a file by
 * the R code first). borrow: the raw vector outlives the object (a read's
 * own opening), so its bytes are not copied. */
static SEXP tb_open(SEXP source, SEXP borrow) {
  need_library();
  Book* book = calloc(1, sizeof *book);
  if (book == NULL) Rf_error("out of memory");
  SEXP pointer = PROTECT(R_MakeExternalPtr(book, R_NilValue, R_NilValue));
  R_RegisterCFinalizerEx(pointer, book_finalize, TRUE);
  TabulonStatus status;
  memset(&status, 0, sizeof status);
  if (TYPEOF(source) == RAWSXP) {
    if (lib.open == NULL) Rf_error("this tabulon.so cannot read a workbook from memory");
    unsigned flags = Rf_asLogical(borrow) == TRUE ? TABULON_BORROW : 0u;
    book->handle = lib.open_memory(RAW(source), (size_t)XLENGTH(source), flags, &status);
  } else if (lib.open != NULL) {
    book->handle = lib.open(path_of(source), &status);
  } else {
    const char* path = path_of(source);
    /* Opened once to report a bad file now, as the handle would. */
    if (lib.openExcel(path) != 0) {
      UNPROTECT(1);
      return library_failure(0);
    }
    lib.closeExcel();
    book->path = strdup(path);
    if (book->path == NULL) Rf_error("out of memory");
  }
  if (lib.open != NULL && book->handle == NULL) {
    UNPROTECT(1);
    return status_failure(&status);
  }
  UNPROTECT(1);
  return pointer;
}

static SEXP tb_close(SEXP pointer) {
  if (TYPEOF(pointer) != EXTPTRSXP) Rf_error("not a workbook");
  Book* book = R_ExternalPtrAddr(pointer);
  if (book != NULL) book_close(book);
  return R_NilValue;
}

static SEXP tb_is_open(SEXP pointer) {
  if (TYPEOF(pointer) != EXTPTRSXP) return Rf_ScalarLogical(FALSE);
  Book* book = R_ExternalPtrAddr(pointer);
  return Rf_ScalarLogical(book != NULL && (book->handle != NULL || book->path != NULL));
}

/* Through void (*)(void), which converts to any function type without a
 * -Wcast-function-type warning. */
#define CALL(name, arguments) {#name, (DL_FUNC)(void (*)(void))&name, arguments}
static const R_CallMethodDef calls[] = {
    CALL(tb_load, 1),        CALL(tb_version, 0), CALL(tb_has_handles, 0),
    CALL(tb_sheet_names, 1), CALL(tb_read, 7),    CALL(tb_open, 2),
    CALL(tb_close, 1),       CALL(tb_is_open, 1), CALL(tb_clean_text, 3),
    {NULL, NULL, 0}};

void R_init_tabulon(DllInfo* info) {
  R_registerRoutines(info, NULL, calls, NULL, NULL);
  R_useDynamicSymbols(info, FALSE);
  R_forceSymbols(info, TRUE);
}
