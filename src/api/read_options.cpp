#include "api/read_options.h"

namespace tabulon {

ColumnOptions columnOptionsOf(const TabulonReadOptions* options) {
  ColumnOptions chosen;
  if (options != nullptr) {
    chosen.skipRows = options->skip_rows;
    chosen.maxRows = options->max_rows;
    chosen.header = options->header != 0;
  }
  return chosen;
}

}  // namespace tabulon
