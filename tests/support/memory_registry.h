// An in-memory registry with the key and value semantics of the Windows registry, for the
// script interpreter's unit tests: case-insensitive names, keys created along a path, deletion
// only of keys without subkeys, handles that go stale when their key is deleted.
#pragma once

#include "server/registry_access.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class MemoryRegistry final : public RegistryAccess {
public:
    MemoryRegistry();
    ~MemoryRegistry() override;

    LSTATUS OpenKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* out) override;
    LSTATUS CreateKey(HKEY parent, const wchar_t* name, REGSAM access, HKEY* out) override;
    LSTATUS SetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) override;
    LSTATUS DeleteValue(HKEY key, const wchar_t* name) override;
    LSTATUS QuerySubkeyCount(HKEY key, DWORD* count) override;
    LSTATUS EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* length) override;
    LSTATUS DeleteKey(HKEY parent, const wchar_t* name, REGSAM viewFlags) override;
    LSTATUS CloseKey(HKEY key) override;

    // Every key and value as lines: "HKCR\a\b" for a key, "HKCR\a\b : name = type data" for a
    // value ("(default)" for the unnamed one), sorted.
    std::vector<std::wstring> Dump() const;
    // Test set-up shortcuts on full paths such as L"HKCR\\CLSID".
    void AddKey(const std::wstring& path);
    void AddStringValue(const std::wstring& path, const std::wstring& name, const std::wstring& data);
    bool HasKey(const std::wstring& path) const;

    // Keys (full paths) under which nothing may be created or written: ERROR_ACCESS_DENIED.
    std::set<std::wstring> deniedKeys;
    size_t OpenHandles() const { return m_handles.size(); }

    struct Node;

private:
    struct Handle;
    Node* Resolve(HKEY key, LSTATUS* status);
    LSTATUS OpenHandle(HKEY parent, const wchar_t* name, bool create, HKEY* out);
    Node* Walk(Node* from, const wchar_t* path, bool create, LSTATUS* status);
    bool Denied(const Node* node) const;

    std::map<HKEY, std::unique_ptr<Node>> m_roots;
    std::set<Handle*> m_handles;
    std::vector<std::unique_ptr<Node>> m_graveyard;
};
