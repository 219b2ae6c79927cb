// Loading the module's own type library ("TYPELIB" 1 in its resources, with a ".tlb" beside the
// DLL as the fallback): the IDispatch of script-facing objects and the type library
// registration both start from it.
#pragma once

#include <windows.h>
#include <oleauto.h>

// Loads the library; *path receives the path it was loaded from (SysAllocString; the caller
// frees it). Both outputs are null on failure. `index` is an optional suffix, usually null.
HRESULT LoadModuleTypeLibrary(HINSTANCE moduleInstance, const wchar_t* index, BSTR* path,
                              ITypeLib** typeLib);
