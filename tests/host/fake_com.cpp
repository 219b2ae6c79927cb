#include "host/fake_com.h"

#include "host/browser_host.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace host {

namespace {

std::map<const void*, const char*>& VtableNames() {
    static std::map<const void*, const char*> names;
    return names;
}

const char* InterfaceName(const void* self) {
    const void* vtable = *static_cast<const void* const*>(self);
    const auto found = VtableNames().find(vtable);
    return found == VtableNames().end() ? "(unknown interface)" : found->second;
}

}  // namespace

void RegisterVtable(const void* vtable, const char* interfaceName) {
    VtableNames()[vtable] = interfaceName;
}

void UnexpectedCall(const void* self, size_t slot) {
    fprintf(stderr, "\nhost: unexpected call: %s slot %u\n", InterfaceName(self), static_cast<unsigned>(slot));
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 99);
    abort();
}

std::map<const void*, std::vector<std::string>*>& NotImplementedSinks() {
    static std::map<const void*, std::vector<std::string>*> sinks;
    return sinks;
}

void RecordNotImplemented(const void* self, size_t slot) {
    const std::string call = std::string(InterfaceName(self)) + " slot " + std::to_string(slot);
    const auto sink = NotImplementedSinks().find(self);
    if (sink != NotImplementedSinks().end()) sink->second->push_back(call);
}

Value::Value(const VARIANT& value) {
    VariantInit(&m_value);
    VariantCopy(&m_value, const_cast<VARIANT*>(&value));
}

Value::Value(const wchar_t* text) {
    VariantInit(&m_value);
    V_VT(&m_value) = VT_BSTR;
    V_BSTR(&m_value) = SysAllocString(text);
}

Value::Value(long number) {
    VariantInit(&m_value);
    V_VT(&m_value) = VT_I4;
    V_I4(&m_value) = number;
}

Value::Value(IDispatch* object) {
    VariantInit(&m_value);
    V_VT(&m_value) = VT_DISPATCH;
    V_DISPATCH(&m_value) = object;
    if (object) IDispatch_AddRef(object);
}

Value& Value::operator=(const Value& other) {
    if (this != &other) {
        VariantClear(&m_value);
        VariantCopy(&m_value, const_cast<VARIANT*>(&other.m_value));
    }
    return *this;
}

std::wstring Value::text() const {
    if (V_VT(&m_value) != VT_BSTR || !V_BSTR(&m_value)) return std::wstring();
    return std::wstring(V_BSTR(&m_value), SysStringLen(V_BSTR(&m_value)));
}

}  // namespace host
