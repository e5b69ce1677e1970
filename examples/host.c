/* A host that loads tabulon.so at run time, as a scripting language's
 * foreign-function layer does, and prints every sheet of a workbook.
 * Build: cc host.c -o host -ldl      Run: ./host /path/to/tabulon.so book.xlsx */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s LIBRARY WORKBOOK\n", argv[0]);
    return 2;
  }
  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "%s\n", dlerror());
    return 1;
  }
  int (*openExcel)(const char*) = (int (*)(const char*))dlsym(lib, "openExcel");
  const char* (*listSheets)(void) = (const char* (*)(void))dlsym(lib, "listSheets");
  const char* (*getSheetData)(const char*) = (const char* (*)(const char*))dlsym(lib, "getSheetData");
  int (*closeExcel)(void) = (int (*)(void))dlsym(lib, "closeExcel");
  if (!openExcel || !listSheets || !getSheetData || !closeExcel) {
    fprintf(stderr, "not a tabulon library\n");
    return 1;
  }
  if (openExcel(argv[2]) != 0) {
    fprintf(stderr, "cannot open %s\n", argv[2]);
    return 1;
  }
  /* listSheets' text is replaced by the next call, so copy it first. */
  char names[4096];
  snprintf(names, sizeof names, "%s", listSheets());
  for (char* name = strtok(names, "\n"); name; name = strtok(NULL, "\n"))
    printf("== %s\n%s", name, getSheetData(name));
  closeExcel();
  dlclose(lib);
  return 0;
}
