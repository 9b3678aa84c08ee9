#include "module_library.h"

#include "files.h"

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

#ifdef _WIN32
// The system's own words for a load error, then its number; the commonest mistake, a module
// built for another system, also in plain words.
std::string loadErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words;
  if (length > 0) {
    words = quorb::textOf(std::filesystem::path(std::wstring(text, length)));
    LocalFree(text);
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                              words.back() == '.'))
      words.pop_back();
  }
  std::string out = code == ERROR_BAD_EXE_FORMAT ? "not a 32-bit Windows module" : "";
  if (!words.empty()) out += out.empty() ? words : " (" + words + ")";
  return out + (out.empty() ? "" : ", ") + "Windows error " + std::to_string(code);
}
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
  // Wide, so that a module in a folder of any name loads whatever the code page.
  HMODULE module = LoadLibraryW(quorb::pathOf(file).c_str());
  const DWORD loadError = GetLastError();
  SetErrorMode(oldMode);
  handle_ = reinterpret_cast<void*>(module);
  if (module == nullptr) {
    error_ = "cannot load " + path + ": " + loadErrorText(loadError);
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
