#include "api/workbook_state.h"

// Constructed in this order when the library is loaded, destroyed in
// reverse at unload; destroying xlsFile closes the archive.
std::vector<std::string> SharedStrings;
std::vector<int> Styles;
std::vector<std::string> SheetsNames;
std::map<std::string, unsigned long> columnMap;
Zippy::ZipArchive xlsFile;
std::string out("");
std::vector<std::string> retMT;

unsigned long max_abs_col = 0;
int max_row = 0;
int max_col = 0;

std::string SheetsList;

TabulonFailure LastFailureKind = TABULON_OK;
std::string LastFailureText;
