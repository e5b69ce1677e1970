// The built tabulon.so loaded the way a host loads it: dlopen, then the
// entry points looked up by their plain names.
#pragma once

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace tabulon::test {

class HostLibrary {
 public:
  HostLibrary() {
    handle_ = dlopen(TABULON_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    openExcel = symbol<int (*)(const char*)>("openExcel");
    getSheetData = symbol<const char* (*)(const char*)>("getSheetData");
    closeExcel = symbol<int (*)()>("closeExcel");
    version = symbol<const char* (*)()>("version");
    max_row = symbol<int*>("max_row");
    max_col = symbol<int*>("max_col");
    max_abs_col = symbol<unsigned long*>("max_abs_col");
  }
  ~HostLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  template <class T>
  T symbol(const char* name) const {
    void* address = dlsym(handle_, name);
    if (address == nullptr) throw std::runtime_error(std::string("missing symbol ") + name);
    return reinterpret_cast<T>(address);
  }

  // Opens path, renders sheet and returns its text ("0" on failure).
  std::string render(const std::string& path, const std::string& sheet) {
    if (openExcel(path.c_str()) != 0) return "open failed";
    return getSheetData(sheet.c_str());
  }

  int (*openExcel)(const char*) = nullptr;
  const char* (*getSheetData)(const char*) = nullptr;
  int (*closeExcel)() = nullptr;
  const char* (*version)() = nullptr;
  int* max_row = nullptr;
  int* max_col = nullptr;
  unsigned long* max_abs_col = nullptr;

 private:
  void* handle_ = nullptr;
};

// One library instance for a whole test program, as a host process has.
inline HostLibrary& host() {
  static HostLibrary library;
  return library;
}

}  // namespace tabulon::test
