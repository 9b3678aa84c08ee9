// Windows: the module file calls msvcrt.dll for its heap, so a malloc replaced here would see
// none of its calls. msvcrt's import slot for HeapAlloc points at a counter instead: every
// malloc and new of the module (which imports no heap function of its own) or of msvcrt passes
// there. What the system does below msvcrt is not seen.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "allocation_counter.h"

namespace {
std::atomic<long> heapCalls{0};
std::atomic<int> counters{0};
decltype(&HeapAlloc) realAlloc;

LPVOID WINAPI countAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
  heapCalls += counters > 0;
  return realAlloc(heap, flags, size);
}

bool patchMsvcrt() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA("msvcrt.dll"));
  auto* nt = PIMAGE_NT_HEADERS(base + PIMAGE_DOS_HEADER(base)->e_lfanew);
  auto* import = PIMAGE_IMPORT_DESCRIPTOR(
      base + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
  for (; import->Name != 0; ++import)
    for (auto names = PIMAGE_THUNK_DATA(base + import->OriginalFirstThunk),
              slot = PIMAGE_THUNK_DATA(base + import->FirstThunk);
         names->u1.AddressOfData != 0; ++names, ++slot)
      if (!IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
          !std::strcmp(PCHAR(PIMAGE_IMPORT_BY_NAME(base + names->u1.AddressOfData)->Name),
                       "HeapAlloc")) {
        DWORD was = 0;
        VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &was);
        realAlloc = reinterpret_cast<decltype(realAlloc)>(slot->u1.Function);
        slot->u1.Function = reinterpret_cast<DWORD_PTR>(&countAlloc);
        VirtualProtect(slot, sizeof *slot, was, &was);
      }
  return realAlloc != nullptr;
}
} // namespace

AllocationCounter::AllocationCounter() {
  static const bool patched = patchMsvcrt();
  start_ = patched ? heapCalls.load() : 0;
  ++counters;
}
AllocationCounter::~AllocationCounter() { --counters; }
long AllocationCounter::count() const { return heapCalls - start_; }
