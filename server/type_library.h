// Finding, registering and unregistering the module's type library ("TYPELIB" 1, with a
// ".tlb" beside the DLL as the fallback).
#pragma once

#include <windows.h>
#include <oleauto.h>

// Loads the library; *path receives the path it was loaded from (SysAllocString; the caller
// frees it). Both outputs are null on failure. `index` is an optional suffix, usually null.
HRESULT LoadModuleTypeLibrary(HINSTANCE moduleInstance, const wchar_t* index, BSTR* path,
                              ITypeLib** typeLib);

// Machine-wide, or per user when g_perUserRegistration is set and the system has the
// per-user functions.
HRESULT RegisterTypeLibrary(HINSTANCE moduleInstance, const wchar_t* index);
HRESULT UnregisterTypeLibrary(HINSTANCE moduleInstance, const wchar_t* index);
