#include "api/arrow_export.h"

#include <memory>
#include <string>
#include <vector>

namespace tabulon {
namespace {

// A byte for buffers of no length: consumers expect a pointer there.
const std::uint8_t kEmpty[8] = {};

const void* dataOf(const void* data) { return data != nullptr ? data : kEmpty; }

// What a struct's private_data points at. Children and dictionaries are
// released with their parent unless a consumer moved them out (and so
// cleared their release).
template <class Struct>
struct Owned {
  std::vector<std::unique_ptr<Struct>> children;
  std::vector<Struct*> childPointers;
  std::unique_ptr<Struct> dictionary;

  Owned() = default;
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() {
    for (auto& child : children)
      if (child->release != nullptr) child->release(child.get());
    if (dictionary && dictionary->release != nullptr) dictionary->release(dictionary.get());
  }
};

struct SchemaHolder : Owned<ArrowSchema> {
  std::string format;
  std::string name;
};

struct ArrayHolder : Owned<ArrowArray> {
  Column column;  // owns the buffers
  std::vector<const void*> buffers;
};

void releaseSchema(ArrowSchema* schema) {
  if (schema == nullptr || schema->release == nullptr) return;
  delete static_cast<SchemaHolder*>(schema->private_data);
  schema->release = nullptr;
}

void releaseArray(ArrowArray* array) {
  if (array == nullptr || array->release == nullptr) return;
  delete static_cast<ArrayHolder*>(array->private_data);
  array->release = nullptr;
}

// Fills schema from a holder it then owns.
void fillSchema(ArrowSchema* schema, std::unique_ptr<SchemaHolder> holder, std::int64_t flags) {
  schema->format = holder->format.c_str();
  schema->name = holder->name.c_str();
  schema->metadata = nullptr;
  schema->flags = flags;
  schema->n_children = static_cast<std::int64_t>(holder->childPointers.size());
  schema->children = holder->childPointers.empty() ? nullptr : holder->childPointers.data();
  schema->dictionary = holder->dictionary.get();
  schema->release = releaseSchema;
  schema->private_data = holder.release();
}

void fillArray(ArrowArray* array, std::unique_ptr<ArrayHolder> holder, std::int64_t length, std::int64_t nulls) {
  array->length = length;
  array->null_count = nulls;
  array->offset = 0;
  array->n_buffers = static_cast<std::int64_t>(holder->buffers.size());
  array->buffers = holder->buffers.empty() ? nullptr : holder->buffers.data();
  array->n_children = static_cast<std::int64_t>(holder->childPointers.size());
  array->children = holder->childPointers.empty() ? nullptr : holder->childPointers.data();
  array->dictionary = holder->dictionary.get();
  array->release = releaseArray;
  array->private_data = holder.release();
}

// A union's type ids are its kind codes, and its children come in that order.
constexpr const char kUnionFormat[] = "+ud:0,1,2,3,4,5,6,7";

const char* formatOf(ColumnType type) {
  switch (type) {
    case ColumnType::Null:
      return "n";
    case ColumnType::Boolean:
      return "b";
    case ColumnType::Number:
      return "g";
    case ColumnType::Date:
      return "tsu:";
    case ColumnType::Text:
      return "i";
    case ColumnType::Integer:
      return "l";
    case ColumnType::Duration:
      return "tDu";
    case ColumnType::Time:
      return "ttu";
    case ColumnType::Union:
      return kUnionFormat;
    case ColumnType::PlainText:
      return "u";
  }
  return "n";
}

std::unique_ptr<ArrowSchema> exportColumnSchema(const Column& column) {
  auto child = std::make_unique<SchemaHolder>();
  child->format = formatOf(column.type);
  child->name = column.name;
  if (column.type == ColumnType::Text) {
    auto values = std::make_unique<SchemaHolder>();
    values->format = "u";
    auto dictionary = std::make_unique<ArrowSchema>();
    fillSchema(dictionary.get(), std::move(values), ARROW_FLAG_NULLABLE);
    child->dictionary = std::move(dictionary);
  }
  for (const Column& member : column.children) {
    child->children.push_back(exportColumnSchema(member));
    child->childPointers.push_back(child->children.back().get());
  }
  auto schema = std::make_unique<ArrowSchema>();
  // A union has no validity of its own: its missing cells are kind 0.
  fillSchema(schema.get(), std::move(child), column.type == ColumnType::Union ? 0 : ARROW_FLAG_NULLABLE);
  return schema;
}

void exportSchema(const SheetColumns& columns, ArrowSchema* schema) {
  auto holder = std::make_unique<SchemaHolder>();
  holder->format = "+s";
  for (const Column& column : columns.columns) {
    holder->children.push_back(exportColumnSchema(column));
    holder->childPointers.push_back(holder->children.back().get());
  }
  fillSchema(schema, std::move(holder), 0);
}

std::unique_ptr<ArrowArray> exportColumn(Column&& column, std::int64_t rows) {
  auto holder = std::make_unique<ArrayHolder>();
  holder->column = std::move(column);
  Column& c = holder->column;
  const void* validity = c.validity.empty() ? nullptr : c.validity.data();
  switch (c.type) {
    case ColumnType::Null:
      break;
    case ColumnType::Boolean:
      holder->buffers = {validity, dataOf(c.bits.data())};
      break;
    case ColumnType::Number:
      holder->buffers = {validity, dataOf(c.numbers.data())};
      break;
    case ColumnType::Date:
    case ColumnType::Integer:
    case ColumnType::Duration:
    case ColumnType::Time:
      holder->buffers = {validity, dataOf(c.micros.data())};
      break;
    case ColumnType::PlainText:
      holder->buffers = {validity, dataOf(c.offsets.data()), dataOf(c.characters.data())};
      break;
    case ColumnType::Union:
      holder->buffers = {nullptr, dataOf(c.typeIds.data()), dataOf(c.unionOffsets.data())};
      for (Column& member : c.children) {
        const std::int64_t length = member.length;
        holder->children.push_back(exportColumn(std::move(member), length));
        holder->childPointers.push_back(holder->children.back().get());
      }
      break;
    case ColumnType::Text: {
      holder->buffers = {validity, dataOf(c.indexes.data())};
      // The dictionary owns its own buffers: a consumer may keep it alone.
      auto values = std::make_unique<ArrayHolder>();
      values->column.offsets = std::move(c.offsets);
      values->column.characters = std::move(c.characters);
      values->buffers = {nullptr, dataOf(values->column.offsets.data()), dataOf(values->column.characters.data())};
      const auto entries = static_cast<std::int64_t>(values->column.offsets.size()) - 1;
      auto dictionary = std::make_unique<ArrowArray>();
      fillArray(dictionary.get(), std::move(values), entries, 0);
      holder->dictionary = std::move(dictionary);
      break;
    }
  }
  auto array = std::make_unique<ArrowArray>();
  const std::int64_t nulls = c.type == ColumnType::Null ? rows : c.nulls;
  fillArray(array.get(), std::move(holder), rows, nulls);
  return array;
}

}  // namespace

void exportColumns(SheetColumns&& columns, ArrowSchema* schema, ArrowArray* array) {
  schema->release = nullptr;
  array->release = nullptr;
  try {
    exportSchema(columns, schema);
    auto holder = std::make_unique<ArrayHolder>();
    holder->buffers = {nullptr};  // a struct array's validity: every row present
    holder->childPointers.reserve(columns.columns.size());
    holder->children.reserve(columns.columns.size());
    for (Column& column : columns.columns) {
      holder->children.push_back(exportColumn(std::move(column), columns.rows));
      holder->childPointers.push_back(holder->children.back().get());
    }
    fillArray(array, std::move(holder), columns.rows, 0);
  } catch (...) {
    releaseSchema(schema);
    releaseArray(array);
    throw;
  }
}

}  // namespace tabulon
