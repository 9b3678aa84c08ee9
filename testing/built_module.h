#ifndef QUORB_TESTS_BUILT_MODULE_H
#define QUORB_TESTS_BUILT_MODULE_H

// The module file this build made, loaded once for the whole test program.

#include "module_library.h"

const char* builtModulePath();
ModuleLibrary& builtModule();

#endif // QUORB_TESTS_BUILT_MODULE_H
