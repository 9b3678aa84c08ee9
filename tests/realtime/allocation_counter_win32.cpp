// Windows: the module file carries its C++ runtime inside and calls msvcrt.dll's heap and
// stream functions, so a replaced malloc in this program would see none of its calls. Every
// heap call of msvcrt (malloc, new, and msvcrt's own stream and buffer allocations) ends in its
// imports of HeapAlloc, HeapReAlloc and HeapFree, and every stream lock in its import of
// EnterCriticalSection; those import slots, and the module file's own, are pointed at counters
// that forward to the system. Not seen: what the system itself does below msvcrt.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "allocation_counter.h"
#include "built_module.h"

namespace {
std::atomic<long> heapCalls{0};
std::atomic<long> lockCalls{0};
std::atomic<int> counters{0};

void note(std::atomic<long>& calls) {
  if (counters.load() > 0) calls.fetch_add(1);
}

decltype(&HeapAlloc) realAlloc;
decltype(&HeapReAlloc) realReAlloc;
decltype(&HeapFree) realFree;
decltype(&EnterCriticalSection) realEnter;

LPVOID WINAPI countAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
  note(heapCalls);
  return realAlloc(heap, flags, size);
}
LPVOID WINAPI countReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T size) {
  note(heapCalls);
  return realReAlloc(heap, flags, block, size);
}
BOOL WINAPI countFree(HANDLE heap, DWORD flags, LPVOID block) {
  if (block != nullptr) note(heapCalls);
  return realFree(heap, flags, block);
}
void WINAPI countEnter(LPCRITICAL_SECTION section) {
  note(lockCalls);
  realEnter(section);
}

// Points every import slot of `module` that imports `name` at `hook`; stores the original.
template <typename Fn> void patch(HMODULE module, const char* name, Fn hook, Fn& original) {
  auto* base = reinterpret_cast<BYTE*>(module);
  const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
       imports != 0 && dll->Name != 0; ++dll) {
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
    for (; dll->OriginalFirstThunk != 0 && names->u1.AddressOfData != 0; ++names, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* entry = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(entry->Name), name) != 0) continue;
      DWORD protection = 0;
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection);
      if (original == nullptr) original = reinterpret_cast<Fn>(slot->u1.Function);
      slot->u1.Function = reinterpret_cast<decltype(slot->u1.Function)>(hook);
      VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
    }
  }
}

void install() {
  static const bool done = [] {
    builtModule(); // loaded, so that its import slots exist
    for (const char* dll : {"msvcrt.dll", "QUORB_REC_M.sem"}) {
      const HMODULE module = GetModuleHandleA(dll);
      if (module == nullptr) continue;
      patch(module, "HeapAlloc", &countAlloc, realAlloc);
      patch(module, "HeapReAlloc", &countReAlloc, realReAlloc);
      patch(module, "HeapFree", &countFree, realFree);
      patch(module, "EnterCriticalSection", &countEnter, realEnter);
    }
    return true;
  }();
  (void)done;
}
} // namespace

AllocationCounter::AllocationCounter() {
  install();
  start_ = heapCalls.load();
  lockStart_ = lockCalls.load();
  counters.fetch_add(1);
}
AllocationCounter::~AllocationCounter() { counters.fetch_sub(1); }
long AllocationCounter::count() const { return heapCalls.load() - start_; }
long AllocationCounter::locks() const { return lockCalls.load() - lockStart_; }
