// The extension layer linked with the layers below it and nothing of the COM server: a
// reference from extension/ (or templates/, logging/, common/) up into server/ would not link.
// The program plays the server's one part the extension needs, the module object, and checks
// that an extension object holds the module while it lives.
#include "common/com_ptr.h"
#include "common/module.h"
#include "extension/velnor_ie_ext.h"

#include <cstdio>

int main() {
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int failures = 0;
    {
        CVelnorIEModule module(GUID_NULL);
        ComPtr<IUnknown> object;
        if (FAILED(CVelnorIEExt::CreateInstance(nullptr, IID_IUnknown, object.put_void())) || !object) {
            std::printf("FAIL  no extension object without the server\n");
            ++failures;
        } else if (GetModuleLockCount() != 1) {
            std::printf("FAIL  the object does not hold the module: %ld\n", GetModuleLockCount());
            ++failures;
        }
        object.reset();
        if (GetModuleLockCount() != 0) {
            std::printf("FAIL  the released object still holds the module: %ld\n", GetModuleLockCount());
            ++failures;
        }
    }
    CoUninitialize();
    if (!failures) std::printf("ok    the extension links and runs without the COM server\n");
    return failures ? 1 : 0;
}
