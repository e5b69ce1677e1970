/* tabulon: read the sheets of .xlsx workbooks as text or as typed columns.
 *
 * Two interfaces over the same reader:
 *
 * - Workbook handles (tabulonOpen ... tabulonClose, at the end of this
 *   file): any number of workbooks open at once, from a path or from bytes
 *   in memory, each an opaque handle that the host passes to every call.
 *   Every call reports how it ended in its own TabulonStatus. Handles may
 *   be used from any threads at the same time.
 *
 * - The fixed entry points (openExcel, getSheetData, closeExcel,
 *   listSheets, getSheetText, readColumns, lastError): one process-default
 *   workbook, kept in process-wide state. Call openExcel, then the
 *   readers as often as needed, then closeExcel. These calls must not
 *   overlap each other: a host that uses them from several threads
 *   serialises them itself. They share nothing with the handles.
 *
 * Sheet work runs on one process-wide set of worker threads, started on
 * first use with one thread per hardware thread and shared by all the
 * reads running at once. A process forked after using the library (for
 * instance by a multiprocessing pool) may use it in the child: the child
 * starts workers of its own on first use and may go on reading the
 * handles it inherited. Fork while no read runs in another thread.
 *
 * Sheet text: one line per row that holds a value, each line ended by "\n";
 * every line has the same number of fields, each field ended by ";".
 * Dates are written "%Y-%m-%d %H:%M:%S". Nothing is quoted or escaped: every
 * ";" and carriage return inside a cell is removed, and nothing else; a line
 * feed stays. The host never frees what the fixed entry points return; it
 * frees handle text with tabulonFree.
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
 * Every fixed entry point (openExcel, getSheetData, closeExcel, listSheets,
 * getSheetText, readColumns) records how it ended in one process-wide
 * slot. lastError gives the text of the last such call's failure ("" after
 * a success) and stores its code in *code when code is not NULL. The text
 * stays valid until the next call of any of those entry points. The
 * results of the entry points themselves are unchanged by this: lastError
 * only says more. The handle functions never touch this slot; each reports
 * in its own TabulonStatus. The codes are the same in both.
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
 * and carriage returns included) and dates of every date format are
 * written as dates. Missing values are marked by the validity bitmap
 * (buffer 0; NULL when nothing is missing), never by a value. Error cells
 * are their text ("#N/A"), and a cell holding empty text is missing.
 *
 * Every kind told apart (flag TABULON_READ_KINDS). The types above keep
 * their meaning, and these are added, so that a host can follow its own
 * rules for each kind without reading text again:
 *
 *   "l"     int64: a column of numbers of which every one is integral and
 *           within 64 bits (-2^63 <= x < 2^63); otherwise "g"
 *   "tDu"   durations, microseconds (rounded to the nearest): number cells
 *           of an elapsed-time format ([h]:mm:ss, [mm]:ss, [s] or built-in
 *           46), and date cells holding an ISO 8601 duration
 *           ("PT24H0M0.000S"; weeks, days, hours, minutes, seconds)
 *   "ttu"   times of day, microseconds since midnight: number cells of a
 *           time format without a date part (hh:mm, h:mm:ss AM/PM, mm:ss,
 *           built-in 18 to 21, 45, 47) whose value lies in [0, 1); on a
 *           larger value such a cell is a date-time
 *   "i"     text as above; a cell holding empty text is a present ""
 *   "+ud:0,1,2,3,4,5,6,7"
 *           a dense union, for a column whose cells are of more than one
 *           kind, or that holds an error cell. Its type ids are kind codes:
 *             0 missing ("n"), 1 boolean ("b"), 2 number ("g"),
 *             3 date-time ("tsu:"), 4 duration ("tDu"), 5 time of day
 *             ("ttu"), 6 text ("u"), 7 error text ("u", "#N/A", "#DIV/0!")
 *           and it always has these eight children, in this order, named
 *           "null", "boolean", "number", "datetime", "duration", "time",
 *           "text", "error". Buffers: NULL (a union has no validity
 *           bitmap: a missing cell is kind 0), int8 type ids, int32 offsets
 *           into the child of the cell's kind; the children have no nulls
 *           and hold their kind's cells in row order.
 *
 * Why a dense union with fixed children: each cell keeps its own kind and
 * value (a number stays a number beside a date in one column), a host
 * reads a cell's kind code straight from the type ids without a table,
 * and a consumer that cannot take unions still finds every value in the
 * child of its kind. Dates stay as they are in every mode.
 *
 * Text columns (text_columns): those sheet columns are "i" text whatever
 * their cells hold, each cell written as the sheet text writes it with
 * TABULON_TEXT_ALL_DATES (numbers of every date, time and elapsed-time
 * format as "%Y-%m-%d %H:%M:%S"), every character kept.
 *
 * Selections (TabulonReadOptions), applied while the sheet is read: the
 * cells outside them are not read, and reading ends after the last row
 * wanted (the format writes rows in ascending order; in a damaged sheet
 * whose rows are not, a limited read ends at the first row, in document
 * order, beyond the last wanted one). A selection never changes what a
 * cell inside it reads as; only the column's type follows the cells
 * selected.
 *   - first_row, last_row, first_column, last_column: a range, 1-based and
 *     inclusive; 0 leaves a side open. Given on both sides, the result has
 *     exactly the range's rows (from first_row: skip_rows then counts from
 *     it) or columns, missing values where the sheet has none; otherwise
 *     it is trimmed to the cells holding values, as without a range.
 *   - columns, column_count: the sheet columns wanted, ascending; the
 *     result has exactly these children (within the range), in order.
 *   - skip_rows: rows skipped before the header or the data, counted from
 *     the first row holding a value in the selection, or, with
 *     TABULON_SKIP_FROM_FIRST_ROW, from the range's first row (row 1
 *     without one).
 *   - max_rows: the most data rows (< 0: all); a row with no value among
 *     them still counts.
 * A selection that holds no value (a range outside the sheet) gives zero
 * columns and zero rows. Invalid options fail with TABULON_INVALID_ARGUMENT
 * before anything is read: a negative skip_rows, bound or count, an
 * inverted range, a column beyond 16384 (XFD) or below 1, columns not
 * ascending or repeated, a count without its list, unknown flag bits.
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
 * A TabulonWorkbook is one open workbook: its archive and the tables
 * loaded from it, which no call changes afterwards. Open it from a path or
 * from bytes in memory, read any of its sheets as often as needed, as
 * columns or as text, then close it. Opening the same file twice gives two
 * independent handles.
 *
 * Threads: every function may be called from any thread. Distinct handles
 * are fully independent. One handle may be read from several threads at
 * the same time; each read has its own state and none waits for another
 * except to share the worker threads. Results are the same whatever the
 * number of threads or reads running.
 *
 * Errors: every function takes a TabulonStatus* (NULL when not wanted)
 * and fills it on success and on failure. A null handle, a handle already
 * closed (closing twice included) or a value never returned by an open is
 * refused with TABULON_INVALID_ARGUMENT; it never crashes, because handles
 * are checked against the ones open and a closed handle's value is never
 * given out again. */
typedef struct TabulonWorkbook TabulonWorkbook;

/* How one call ended. */
typedef struct TabulonStatus {
  int code;       /* enum TabulonFailure; TABULON_OK on success */
  char text[512]; /* the failure's text, "" on success; cut to fit, never
                     inside a UTF-8 sequence */
} TabulonStatus;

/* Opens and loads the workbook at path. Returns its handle, or NULL with
 * the reason in *status: the same codes openExcel records (a missing file,
 * something that is not a regular file, not a zip archive, a missing or
 * damaged part, ...), the text starting with path and ": " where the
 * archive refused it. The file stays open and is read while the handle
 * is: a file rewritten meanwhile makes reads fail (a damaged member, say),
 * never crash. */
TabulonWorkbook* tabulonOpen(const char* path, TabulonStatus* status);

/* Opens the workbook held in the size bytes at data (data may be NULL
 * when size is 0). The bytes are copied before the call returns, unless
 * flags holds TABULON_BORROW: then they are read in place and must stay
 * allocated and unchanged until tabulonClose on this handle has returned.
 * size is the caller's promise: the library reads exactly size bytes.
 * Bad bytes are refused as tabulonOpen refuses a file holding them, with
 * the same code and the same reason (the text without a path): an empty
 * buffer and anything that is not a zip archive give TABULON_NOT_A_ZIP.
 * Unknown flags give TABULON_INVALID_ARGUMENT. */
#define TABULON_BORROW 1u
TabulonWorkbook* tabulonOpenMemory(const void* data, size_t size, unsigned flags, TabulonStatus* status);

/* Closes the handle and releases the workbook. Reads of this handle still
 * running in other threads end first (tabulonClose waits for them); once
 * it returns, the library no longer touches the workbook, its file or its
 * borrowed bytes, the handle's value is refused by every function, and
 * the sheet names of tabulonSheetInfo are gone. Columns and texts already
 * returned stay valid. Returns 0, or -1 (TABULON_INVALID_ARGUMENT) for a
 * null or unknown handle, a second close included. A thread must not close
 * a handle while it reads the same handle itself. */
int tabulonClose(TabulonWorkbook* workbook, TabulonStatus* status);

enum TabulonSheetKind {
  TABULON_SHEET_WORKSHEET = 0,
  TABULON_SHEET_CHART = 1,
  TABULON_SHEET_DIALOG = 2,
  TABULON_SHEET_MACRO = 3
};
enum TabulonSheetVisibility { TABULON_VISIBLE = 0, TABULON_HIDDEN = 1, TABULON_VERY_HIDDEN = 2 };
typedef struct TabulonSheetInfo {
  const char* name; /* UTF-8 as stored, zero-terminated; valid until
                       tabulonClose on the handle */
  int kind;         /* enum TabulonSheetKind */
  int visibility;   /* enum TabulonSheetVisibility */
} TabulonSheetInfo;

/* The number of sheets of the workbook, every kind counted (charts
 * included), or -1 on failure. Sheets are numbered from 0 in workbook
 * order; hosts that count worksheets only skip the other kinds. */
int64_t tabulonSheetCount(TabulonWorkbook* workbook, TabulonStatus* status);

/* Fills *info for the sheet at 0-based index. Returns 0, or -1:
 * TABULON_NO_SUCH_SHEET for an index out of range, TABULON_INVALID_ARGUMENT
 * for a null info or a bad handle. */
int tabulonSheetInfo(TabulonWorkbook* workbook, int64_t index, TabulonSheetInfo* info, TabulonStatus* status);

/* Reads one sheet as typed columns: by name when sheet_name is not NULL
 * (exact, case-sensitive; sheet_index is then ignored), else by its
 * 0-based position among all sheets. Columns, options and ownership as for
 * readColumns: on success the caller owns both structs, which outlive the
 * handle; on failure returns -1 with both released (release == NULL)
 * and *status saying why (TABULON_NO_SUCH_SHEET for an unknown name or a
 * position out of range). A sheet without cells of its own (a chart
 * sheet) has zero columns and zero rows. */
int tabulonReadColumns(TabulonWorkbook* workbook, const char* sheet_name, int64_t sheet_index,
                       const TabulonReadOptions* options, struct ArrowSchema* schema,
                       struct ArrowArray* array, TabulonStatus* status);

typedef struct TabulonTextOptions {
  unsigned flags;     /* TABULON_TEXT_* */
  uint64_t max_bytes; /* the most text the caller accepts; 0: no limit of its own */
} TabulonTextOptions;

/* Reads one sheet as text, chosen as for tabulonReadColumns; options may
 * be NULL (flags 0). The text is that of getSheetText with options->flags,
 * zero-terminated. The caller owns it and frees it with tabulonFree; it
 * outlives the handle. *length (when length is not NULL) gets its size in
 * bytes without the terminator. On failure returns NULL, sets *length to 0
 * and *status says why. */
char* tabulonReadText(TabulonWorkbook* workbook, const char* sheet_name, int64_t sheet_index,
                      const TabulonTextOptions* options, size_t* length, TabulonStatus* status);

/* Frees a text of tabulonReadText; NULL is ignored. Any thread. */
void tabulonFree(void* text);

#ifdef __cplusplus
}
#endif

#endif /* TABULON_H */
