/* The R side of tabulon: loads tabulon.so at run time and turns the typed
 * columns of readColumns into R vectors.
 *
 * The library is opened with dlopen rather than linked, so the package
 * installs before the library is built and a user can point it at any copy
 * (see R/library.R for where it is looked for).
 *
 * The library holds one workbook per process, so every call opens the
 * workbook, reads, and closes it again. Everything between opening and the
 * end of the conversion runs under R_UnwindProtect: an R error (memory,
 * an embedded NUL, an interrupt) still closes the workbook and releases
 * both Arrow structs. Failures the library reports are not raised here but
 * returned as a "tabulon_failure" list, so that R code builds the classed
 * condition. */
#include <dlfcn.h>
#include <limits.h>
#include <stdint.h>
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
  lib.handle = handle;
  return R_NilValue;
}

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

/* ---- Calls ------------------------------------------------------------- */

typedef struct {
  const char* path;
  const char* sheet_name; /* NULL: by position */
  int sheet_position;     /* 1-based */
  TabulonReadOptions options;
  int open;
  struct ArrowSchema schema;
  struct ArrowArray array;
} ReadCall;

static void release_all(void* data, Rboolean jump) {
  (void)jump;
  ReadCall* call = data;
  if (call->schema.release != NULL) call->schema.release(&call->schema);
  if (call->array.release != NULL) call->array.release(&call->array);
  if (call->open) {
    lib.closeExcel();
    call->open = 0;
  }
}

/* The name of the sheet at a 1-based position, or NULL past the last. */
static const char* sheet_at(int position) {
  const char* start = lib.listSheets();
  for (int i = 1; *start != '\0'; ++i) {
    const char* end = strchr(start, '\n');
    if (end == NULL) break;
    if (i == position) {
      size_t length = (size_t)(end - start);
      char* name = R_alloc(length + 1, 1);
      memcpy(name, start, length);
      name[length] = '\0';
      return name;
    }
    start = end + 1;
  }
  return NULL;
}

static SEXP read_body(void* data) {
  ReadCall* call = data;
  if (lib.openExcel(call->path) != 0) return library_failure(0);
  call->open = 1;
  const char* name = call->sheet_name;
  if (name == NULL) {
    name = sheet_at(call->sheet_position);
    if (name == NULL) return failure(TABULON_NO_SUCH_SHEET, "", 1);
  }
  if (lib.readColumns(name, &call->options, &call->schema, &call->array) != 0)
    return library_failure(1);
  /* The columns do not depend on the workbook: close it before the
   * conversion allocates. */
  lib.closeExcel();
  call->open = 0;
  return columns_to_r(&call->schema, &call->array);
}

static void need_library(void) {
  if (lib.handle == NULL) Rf_error("tabulon.so is not loaded");
}

static const char* path_argument(SEXP path) {
  if (!Rf_isString(path) || XLENGTH(path) != 1 || STRING_ELT(path, 0) == NA_STRING)
    Rf_error("path must be one string");
  return Rf_translateChar(STRING_ELT(path, 0));
}

/* read(path, sheet, header, skip, n_max): sheet is a name or a 1-based
 * position; skip and n_max are doubles (n_max < 0: all rows). */
static SEXP tb_read(SEXP path, SEXP sheet, SEXP header, SEXP skip, SEXP n_max) {
  need_library();
  ReadCall call;
  memset(&call, 0, sizeof call);
  call.path = path_argument(path);
  if (Rf_isString(sheet) && XLENGTH(sheet) == 1 && STRING_ELT(sheet, 0) != NA_STRING) {
    call.sheet_name = Rf_translateCharUTF8(STRING_ELT(sheet, 0));
  } else if (Rf_isInteger(sheet) && XLENGTH(sheet) == 1 && INTEGER(sheet)[0] >= 1) {
    call.sheet_position = INTEGER(sheet)[0];
  } else {
    Rf_error("sheet must be one name or one position from 1");
  }
  call.options.header = Rf_asLogical(header) == TRUE;
  /* Counts beyond int64 mean "all" (n_max) or "everything" (skip); the
   * conversion of such a double would be undefined. */
  double skipped = Rf_asReal(skip), most = Rf_asReal(n_max);
  call.options.skip_rows = skipped >= 9.2e18 ? INT64_MAX : (int64_t)skipped;
  call.options.max_rows = most < 0 || most >= 9.2e18 ? -1 : (int64_t)most;

  SEXP token = PROTECT(R_MakeUnwindCont());
  SEXP result = R_UnwindProtect(read_body, &call, release_all, &call, token);
  UNPROTECT(1);
  return result;
}

static SEXP names_body(void* data) {
  ReadCall* call = data;
  if (lib.openExcel(call->path) != 0) return library_failure(0);
  call->open = 1;
  return sheet_list();
}

static SEXP tb_sheet_names(SEXP path) {
  need_library();
  ReadCall call;
  memset(&call, 0, sizeof call);
  call.path = path_argument(path);
  SEXP token = PROTECT(R_MakeUnwindCont());
  SEXP result = R_UnwindProtect(names_body, &call, release_all, &call, token);
  UNPROTECT(1);
  return result;
}

/* Through void (*)(void), which converts to any function type without a
 * -Wcast-function-type warning. */
#define CALL(name, arguments) {#name, (DL_FUNC)(void (*)(void))&name, arguments}
static const R_CallMethodDef calls[] = {
    CALL(tb_load, 1), CALL(tb_version, 0), CALL(tb_sheet_names, 1), CALL(tb_read, 5),
    {NULL, NULL, 0}};

void R_init_tabulon(DllInfo* info) {
  R_registerRoutines(info, NULL, calls, NULL, NULL);
  R_useDynamicSymbols(info, FALSE);
  R_forceSymbols(info, TRUE);
}
