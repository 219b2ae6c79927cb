// Defines the GUID constants once for the whole module.
#include <initguid.h>

#include "server/identity.h"
#include "VelnorIELib.h"

// {2C9F4E6A-1B83-4D7E-8A05-F3B6D92E7C18}
const GUID kAppId = {0x2c9f4e6a, 0x1b83, 0x4d7e, {0x8a, 0x05, 0xf3, 0xb6, 0xd9, 0x2e, 0x7c, 0x18}};
const wchar_t kAppIdText[] = L"{2C9F4E6A-1B83-4D7E-8A05-F3B6D92E7C18}";
const wchar_t kClsidText[] = L"{5D3A8C21-7E4B-4F19-A6D2-3B9E0C7F1A54}";
