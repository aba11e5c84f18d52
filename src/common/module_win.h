// What every COM object of the module shares: the module's instance handle (for its resources)
// and the lock count that decides whether the DLL may unload. Live objects (ensemble objects,
// property enumerators) and LockServer raise the count.
#pragma once

#include <windows.h>

#include <string>

namespace hyd {

// The module whose resources the library uses: the DLL once DllMain has run, else (linked into a
// program) whatever module holds this code.
HINSTANCE module_instance();
void set_module_instance(HINSTANCE instance);

// String-table text of the module by number; empty when it has none.
std::string module_text(int id);

void module_lock();
void module_unlock();
LONG module_lock_count();

} // namespace hyd
