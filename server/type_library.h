// Registering and unregistering the module's type library (found by LoadModuleTypeLibrary,
// common/module_type_library.h).
#pragma once

#include <windows.h>
#include <oleauto.h>

// Machine-wide, or per user when g_perUserRegistration is set and the system has the
// per-user functions.
HRESULT RegisterTypeLibrary(HINSTANCE moduleInstance, const wchar_t* index);
HRESULT UnregisterTypeLibrary(HINSTANCE moduleInstance, const wchar_t* index);
