# Workbooks for the tests, written once per run by make_fixtures.py into a
# temporary folder (python3 from the standard library only).
fixture <- local({
  folder <- NULL
  function(name) {
    if (is.null(folder)) {
      python <- Sys.which("python3")
      if (!nzchar(python)) skip("python3 is needed to write the test workbooks")
      folder <<- tempfile("tabulon-fixtures-")
      dir.create(folder)
      status <- system2(python, c(shQuote(test_path("make_fixtures.py")), shQuote(folder)))
      if (status != 0) stop("make_fixtures.py failed")
    }
    file.path(folder, name)
  }
})

# The repository's files (examples/sample.xlsx): TABULON_SOURCE_DIR, else
# three folders above tests/testthat.
source_file <- function(...) {
  root <- Sys.getenv("TABULON_SOURCE_DIR")
  if (!nzchar(root)) root <- file.path(test_path(), "..", "..", "..")
  file.path(root, ...)
}

utc <- function(...) as.POSIXct(c(...), tz = "UTC")

# Sheets of the real corpus where readxl, not tabulon, is wrong, by
# "file/sheet" (or "file/" for every sheet of a file), with the reason; the
# corpus test leaves them out. Workbooks that crash readxl are never given
# to it.
readxl_corpus_faults <- function() {
  list(
    "exceldatareader__LowerCaseReferenceAttribute.xlsx/" =
      "readxl crashes R (segfault) on cell references written in lower case",
    "openpyxl__bigfoot.xlsx/" =
      "not a fault: readxl takes minutes over its 1,024 sheets, too long for a test",
    "calamine__date_1904.xlsx/Sheet1" =
      "readxl ignores date1904=\"true\" (it takes only \"1\"), so its dates are 4 years early")
}

# Sheets of the real corpus where the two frames differ for a reason not
# (or not yet) judged to be readxl's fault, by "file/sheet": the corpus
# test leaves them out, and compares every other sheet.
corpus_known_differences <- function() {
  c(
    "calamine__any_sheets.xlsx/Chart" =
      "tabulon fails where readxl reads (not analysed): Sheet 'Chart' not found",
    "calamine__date_1904.xlsx/Sheet1" =
      "text of number cells or of line ends in text columns",
    "calamine__date_iso.xlsx/Sheet" =
      "text of number cells or of line ends in text columns",
    "calamine__encoded_entities.xlsx/Sheet1" =
      "a different column type (not analysed)",
    "calamine__has_x000D_.xlsx/Sheet1" =
      "names from header cells",
    "calamine__picture_richdata.xlsx/Sheet1" =
      "names from header cells",
    "calamine__richtext-namespaced.xlsx/Sheet1" =
      "names from header cells",
    "closedxml__DataTypes.xlsx/Data Types" =
      "text of number cells or of line ends in text columns",
    "closedxml__DialogSheet.xlsx/Dialog" =
      "tabulon fails where readxl reads (not analysed): Sheet 'Dialog' not found",
    "exceldatareader__InvalidDimension.xlsx/Sheet1" =
      "text of number cells or of line ends in text columns",
    "exceldatareader__issue_283_TimeSpan.xlsx/Sheet1" =
      "text of number cells or of line ends in text columns",
    "exceldatareader__strict_LotsOfSheets.xlsx/DeNormalisedData" =
      "a different column type (not analysed)",
    "exceldatareader__strict_TestOpen.xlsx/Sheet1" =
      "a different column type (not analysed)",
    "excelize__Book1.xlsx/Sheet2" =
      "a different extent (not analysed)",
    "exceljs__chart-sheet.xlsx/Chart1" =
      "tabulon fails where readxl reads (not analysed): Sheet 'Chart1' not found",
    "exceljs__test-issue-880.xlsx/Ersatzteilliste" =
      "names from header cells",
    "exceljs__test-issue-880.xlsx/Feststellanlagen" =
      "text of number cells or of line ends in text columns",
    "exceljs__test-issue-880.xlsx/Schweißgerät" =
      "text of number cells or of line ends in text columns",
    "miniexcel__ClosedXml_InsertCellValues.xlsx/Sample Sheet" =
      "names from header cells",
    "miniexcel__OpenXmlSDK_InsertCellValues.xlsx/Sheet1" =
      "a different column type (not analysed)",
    "miniexcel__TestIssue772.xlsx/Supply plan(daily)" =
      "text of number cells or of line ends in text columns",
    "miniexcel__TestWithoutRAttribute.xlsx/mySheet" =
      "a different column type (not analysed)",
    "openpyxl__contains_chartsheets.xlsx/chart" =
      "tabulon fails where readxl reads (not analysed): Sheet 'chart' not found",
    "openpyxl__date_1904.xlsx/Sheet1" =
      "names from header cells",
    "openpyxl__empty_no_dimensions.xlsx/Sheet4 - Dates" =
      "names from header cells",
    "phpspreadsheet__1904_Calendar.xlsx/Sheet1" =
      "names from header cells",
    "phpspreadsheet__explicitdate.xlsx/Sheet" =
      "a different extent (not analysed)",
    "phpspreadsheet__issue.2362.xlsx/RC" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Data" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Sheet 1" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Sheet 2" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Sheet 3" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Sheet 4" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Sheet 5" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Sheet 6" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Sheet 7" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Sheet 8" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Sheet 9" =
      "text of number cells or of line ends in text columns",
    "phpspreadsheet__issue.3720.xlsx/Welcome" =
      "a different extent (not analysed)",
    "poi__59746_NoRowNums.xlsx/Features" =
      "text of number cells or of line ends in text columns",
    "poi__60289_access.xlsx/TABLE" =
      "text of number cells or of line ends in text columns",
    "poi__ElapsedFormatTests.xlsx/Tests" =
      "a different extent (not analysed)",
    "poi__WithChartSheet.xlsx/Chart2" =
      "tabulon fails where readxl reads (not analysed): Sheet 'Chart2' not found",
    "poi__WithChartSheet.xlsx/Sheet3" =
      "text of number cells or of line ends in text columns",
    "poi__WithChartSheet.xlsx/Sheet4" =
      "text of number cells or of line ends in text columns",
    "poi__bug60858.xlsx/Arbeitszeitcheck_2.3" =
      "text of number cells or of line ends in text columns",
    "poi__duplicate-filename.xlsx/v1" =
      "names from header cells",
    "poi__sample-beta.xlsx/Sheet1" =
      "a different extent (not analysed)",
    "readxl__dates-1900-LibreOffice.xlsx/Sheet1" =
      "names from header cells",
    "readxl__embedded-chartsheet.xlsx/Chart1" =
      "tabulon fails where readxl reads (not analysed): Sheet 'Chart1' not found",
    "readxl__new_line_errors.xlsx/Blad1" =
      "text of number cells or of line ends in text columns",
    "roo__boolean-from-google-sheets.xlsx/Sheet1" =
      "names from header cells",
    "roo__x000D.xlsx/情人节活动" =
      "text of number cells or of line ends in text columns",
    "sheetjs__LONumbers.xlsx/Sheet1" =
      "equal by all.equal, not identical",
    "sheetjs__crlf.xlsx/Sheet1" =
      "text of number cells or of line ends in text columns",
    "sheetjs__formula_stress_test.xlsx/Database" =
      "text of number cells or of line ends in text columns",
    "sheetjs__formula_stress_test.xlsx/Engineering" =
      "text of number cells or of line ends in text columns",
    "sheetjs__formula_stress_test.xlsx/Finance" =
      "text of number cells or of line ends in text columns",
    "sheetjs__formula_stress_test.xlsx/Math" =
      "text of number cells or of line ends in text columns",
    "sheetjs__formula_stress_test.xlsx/Statistical" =
      "text of number cells or of line ends in text columns",
    "sheetjs__formula_stress_test.xlsx/Text" =
      "text of number cells or of line ends in text columns",
    "sheetjs__rich_text_stress.xlsx/Sheet1" =
      "text of number cells or of line ends in text columns",
    "sheetjs__wtf_path.xlsx/SheetJS" =
      "a different extent (not analysed)",
    "sheetjs__xlsx-stream-d-date-cell.xlsx/Sheet1" =
      "text of number cells or of line ends in text columns",
    "tealeg__noStylesAndSharedStringsTest.xlsx/10 Aug 2013 19_11_21" =
      "text of number cells or of line ends in text columns",
    "tealeg__testchartsheet.xlsx/Chart1" =
      "tabulon fails where readxl reads (not analysed): Sheet 'Chart1' not found",
    "tidyxl__cellStyleXfs-missing_jasper.xlsx/ReporteInstitucion" =
      "text of number cells or of line ends in text columns",
    "tidyxl__enron-nested.xlsx/Balancing" =
      "text of number cells or of line ends in text columns",
    "tidyxl__enron-nested.xlsx/EPEData" =
      "text of number cells or of line ends in text columns",
    "tidyxl__enron-nested.xlsx/Economics" =
      "text of number cells or of line ends in text columns",
    "tidyxl__enron-nested.xlsx/Fuel" =
      "text of number cells or of line ends in text columns",
    "tidyxl__enron-nested.xlsx/HeatRate" =
      "text of number cells or of line ends in text columns",
    "tidyxl__enron-nested.xlsx/Module1" =
      "tabulon fails where readxl reads (not analysed): the archive has no part xl/worksheets/sheet14.xml",
    "tidyxl__enron-nested.xlsx/Preschedule" =
      "text of number cells or of line ends in text columns",
    "tidyxl__enron-nested.xlsx/Unit Summary" =
      "text of number cells or of line ends in text columns",
    "tidyxl__enron-nested.xlsx/dlgAddRows" =
      "tabulon fails where readxl reads (not analysed): Sheet 'dlgAddRows' not found",
    "tidyxl__lu-performance-data-almanac.xlsx/Operated KMs PEAK old" =
      "text of number cells or of line ends in text columns",
    "tidyxl__xfd1048576.xlsx/Sheet1" =
      "names from header cells",
    "umya__aaa.xlsx/Sheet1" =
      "text of number cells or of line ends in text columns",
    "umya__aaa.xlsx/Sheet3" =
      "names from header cells",
    "umya__issue_216.xlsx/Constants" =
      "text of number cells or of line ends in text columns",
    "umya__issue_216.xlsx/Military" =
      "text of number cells or of line ends in text columns",
    "umya__issue_216.xlsx/Overview" =
      "text of number cells or of line ends in text columns",
    "umya__issue_216.xlsx/Races" =
      "text of number cells or of line ends in text columns",
    "umya__issue_216.xlsx/Techs" =
      "names from header cells",
    "umya__issue_216.xlsx/calc" =
      "text of number cells or of line ends in text columns",
    "xlsx2csv__escape.xlsx/Austin" =
      "names from header cells",
    "xlsx2csv__timeformat.xlsx/Sheet2" =
      "a different column type (not analysed)",
    "xlsxjl__Bom-issue243.xlsx/HML Devil" =
      "text of number cells or of line ends in text columns",
    "xlsxjl__Bom-issue243.xlsx/HML FF" =
      "text of number cells or of line ends in text columns",
    "xlsxjl__Bom-issue243.xlsx/ME(t-1)" =
      "text of number cells or of line ends in text columns",
    "xlsxjl__Bom-issue243.xlsx/MKT" =
      "text of number cells or of line ends in text columns",
    "xlsxjl__Bom-issue243.xlsx/QMJ Factors" =
      "text of number cells or of line ends in text columns",
    "xlsxjl__Bom-issue243.xlsx/RF" =
      "text of number cells or of line ends in text columns",
    "xlsxjl__Bom-issue243.xlsx/SMB" =
      "text of number cells or of line ends in text columns",
    "xlsxjl__Bom-issue243.xlsx/UMD" =
      "text of number cells or of line ends in text columns",
    "xlsxwriter__chart_bar13.xlsx/Chart1" =
      "tabulon fails where readxl reads (not analysed): Sheet 'Chart1' not found",
    "xlsxwriter__chart_bar13.xlsx/Chart2" =
      "tabulon fails where readxl reads (not analysed): Sheet 'Chart2' not found"
  )
}
