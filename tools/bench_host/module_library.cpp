#include "module_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#ifdef _WIN32
// GetProcAddress hands out a generic stdcall pointer; going through void(*)() tells the compiler
// the cast to the real (cdecl) type is deliberate.
template <class Fn> Fn exported(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
const char* const SEPARATORS = "/\\:";
#else
const char* const SEPARATORS = "/";
#endif

// A bare file name means the file in the working directory, as for any other file the tools
// open; the loaders would otherwise search their own library paths for it.
std::string asFilePath(const std::string& path) {
  if (path.empty() || path.find_first_of(SEPARATORS) != std::string::npos) return path;
  return "./" + path;
}

} // namespace

ModuleLibrary::ModuleLibrary(const std::string& path) {
  const std::string file = asFilePath(path);
#ifdef _WIN32
  // No message box for a file that is not a loadable image: the caller reports it.
  const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryA(file.c_str());
  const DWORD loadError = GetLastError();
  SetErrorMode(oldMode);
  handle_ = reinterpret_cast<void*>(module);
  if (module == nullptr) {
    error_ = "cannot load " + path + " (Windows error " + std::to_string(loadError) + ")";
    return;
  }
  getModuleProperties = exported<GetModulePropertiesFn>(module, "getModuleProperties");
  makeModule = exported<MakeModuleFn>(module, "makeModule");
#else
  handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
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
