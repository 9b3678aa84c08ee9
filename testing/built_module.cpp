#include "built_module.h"

const char* builtModulePath() { return QUORB_MODULE_PATH; }

ModuleLibrary& builtModule() {
  static ModuleLibrary library(builtModulePath());
  return library;
}
