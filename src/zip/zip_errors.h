// Exceptions of the archive layer.
#pragma once

#include <stdexcept>
#include <string>

namespace Zippy {

// Reading the file or a member failed, or no entry bears the name asked for.
class ZipRuntimeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An operation was called on an archive that was never opened.
class ZipLogicError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

}  // namespace Zippy
