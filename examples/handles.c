/* Workbook handles: the workbook's bytes are read into memory (as a
 * download or a database blob would be), opened as one handle, and every
 * sheet is read on a thread of its own at the same time.
 * Build: cc -pthread examples/handles.c -Iinclude build/tabulon.so -Wl,-rpath,build -o handles
 * Run:   ./handles examples/sample.xlsx */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>

#include "tabulon.h"

struct Job {
  TabulonWorkbook* workbook;
  int64_t sheet;
  size_t lines;
  TabulonStatus status;
};

static void* readSheet(void* argument) {
  struct Job* job = argument;
  size_t length = 0;
  char* text = tabulonReadText(job->workbook, NULL, job->sheet, NULL, &length, &job->status);
  if (text != NULL) {
    for (size_t i = 0; i < length; ++i) job->lines += text[i] == '\n';
    tabulonFree(text);
  }
  return NULL;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s WORKBOOK\n", argv[0]);
    return 2;
  }
  FILE* file = fopen(argv[1], "rb");
  if (file == NULL) {
    perror(argv[1]);
    return 1;
  }
  size_t size = 0, room = 1 << 16;
  char* bytes = malloc(room);
  for (size_t n; bytes != NULL && (n = fread(bytes + size, 1, room - size, file)) > 0;) {
    size += n;
    if (size == room) bytes = realloc(bytes, room *= 2);
  }
  fclose(file);
  if (bytes == NULL) return 1;

  TabulonStatus status;
  /* Borrowed: the bytes stay put until tabulonClose. */
  TabulonWorkbook* workbook = tabulonOpenMemory(bytes, size, TABULON_BORROW, &status);
  if (workbook == NULL) {
    fprintf(stderr, "%s: %s\n", argv[1], status.text);
    free(bytes);
    return 1;
  }
  int64_t count = tabulonSheetCount(workbook, &status);
  struct Job* jobs = calloc((size_t)count, sizeof *jobs);
  pthread_t* threads = calloc((size_t)count, sizeof *threads);
  for (int64_t i = 0; i < count; ++i) {
    jobs[i].workbook = workbook;
    jobs[i].sheet = i;
    pthread_create(&threads[i], NULL, readSheet, &jobs[i]);
  }
  for (int64_t i = 0; i < count; ++i) {
    pthread_join(threads[i], NULL);
    TabulonSheetInfo info;
    tabulonSheetInfo(workbook, i, &info, NULL);
    if (jobs[i].status.code == TABULON_OK)
      printf("%s: %zu lines\n", info.name, jobs[i].lines);
    else
      printf("%s: %s\n", info.name, jobs[i].status.text);
  }
  tabulonClose(workbook, &status);
  /* Closed: a second close is refused, not a crash. */
  if (tabulonClose(workbook, &status) != 0) printf("closed twice: %s\n", status.text);
  free(threads);
  free(jobs);
  free(bytes);
  return 0;
}
