// The registrar that carries replacement variables into a registry-script run, and the
// entry points that load a script resource and run it.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <string>
#include <utility>
#include <vector>

class RegistryAccess;

struct IRegistrarBase : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE AddVariable(LPCOLESTR name, LPCOLESTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearVariables() = 0;
};

// Lives on the stack of one script run, so its IUnknown does nothing: QueryInterface answers
// E_NOTIMPL, AddRef 1, Release 0. The same name may be added twice; lookup takes the first
// pair whose name matches without regard to letter case.
class CRegObject final : public IRegistrarBase {
public:
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 0; }
    STDMETHODIMP AddVariable(LPCOLESTR name, LPCOLESTR value) override;
    STDMETHODIMP ClearVariables() override;

    // The value of the first variable named `name` (given with its length), or null.
    const std::wstring* FindVariable(const wchar_t* name, size_t length) const;

private:
    std::vector<std::pair<std::wstring, std::wstring>> m_variables;
};

struct ScriptVariable {
    const wchar_t* name;    // a null name ends the list
    const wchar_t* value;   // a pair with a null value is skipped
};

// Runs the module's "REGISTRY" resource `resourceId` with APPID, Module and Module_Raw set.
HRESULT UpdateRegistryFromScript(UINT resourceId, bool doRegister, const ScriptVariable* extraVariables);

// The registry that UpdateRegistryFromScript writes: the system's, unless a test gives its own
// (null restores the system's).
void SetScriptRegistryForTesting(RegistryAccess* registry);

// Loads one script resource from a module file and runs it against `registry`.
HRESULT RunScriptResource(CRegObject& registrar, const wchar_t* moduleFile, UINT resourceId,
                          const wchar_t* resourceType, bool doRegister, RegistryAccess& registry);
