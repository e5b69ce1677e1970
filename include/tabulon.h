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

#ifdef __cplusplus
}
#endif

#endif /* TABULON_H */
