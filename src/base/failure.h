// What went wrong, carried from the layer that knows to the entry point
// that reports it. The kinds are the host's failure codes.
#pragma once

#include <stdexcept>
#include <string>

#include "tabulon.h"

namespace tabulon {

class Failure : public std::runtime_error {
 public:
  Failure(TabulonFailure kind, const std::string& text) : std::runtime_error(text), kind_(kind) {}
  TabulonFailure kind() const { return kind_; }

 private:
  TabulonFailure kind_;
};

}  // namespace tabulon
