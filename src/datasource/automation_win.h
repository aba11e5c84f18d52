// The type information of the automation library's dual interfaces (IHyEnsembleDisp,
// IHyEnsembleFile), which their IDispatch members use. The library is registered apart from this
// module; each interface's information is loaded on first use and kept for the module's life.
#pragma once

#include <windows.h>

#include <oaidl.h>

namespace hyd {

// A borrowed pointer on success; the loading failure otherwise.
HRESULT automation_type_info(REFIID iid, LCID lcid, ITypeInfo** info);

// The IDispatch members of both classes over that information; `self` is the interface `iid`
// names. Invoke first drops any stale error object, so that only one the called method posts
// reaches the caller's EXCEPINFO.
HRESULT dispatch_get_type_info(REFIID iid, LCID lcid, ITypeInfo** out);
HRESULT dispatch_get_ids(REFIID iid, LCID lcid, LPOLESTR* names, UINT count, DISPID* ids);
HRESULT dispatch_invoke(REFIID iid, void* self, LCID lcid, DISPID member, WORD flags,
                        DISPPARAMS* params, VARIANT* result, EXCEPINFO* error, UINT* bad_arg);

// At module shut-down.
void release_automation_type_info();

} // namespace hyd
