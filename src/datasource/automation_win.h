// The type information of the automation library's dual interfaces (IHyEnsembleDisp,
// IHyEnsembleFile), which their IDispatch members use. The library is registered apart from this
// module; each interface's information is loaded on first use and kept for the module's life.
#pragma once

#include <windows.h>

#include <oaidl.h>

namespace hyd {

// A borrowed pointer on success; the loading failure otherwise.
HRESULT automation_type_info(REFIID iid, LCID lcid, ITypeInfo** info);

// At module shut-down.
void release_automation_type_info();

} // namespace hyd
