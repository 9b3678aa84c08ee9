#include "module_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#ifdef _WIN32
namespace {
// GetProcAddress hands out a generic stdcall pointer; going through void(*)() tells the compiler
// the cast to the real (cdecl) type is deliberate.
template <class Fn> Fn exported(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
} // namespace
#endif

ModuleLibrary::ModuleLibrary(const std::string& path) {
#ifdef _WIN32
  HMODULE module = LoadLibraryA(path.c_str());
  handle_ = reinterpret_cast<void*>(module);
  if (module == nullptr) {
    error_ = "LoadLibrary failed for " + path;
    return;
  }
  getModuleProperties = exported<GetModulePropertiesFn>(module, "getModuleProperties");
  makeModule = exported<MakeModuleFn>(module, "makeModule");
#else
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    error_ = dlerror();
    return;
  }
  getModuleProperties =
      reinterpret_cast<GetModulePropertiesFn>(dlsym(handle_, "getModuleProperties"));
  makeModule = reinterpret_cast<MakeModuleFn>(dlsym(handle_, "makeModule"));
#endif
  if (!loaded()) error_ = "exported functions not found in " + path;
}

ModuleLibrary::~ModuleLibrary() {
  if (handle_ == nullptr) return;
#ifdef _WIN32
  FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

ModuleLibrary& ModuleLibrary::built() {
  static ModuleLibrary library(QUORB_MODULE_PATH);
  return library;
}
