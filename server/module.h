// The DLL's load sequence and entry point around the module object (common/module.h), and the
// per-user registration switch.
#pragma once

#include "common/module.h"

#include <windows.h>

struct IRegistrarBase;

extern bool g_perUserRegistration;     // set only by DllInstall(…, L"user")

// Adds APPID to a registrar for every registry script this module runs.
HRESULT AddCommonVariables(IRegistrarBase* registrar) noexcept;
