// The product's identity: the only GUIDs the server knows.
#pragma once

#include <windows.h>

extern "C" const CLSID CLSID_VelnorIEExt;   // {5D3A8C21-7E4B-4F19-A6D2-3B9E0C7F1A54}
extern "C" const IID LIBID_VelnorIELib;     // {8B6E2F07-C3D1-4A5E-9F28-6D0A4B7C3E91}, version 1.0
extern "C" const IID IID_IVelnorIEExt;      // {4E8B2D17-9C3A-4F65-B1D8-7A2C5E9F0B36}
extern const GUID kAppId;                   // {2C9F4E6A-1B83-4D7E-8A05-F3B6D92E7C18}
extern const wchar_t kAppIdText[];          // the AppID as registry scripts see it
extern const wchar_t kClsidText[];

constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;
