/* tabulon: read one worksheet of an .xlsx workbook as plain text.
 *
 * The library holds one workbook per process. Call openExcel, then
 * getSheetData as often as needed, then closeExcel. Calls must not overlap:
 * a host that uses several threads serialises them itself.
 *
 * Sheet text: one line per row that holds a value, each line ended by "\n";
 * every line has the same number of fields, each field ended by ";".
 * Dates are written "%Y-%m-%d %H:%M:%S". Nothing is quoted or escaped: every
 * ";" and carriage return inside a cell is removed, and nothing else; a line
 * feed stays. The host never frees what the library returns.
 */
#ifndef TABULON_H
#define TABULON_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the workbook at path, replacing any workbook already open.
 * Returns 0 when loaded, -1 when path is not a regular file or the workbook
 * cannot be loaded, -2 when the file cannot be opened as a zip archive. */
int openExcel(const char* path);

/* Renders the sheet named sheet_name (exact, case-sensitive match).
 * Returns the sheet text, or "0" when the name is unknown or the sheet's
 * part cannot be read. The text stays valid until the next getSheetData. */
const char* getSheetData(const char* sheet_name);

/* Releases the workbook. Always returns 0. */
int closeExcel(void);

/* The loaded workbook's sheet names in workbook order, each followed by
 * "\n"; "" when no workbook is loaded. Valid until the next listSheets,
 * openExcel or closeExcel. */
const char* listSheets(void);

/* The library's identification text; valid while the library is loaded. */
const char* version(void);

/* ---- Why the last call failed ------------------------------------------
 *
 * Every entry point above and below records how it ended. lastError gives
 * the text of the last call's failure ("" after a success) and stores its
 * code in *code when code is not NULL. The text stays valid until the next
 * call of any entry point but version and lastError. The results of the
 * entry points themselves are unchanged by this: lastError only says more.
 * One success carries a note: a sheet text of "" whose part holds cell
 * elements, none with a value to show, leaves the code TABULON_OK and a
 * text saying how many cell elements there were. */
enum TabulonFailure {
  TABULON_OK = 0,
  TABULON_NO_SUCH_FILE = 1,     /* nothing at the path */
  TABULON_NOT_A_FILE = 2,       /* a directory, device or other non-file */
  TABULON_UNREADABLE = 3,       /* the file exists but cannot be read */
  TABULON_NOT_A_ZIP = 4,        /* not a zip archive, or its directory is broken */
  TABULON_DAMAGED_MEMBER = 5,   /* a member cannot be inflated or fails its check */
  TABULON_MISSING_PART = 6,     /* a part the workbook needs is not in the archive */
  TABULON_OUT_OF_MEMORY = 7,    /* memory ran out, or the sheet's extent is too large */
  TABULON_NO_SUCH_SHEET = 8,    /* no sheet has that name */
  TABULON_NO_WORKBOOK = 9,      /* no workbook is open */
  TABULON_INVALID_ARGUMENT = 10,
  TABULON_INTERNAL = 11,        /* anything else; the text says what */
  TABULON_ENCRYPTED = 12,       /* a password-protected workbook */
  TABULON_LEGACY_XLS = 13,      /* a workbook of the binary .xls format */
  TABULON_BINARY_XLSB = 14,     /* a workbook of the binary .xlsb format */
  TABULON_OPENDOCUMENT = 15,    /* an OpenDocument spreadsheet (.ods) */
  TABULON_NOT_A_SPREADSHEET = 16, /* some other kind of file */
  TABULON_UNKNOWN_ENCODING = 17 /* a part declares an encoding this system cannot read */
};
const char* lastError(int* code);

/* ---- Sheet text with every date format --------------------------------
 *
 * getSheetData writes only cells of the built-in date formats as dates;
 * other date-formatted cells keep their serial number, which hosts may rely
 * on. getSheetText renders like getSheetData and, with
 * TABULON_TEXT_ALL_DATES, also writes the cells of custom date and time
 * formats as dates. Same result and lifetime as getSheetData: the two share
 * one text buffer.
 *
 * Every text is held against a budget before and while it is written: a
 * quarter of the machine's memory, and 256 times the workbook's compressed
 * size (at least 64 MiB). A sheet whose text would be larger fails with
 * TABULON_OUT_OF_MEMORY ("the sheet's text would be 12.6 GB, ...") having
 * allocated at most about its budget; readColumns holds its columns
 * against half the memory and the same multiple. */
#define TABULON_TEXT_ALL_DATES 1u
/* Lines end at the last column of the sheet that holds a value, rather
 * than at the last column of the sheet's dimension. Every line still has
 * the same number of fields. */
#define TABULON_TEXT_TRIM 2u
/* Every character of a cell is kept: a field that holds ';', '"', a
 * carriage return or a line feed is written between double quotes, each
 * '"' inside doubled (as CSV quotes), and is ended by ';' after the
 * closing quote. Other fields are written as without the flag. */
#define TABULON_TEXT_QUOTED 4u
const char* getSheetText(const char* sheet_name, unsigned flags);

/* ---- Typed columns -------------------------------------------------------
 *
 * readColumns parses a sheet straight into typed columns, handed out through
 * the Arrow C data interface: the two structs below, as the Arrow columnar
 * format defines them, so that any consumer of that interface can take the
 * columns without copying and without an Arrow library on either side.
 *
 * The result is a struct array (schema format "+s") with one child per
 * sheet column from the first to the last column holding a value, and one
 * row per sheet row from the first to the last row holding a value (after
 * the options below). Rows and columns without values inside that extent
 * give missing values, so positions stay true. Each child has one type,
 * guessed from the stored types of all its cells (the header row excluded):
 *
 *   "n"     no cell holds a value (a null array: no buffers)
 *   "b"     booleans, bit-packed
 *   "g"     numbers, 64-bit floating point
 *   "tsu:"  date-times, microseconds since 1970-01-01 00:00:00, no time zone;
 *           number cells of a date or time format (built-in or custom, in
 *           either date system) and ISO 8601 date cells
 *   "i"     text: 32-bit indexes into a dictionary of distinct strings
 *           (the child's dictionary, format "u": UTF-8, 32-bit offsets)
 *
 * A column whose cells have more than one type is text, each cell written
 * as getSheetData writes it, except that text keeps every character (";"
 * and carriage returns included). Missing values are marked by the validity
 * bitmap (buffer 0; NULL when nothing is missing), never by a value.
 *
 * Column names (each child's name): with header set, the text of the first
 * row read ("" where that row has no value); otherwise the column's letters
 * ("A", "B", ...).
 *
 * Ownership: on success the caller owns both structs and releases each by
 * calling its release member (schema->release(schema), array->release(array))
 * exactly once, in any order; they do not depend on the open workbook and
 * survive closeExcel and later calls. On failure readColumns returns -1,
 * leaves both structs released (release == NULL), and lastError says why:
 * an unknown sheet, a part that cannot be read, or an extent too large to
 * allocate (TABULON_OUT_OF_MEMORY). An empty sheet is a success with zero
 * columns and zero rows. */
#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};

#endif /* ARROW_C_DATA_INTERFACE */

typedef struct TabulonReadOptions {
  int64_t skip_rows; /* rows skipped, counted from the first row holding a value
                        (or, with TABULON_SKIP_FROM_FIRST_ROW, from the range's first row) */
  int64_t max_rows;  /* the most data rows returned (after the header); < 0: all */
  int header;        /* nonzero: the first row after skip_rows names the columns */
  unsigned flags;    /* TABULON_READ_* and TABULON_SKIP_* bits below */
  /* A cell range, 1-based and inclusive; 0 leaves that side open. */
  int64_t first_row, last_row;
  int64_t first_column, last_column;
  /* The sheet columns wanted (1-based column numbers, ascending, no
   * repeats); NULL: every column of the range. */
  const int64_t* columns;
  int64_t column_count;
  /* Sheet columns read as text: every cell written as the sheet text
   * writes it (dates of every date format as dates). NULL: none. */
  const int64_t* text_columns;
  int64_t text_column_count;
} TabulonReadOptions;

/* skip_rows counts from the first row of the range (sheet row 1 without a
 * range), not from the first row holding a value. */
#define TABULON_SKIP_FROM_FIRST_ROW 1u
/* Every kind of cell told apart (see the kinds above). */
#define TABULON_READ_KINDS 2u

/* options may be NULL: no rows skipped, no header, all rows. Returns 0 on
 * success, -1 on failure. */
int readColumns(const char* sheet_name, const TabulonReadOptions* options,
                struct ArrowSchema* schema, struct ArrowArray* array);

/* ---- Workbooks as handles ------------------------------------------------
 *
 * (Contract of the handle interface; each function's lifetime and thread
 * rules are stated next to it.) */
typedef struct TabulonWorkbook TabulonWorkbook;

/* How one call ended; every handle call takes one (NULL: not wanted). */
typedef struct TabulonStatus {
  int code;       /* enum TabulonFailure; TABULON_OK on success */
  char text[512]; /* the failure's text, "" on success */
} TabulonStatus;

TabulonWorkbook* tabulonOpen(const char* path, TabulonStatus* status);
/* Bytes are copied unless TABULON_BORROW: then they must stay unchanged
 * until tabulonClose. */
#define TABULON_BORROW 1u
TabulonWorkbook* tabulonOpenMemory(const void* data, size_t size, unsigned flags, TabulonStatus* status);
int tabulonClose(TabulonWorkbook* workbook, TabulonStatus* status);

enum TabulonSheetKind {
  TABULON_SHEET_WORKSHEET = 0,
  TABULON_SHEET_CHART = 1,
  TABULON_SHEET_DIALOG = 2,
  TABULON_SHEET_MACRO = 3
};
enum TabulonSheetVisibility { TABULON_VISIBLE = 0, TABULON_HIDDEN = 1, TABULON_VERY_HIDDEN = 2 };
typedef struct TabulonSheetInfo {
  const char* name; /* valid until tabulonClose */
  int kind;         /* enum TabulonSheetKind */
  int visibility;   /* enum TabulonSheetVisibility */
} TabulonSheetInfo;

/* Every sheet of the workbook (charts included), in workbook order. */
int64_t tabulonSheetCount(TabulonWorkbook* workbook, TabulonStatus* status);
int tabulonSheetInfo(TabulonWorkbook* workbook, int64_t index, TabulonSheetInfo* info, TabulonStatus* status);

/* A sheet by name (sheet_name not NULL) or by its 0-based position among
 * all sheets (sheet_name NULL). Columns: the contract of readColumns. */
int tabulonReadColumns(TabulonWorkbook* workbook, const char* sheet_name, int64_t sheet_index,
                       const TabulonReadOptions* options, struct ArrowSchema* schema,
                       struct ArrowArray* array, TabulonStatus* status);

typedef struct TabulonTextOptions {
  unsigned flags;     /* TABULON_TEXT_* */
  uint64_t max_bytes; /* the most text the caller accepts; 0: no limit of its own */
} TabulonTextOptions;
/* Text: the contract of getSheetText. The caller owns the result and frees
 * it with tabulonFree; *length (when not NULL) gets its size in bytes. */
char* tabulonReadText(TabulonWorkbook* workbook, const char* sheet_name, int64_t sheet_index,
                      const TabulonTextOptions* options, size_t* length, TabulonStatus* status);
void tabulonFree(void* text);

#ifdef __cplusplus
}
#endif

#endif /* TABULON_H */
