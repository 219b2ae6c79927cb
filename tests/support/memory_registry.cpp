#include "support/memory_registry.h"

#include <algorithm>
#include <cwctype>

namespace {

std::wstring Lower(const std::wstring& text) {
    std::wstring lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return lower;
}

const std::pair<HKEY, const wchar_t*> kRootNames[] = {
    {HKEY_CLASSES_ROOT, L"HKCR"},     {HKEY_CURRENT_USER, L"HKCU"}, {HKEY_LOCAL_MACHINE, L"HKLM"},
    {HKEY_USERS, L"HKU"},             {HKEY_PERFORMANCE_DATA, L"HKPD"}, {HKEY_DYN_DATA, L"HKDD"},
    {HKEY_CURRENT_CONFIG, L"HKCC"},
};

}  // namespace

struct MemoryRegistry::Node {
    std::wstring name;
    Node* parent = nullptr;
    bool deleted = false;
    std::map<std::wstring, std::unique_ptr<Node>> children;   // by lower-case name
    struct Value {
        std::wstring name;
        DWORD type;
        std::vector<BYTE> data;
    };
    std::map<std::wstring, Value> values;   // by lower-case name

    std::wstring Path() const { return parent ? parent->Path() + L"\\" + name : name; }
};

struct MemoryRegistry::Handle {
    Node* node;
};

MemoryRegistry::MemoryRegistry() {
    for (const auto& root : kRootNames) {
        auto node = std::make_unique<Node>();
        node->name = root.second;
        m_roots[root.first] = std::move(node);
    }
}

MemoryRegistry::~MemoryRegistry() {
    for (Handle* handle : m_handles) delete handle;
}

MemoryRegistry::Node* MemoryRegistry::Resolve(HKEY key, LSTATUS* status) {
    const auto root = m_roots.find(key);
    if (root != m_roots.end()) return root->second.get();
    Handle* handle = reinterpret_cast<Handle*>(key);
    if (!key || !m_handles.count(handle)) {
        *status = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (handle->node->deleted) {
        *status = ERROR_KEY_DELETED;
        return nullptr;
    }
    return handle->node;
}

bool MemoryRegistry::Denied(const Node* node) const {
    const std::wstring path = Lower(node->Path());
    for (const auto& denied : deniedKeys)
        if (path == Lower(denied)) return true;
    return false;
}

MemoryRegistry::Node* MemoryRegistry::Walk(Node* from, const wchar_t* path, bool create, LSTATUS* status) {
    Node* node = from;
    std::wstring rest = path ? path : L"";
    size_t start = 0;
    while (start < rest.size()) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos) end = rest.size();
        const std::wstring part = rest.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (part.size() > 255) {
            *status = ERROR_INVALID_PARAMETER;
            return nullptr;
        }
        const auto found = node->children.find(Lower(part));
        if (found != node->children.end()) {
            node = found->second.get();
            continue;
        }
        if (!create) {
            *status = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        if (Denied(node)) {
            *status = ERROR_ACCESS_DENIED;
            return nullptr;
        }
        auto child = std::make_unique<Node>();
        child->name = part;
        child->parent = node;
        Node* made = child.get();
        node->children[Lower(part)] = std::move(child);
        node = made;
    }
    return node;
}

LSTATUS MemoryRegistry::OpenHandle(HKEY parent, const wchar_t* name, bool create, HKEY* out) {
    *out = nullptr;
    LSTATUS status = ERROR_SUCCESS;
    Node* from = Resolve(parent, &status);
    if (!from) return status;
    Node* node = Walk(from, name, create, &status);
    if (!node) return status;
    Handle* handle = new Handle{node};
    m_handles.insert(handle);
    *out = reinterpret_cast<HKEY>(handle);
    return ERROR_SUCCESS;
}

LSTATUS MemoryRegistry::OpenKey(HKEY parent, const wchar_t* name, REGSAM, HKEY* out) {
    return OpenHandle(parent, name, false, out);
}

LSTATUS MemoryRegistry::CreateKey(HKEY parent, const wchar_t* name, REGSAM, HKEY* out) {
    return OpenHandle(parent, name, true, out);
}

LSTATUS MemoryRegistry::SetValue(HKEY key, const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
    LSTATUS status = ERROR_SUCCESS;
    Node* node = Resolve(key, &status);
    if (!node) return status;
    if (Denied(node)) return ERROR_ACCESS_DENIED;
    const std::wstring valueName = name ? name : L"";
    node->values[Lower(valueName)] = Node::Value{valueName, type, std::vector<BYTE>(data, data + size)};
    return ERROR_SUCCESS;
}

LSTATUS MemoryRegistry::DeleteValue(HKEY key, const wchar_t* name) {
    LSTATUS status = ERROR_SUCCESS;
    Node* node = Resolve(key, &status);
    if (!node) return status;
    if (Denied(node)) return ERROR_ACCESS_DENIED;
    return node->values.erase(Lower(name ? name : L"")) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS MemoryRegistry::QuerySubkeyCount(HKEY key, DWORD* count) {
    LSTATUS status = ERROR_SUCCESS;
    Node* node = Resolve(key, &status);
    if (!node) return status;
    *count = static_cast<DWORD>(node->children.size());
    return ERROR_SUCCESS;
}

LSTATUS MemoryRegistry::EnumKey(HKEY key, DWORD index, wchar_t* name, DWORD* length) {
    LSTATUS status = ERROR_SUCCESS;
    Node* node = Resolve(key, &status);
    if (!node) return status;
    if (index >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = node->children.begin();
    std::advance(it, index);
    const std::wstring& childName = it->second->name;
    if (childName.size() >= *length) return ERROR_MORE_DATA;
    std::copy(childName.begin(), childName.end(), name);
    name[childName.size()] = L'\0';
    *length = static_cast<DWORD>(childName.size());
    return ERROR_SUCCESS;
}

LSTATUS MemoryRegistry::DeleteKey(HKEY parent, const wchar_t* name, REGSAM) {
    LSTATUS status = ERROR_SUCCESS;
    Node* from = Resolve(parent, &status);
    if (!from) return status;
    Node* node = Walk(from, name, false, &status);
    if (!node) return status;
    if (!node->parent) return ERROR_ACCESS_DENIED;
    if (!node->children.empty() || Denied(node->parent)) return ERROR_ACCESS_DENIED;
    node->deleted = true;
    // Open handles keep pointing at the deleted node; it lives on in the graveyard.
    auto& siblings = node->parent->children;
    const auto it = siblings.find(Lower(node->name));
    m_graveyard.push_back(std::move(it->second));
    siblings.erase(it);
    return ERROR_SUCCESS;
}

LSTATUS MemoryRegistry::CloseKey(HKEY key) {
    if (m_roots.count(key)) return ERROR_SUCCESS;
    Handle* handle = reinterpret_cast<Handle*>(key);
    if (!m_handles.erase(handle)) return ERROR_INVALID_HANDLE;
    delete handle;
    return ERROR_SUCCESS;
}

namespace {

std::wstring Describe(DWORD type, const std::vector<BYTE>& data) {
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
    const size_t units = data.size() / 2;
    switch (type) {
    case REG_SZ:
        return L"REG_SZ " + std::wstring(text, units ? units - 1 : 0);
    case REG_MULTI_SZ: {
        std::wstring out = L"REG_MULTI_SZ";
        for (size_t i = 0; i < units; ++i) out += text[i] ? std::wstring(1, text[i]) : L"|";
        return out;
    }
    case REG_DWORD: {
        DWORD value = 0;
        if (data.size() == 4) memcpy(&value, data.data(), 4);
        return L"REG_DWORD " + std::to_wstring(value);
    }
    default: {
        std::wstring out = L"REG_BINARY";
        wchar_t hex[4];
        for (BYTE b : data) {
            swprintf(hex, 4, L" %02X", b);
            out += hex;
        }
        return out;
    }
    }
}

void DumpNode(const MemoryRegistry::Node& node, std::vector<std::wstring>& lines) {
    if (node.parent) lines.push_back(node.Path());
    for (const auto& value : node.values)
        lines.push_back(node.Path() + L" : " + (value.second.name.empty() ? L"(default)" : value.second.name) + L" = " +
                        Describe(value.second.type, value.second.data));
    for (const auto& child : node.children) DumpNode(*child.second, lines);
}

}  // namespace

std::vector<std::wstring> MemoryRegistry::Dump() const {
    std::vector<std::wstring> lines;
    for (const auto& root : m_roots) DumpNode(*root.second, lines);
    std::sort(lines.begin(), lines.end());
    return lines;
}

namespace {
std::pair<HKEY, std::wstring> SplitRoot(const std::wstring& path) {
    const size_t slash = path.find(L'\\');
    const std::wstring root = path.substr(0, slash);
    for (const auto& r : kRootNames)
        if (root == r.second) return {r.first, slash == std::wstring::npos ? L"" : path.substr(slash + 1)};
    return {nullptr, L""};
}
}  // namespace

void MemoryRegistry::AddKey(const std::wstring& path) {
    const auto split = SplitRoot(path);
    HKEY key = nullptr;
    if (CreateKey(split.first, split.second.c_str(), KEY_WRITE, &key) == ERROR_SUCCESS) CloseKey(key);
}

void MemoryRegistry::AddStringValue(const std::wstring& path, const std::wstring& name, const std::wstring& data) {
    const auto split = SplitRoot(path);
    HKEY key = nullptr;
    if (CreateKey(split.first, split.second.c_str(), KEY_WRITE, &key) != ERROR_SUCCESS) return;
    SetValue(key, name.empty() ? nullptr : name.c_str(), REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
             static_cast<DWORD>((data.size() + 1) * 2));
    CloseKey(key);
}

bool MemoryRegistry::HasKey(const std::wstring& path) const {
    const auto split = SplitRoot(path);
    HKEY key = nullptr;
    if (const_cast<MemoryRegistry*>(this)->OpenKey(split.first, split.second.c_str(), KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    const_cast<MemoryRegistry*>(this)->CloseKey(key);
    return true;
}
