// Where a sheet's text is written as it is joined: the host's own buffer,
// grown in place, so that the text is assembled once, where it ends.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>

namespace tabulon {

class TextTarget {
 public:
  virtual ~TextTarget() = default;
  // The text's start, holding at least bytes; what was written below the
  // size asked for before is kept.
  virtual char* room(std::size_t bytes) = 0;
  // The text will likely hold about bytes: room for them is set aside
  // (address space only) so that it need not move as it grows.
  virtual void expect(std::size_t bytes) = 0;
};

// The text in a string (the exported `out`): its capacity, kept from the
// call before, is reused.
class StringTarget : public TextTarget {
 public:
  explicit StringTarget(std::string& text) : text_(text) { text_.clear(); }

  char* room(std::size_t bytes) override {
    if (bytes > text_.capacity()) text_.reserve(std::max(bytes, 2 * text_.capacity()));
    if (bytes > text_.size()) text_.resize(bytes);
    return text_.data();
  }
  void expect(std::size_t bytes) override {
    if (bytes > text_.capacity()) text_.reserve(bytes);
  }
  // Ends the text at size bytes.
  void finish(std::size_t size) { text_.resize(size); }

 private:
  std::string& text_;
};

// The text in a buffer of malloc, which the host frees: large buffers grow
// by remapping their pages rather than copying them.
class MallocTarget : public TextTarget {
 public:
  ~MallocTarget() override { std::free(data_); }

  char* room(std::size_t bytes) override {
    if (bytes + 1 > capacity_) grow(std::max({bytes + 1, 2 * capacity_, std::size_t{1} << 16}));
    return data_;
  }

  void expect(std::size_t bytes) override {
    if (bytes + 1 > capacity_) grow(bytes + 1);
  }

  // The text of size bytes, zero-terminated, handed to the caller.
  char* release(std::size_t size) {
    room(size);
    data_[size] = '\0';
    char* text = data_;
    if (capacity_ > size + 1) {
      if (char* fitted = static_cast<char*>(std::realloc(data_, size + 1))) text = fitted;
    }
    data_ = nullptr;
    capacity_ = 0;
    return text;
  }

 private:
  void grow(std::size_t capacity) {
    char* grown = static_cast<char*>(std::realloc(data_, capacity));
    if (grown == nullptr) throw std::bad_alloc();
    data_ = grown;
    capacity_ = capacity;
  }

  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

}  // namespace tabulon
