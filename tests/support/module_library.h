#ifndef QUORB_TESTS_MODULE_LIBRARY_H
#define QUORB_TESTS_MODULE_LIBRARY_H

// Loads the built module file the way the host does and finds its two exported functions.

#include <string>

#include "host_interface.h"

class ModuleLibrary {
public:
  explicit ModuleLibrary(const std::string& path);
  ~ModuleLibrary();
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  bool loaded() const { return getModuleProperties != nullptr && makeModule != nullptr; }
  const std::string& error() const { return error_; }

  GetModulePropertiesFn getModuleProperties = nullptr;
  MakeModuleFn makeModule = nullptr;

  // The module file the tests load, the one this build made.
  static ModuleLibrary& built();

private:
  void* handle_ = nullptr;
  std::string error_;
};

#endif // QUORB_TESTS_MODULE_LIBRARY_H
