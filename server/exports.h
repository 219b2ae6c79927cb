// Registration of the whole module, shared by the COM exports and the installer.
#pragma once

#include <windows.h>

// Script 101 (with APPID), then each class's script, then the type library. The thread
// locale is set to the system default for the run and restored on every path.
HRESULT RegisterModule(bool registerTypeLibrary);
// The mirror image: class scripts, type library, then script 101.
HRESULT UnregisterModule(bool unregisterTypeLibrary);
