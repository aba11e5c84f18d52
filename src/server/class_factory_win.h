// The class factory of a class-table row: creates instances through the row's instance creator.
// Shared by every thread that asks for it, so its own count is interlocked; its existence does not
// keep the module loaded.
#pragma once

#include "server/dll_win.h"

namespace hyd {

HRESULT create_class_factory(class_row& row, IUnknown** factory);

} // namespace hyd
