// The class table of Hyd.dll and the lock that guards lazy creation of its class factories; the
// instance handle and the lock count live in common/module_win.h.
#pragma once

#include "common/module_win.h"

#include <windows.h>

#include <objbase.h>

namespace hyd {

struct class_row {
    const CLSID* clsid;                           // null ends the table
    HRESULT (*update_registry)(bool do_register); // runs the class's registry script
    HRESULT (*create_factory)(class_row& row, IUnknown** factory);
    HRESULT (*create_instance)(IUnknown* outer, REFIID riid, void** ppv);
    IUnknown* factory; // cached on first request
    DWORD cookie;      // never registered as a running object
    const char* description;
    void (*start_stop)(bool starting);
};

class_row* module_class_table();

// Guards the lazy creation of class factories.
void module_enter();
void module_leave();

// Start-up and shut-down, from DllMain.
bool module_start(HINSTANCE instance);
void module_stop(bool process_ending);

} // namespace hyd
