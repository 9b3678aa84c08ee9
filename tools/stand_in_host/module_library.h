#ifndef QUORB_TOOLS_STAND_IN_HOST_MODULE_LIBRARY_H
#define QUORB_TOOLS_STAND_IN_HOST_MODULE_LIBRARY_H

// Loads a module file the way the host does (dlopen, or LoadLibrary on Windows) and finds its two
// exported functions. The library stays loaded as long as this object lives.

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

private:
  void* handle_ = nullptr;
  std::string error_;
};

#endif // QUORB_TOOLS_STAND_IN_HOST_MODULE_LIBRARY_H
