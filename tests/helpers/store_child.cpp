// A second process of the logon session that uses the template store through an extension
// object of its own.
//   store_child get FILE       writes the stored text (as 8-bit text) to FILE
//   store_child put TEXT       stores TEXT
//   store_child write ID MS    for MS milliseconds, writes its two texts in turn
//   store_child read MS        for MS milliseconds, reads; exit code 1 when a text was torn
#include "common/com_ptr.h"
#include "common/module.h"
#include "common/unique_owner.h"
#include "extension/velnor_ie_ext.h"

#include <string>

namespace {

// Text k of writer `id`: a header naming it, then a body whose length tells long from short,
// so that a reader can rebuild exactly what it should have seen.
std::wstring WriterText(int id, int k) {
    const size_t length = k % 2 ? 1000 : 300000;
    std::wstring text = L"W" + std::to_wstring(id) + L"-" + std::to_wstring(k % 2) + L":";
    text.append(length, static_cast<wchar_t>(L'a' + id));
    return text;
}

std::wstring Get(IVelnorIEExt* object) {
    unique_bstr text;
    object->get_Templates(text.put());
    return text ? std::wstring(text.get(), SysStringLen(text.get())) : std::wstring();
}

void Put(IVelnorIEExt* object, const std::wstring& text) {
    unique_bstr value(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    object->put_Templates(value.get());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_moduleInstance = GetModuleHandleW(nullptr);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ComPtr<IVelnorIEExt> object;
    if (FAILED(CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, object.put_void()))) return 3;
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    int result = 0;
    if (mode == L"get" && argc > 2) {
        const std::wstring text = Get(object.get());
        std::string narrow(text.begin(), text.end());
        unique_file file(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        WriteFile(file.get(), narrow.data(), static_cast<DWORD>(narrow.size()), &written, nullptr);
    } else if (mode == L"put" && argc > 2) {
        Put(object.get(), argv[2]);
    } else if (mode == L"write" && argc > 3) {
        const int id = _wtoi(argv[2]);
        const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(_wtoi(argv[3]));
        for (int k = 0; GetTickCount64() < end; ++k) Put(object.get(), WriterText(id, k));
    } else if (mode == L"read" && argc > 2) {
        const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(_wtoi(argv[2]));
        while (GetTickCount64() < end) {
            const std::wstring text = Get(object.get());
            if (text.empty()) continue;
            int id = 0, k = 0;
            if (swscanf(text.c_str(), L"W%d-%d:", &id, &k) != 2 || text != WriterText(id, k)) {
                result = 1;
                break;
            }
        }
    } else {
        result = 2;
    }
    object.reset();
    CoUninitialize();
    return result;
}
