#include "server/registrar.h"

#include "common/hresult.h"
#include "common/unique_owner.h"
#include "server/module.h"
#include "server/registry_access.h"
#include "server/registry_script.h"

#include <vector>

namespace {

RegistryAccess* g_scriptRegistry = nullptr;

bool NamesEqualNoCase(const std::wstring& a, const wchar_t* b, size_t length) {
    if (a.size() != length) return false;
    return CompareStringOrdinal(a.data(), static_cast<int>(length), b, static_cast<int>(length), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace

HRESULT CRegObject::AddVariable(LPCOLESTR name, LPCOLESTR value) {
    if (!name || !value) return E_INVALIDARG;
    try {
        m_variables.emplace_back(name, value);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CRegObject::ClearVariables() {
    m_variables.clear();
    return S_OK;
}

const std::wstring* CRegObject::FindVariable(const wchar_t* name, size_t length) const {
    for (const auto& variable : m_variables)
        if (NamesEqualNoCase(variable.first, name, length)) return &variable.second;
    return nullptr;
}

HRESULT RunScriptResource(CRegObject& registrar, const wchar_t* moduleFile, UINT resourceId,
                          const wchar_t* resourceType, bool doRegister, RegistryAccess& registry) {
    unique_hmodule module(LoadLibraryExW(moduleFile, nullptr,
                                         LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE));
    if (!module) module.reset(LoadLibraryExW(moduleFile, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) return HResultFromLastError();

    HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(resourceId), resourceType);
    if (!resource) return HResultFromLastError();
    HGLOBAL loaded = LoadResource(module.get(), resource);
    if (!loaded) return HResultFromLastError();
    const DWORD size = SizeofResource(module.get(), resource);
    if (size == 0xFFFFFFFF) return E_OUTOFMEMORY;
    const char* bytes = static_cast<const char*>(LockResource(loaded));
    if (!bytes) return HResultFromLastError();

    std::vector<wchar_t> text;
    try {
        text.resize(static_cast<size_t>(size) + 1);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    int converted = 0;
    if (size > 0) {
        converted = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, static_cast<int>(size), text.data(),
                                        static_cast<int>(size));
        if (converted == 0) return HResultFromLastError();
    }
    text[static_cast<size_t>(converted)] = L'\0';

    CRegScriptParser parser(registrar, registry, g_perUserRegistration);
    return parser.RunScript(text.data(), doRegister);
}

HRESULT UpdateRegistryFromScript(UINT resourceId, bool doRegister, const ScriptVariable* extraVariables) {
    CRegObject registrar;
    for (const ScriptVariable* variable = extraVariables; variable && variable->name; ++variable) {
        if (!variable->value) continue;
        RETURN_IF_FAILED(registrar.AddVariable(variable->name, variable->value));
    }
    RETURN_IF_FAILED(AddCommonVariables(&registrar));

    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(g_moduleInstance, path, MAX_PATH);
    if (length == 0) return HResultFromLastError();
    if (length == MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

    // Single quotes end a quoted script token, so the path has each of them doubled.
    wchar_t quoted[MAX_PATH * 2];
    size_t out = 0;
    for (const wchar_t* p = path; *p; ++p) {
        const size_t needed = *p == L'\'' ? 2 : 1;
        if (out + needed >= ARRAYSIZE(quoted)) break;
        quoted[out++] = *p;
        if (*p == L'\'') quoted[out++] = L'\'';
    }
    quoted[out] = L'\0';
    RETURN_IF_FAILED(registrar.AddVariable(L"Module", quoted));
    RETURN_IF_FAILED(registrar.AddVariable(L"Module_Raw", quoted));

    return RunScriptResource(registrar, path, resourceId, L"REGISTRY", doRegister,
                             g_scriptRegistry ? *g_scriptRegistry : SystemRegistry());
}

void SetScriptRegistryForTesting(RegistryAccess* registry) {
    g_scriptRegistry = registry;
}
