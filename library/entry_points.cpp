// The library's two exported functions: the only symbols the module file exports.
#include <new>

#include "host_interface.h"
#include "module.h"
#include "module_texts.h"

#if defined(_WIN32)
#define QUORB_EXPORT
#else
#define QUORB_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {

QUORB_EXPORT int32_t QUORB_CALL getModuleProperties(int32_t index, ModuleInfo* info) noexcept;
QUORB_EXPORT ModuleRecord* QUORB_CALL makeModule(int32_t index, int32_t kind, HostCallback callback,
                                                 void* hostHandle) noexcept;

// Describes module type `index` (only 0 exists). interfaceVersion is written whatever the index,
// as the host reads it even from a refused query; the words at offsets 12 and 16 are the host's.
int32_t QUORB_CALL getModuleProperties(int32_t index, ModuleInfo* info) noexcept {
  if (info == nullptr) return 0;
  info->interfaceVersion = MODULE_INTERFACE_VERSION;
  if (index != 0) return 0;
  info->name = moduleIdText();
  info->id = moduleIdText();
  info->about = moduleAboutText();
  return 1;
}

// Creates a recorder object; null for any index but 0, any kind but 1, or when memory runs out.
// The host owns the object from here on and ends it only through the dispatcher's MOD_CLOSE.
ModuleRecord* QUORB_CALL makeModule(int32_t index, int32_t kind, HostCallback callback,
                                    void* hostHandle) noexcept {
  if (index != 0 || kind != 1) return nullptr;
  Module* module = new (std::nothrow) Module(callback, hostHandle);
  return module != nullptr ? module->hostRecord() : nullptr;
}

} // extern "C"
