#include "storetool/issued_launches.h"

#include "common/text.h"
#include "common/unique_owner.h"
#include "templates/template_expiry.h"

#include <windows.h>

#include <algorithm>

namespace {

constexpr wchar_t kLaunchesKey[] = L"Software\\Zorvanti\\VelnorIE\\Launches";
// The extension's clock and the tool's are the same machine's; a record stamped later than this
// was written by nothing that stamps honestly.
constexpr long long kClockSlack = 60;

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const wchar_t* name, long long value) {
    const ULONGLONG number = static_cast<ULONGLONG>(value);
    return RegSetValueExW(key, name, 0, REG_QWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number)) ==
           ERROR_SUCCESS;
}

std::wstring GetString(HKEY key, const wchar_t* name, DWORD flags = RRF_RT_REG_SZ) {
    DWORD bytes = 0;
    if (RegGetValueW(key, nullptr, name, flags, nullptr, nullptr, &bytes) != ERROR_SUCCESS || bytes < sizeof(wchar_t))
        return std::wstring();
    std::wstring value(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(key, nullptr, name, flags, nullptr, &value[0], &bytes) != ERROR_SUCCESS) return std::wstring();
    value.resize(bytes / sizeof(wchar_t));
    while (!value.empty() && value.back() == L'\0') value.pop_back();
    return value;
}

long long GetNumber(HKEY key, const wchar_t* name) {
    ULONGLONG number = 0;
    DWORD bytes = sizeof(number);
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_QWORD, nullptr, &number, &bytes) != ERROR_SUCCESS) return 0;
    return static_cast<long long>(number);
}

std::vector<std::wstring> SplitMulti(const std::wstring& text) {
    std::vector<std::wstring> parts;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find(L'\0', at);
        const size_t stop = end == std::wstring::npos ? text.size() : end;
        if (stop > at) parts.push_back(text.substr(at, stop - at));
        at = stop + 1;
    }
    return parts;
}

bool ReadLaunch(HKEY launches, const std::wstring& id, IssuedLaunch* launch) {
    unique_hkey key;
    if (RegOpenKeyExW(launches, id.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
    launch->id = id;
    launch->credential = GetString(key.get(), L"Credential");
    launch->name = GetString(key.get(), L"Name");
    launch->passwordChange = GetNumber(key.get(), L"PasswordChange") != 0;
    launch->sites = SplitMulti(GetString(key.get(), L"Sites", RRF_RT_REG_MULTI_SZ));
    launch->issued = GetNumber(key.get(), L"Issued");
    launch->until = GetNumber(key.get(), L"Until");
    launch->audited = GetNumber(key.get(), L"Audited") != 0;
    return !launch->credential.empty();
}

}  // namespace

bool RememberLaunch(const IssuedLaunch& launch) {
    if (launch.id.empty()) return false;
    unique_hkey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kLaunchesKey) + L"\\" + launch.id).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring sites;
    for (const std::wstring& site : launch.sites) sites += site + L'\0';
    return SetString(key.get(), L"Credential", launch.credential) && SetString(key.get(), L"Name", launch.name) &&
           SetNumber(key.get(), L"PasswordChange", launch.passwordChange ? 1 : 0) &&
           SetString(key.get(), L"Sites", sites, REG_MULTI_SZ) && SetNumber(key.get(), L"Issued", launch.issued) &&
           SetNumber(key.get(), L"Until", launch.until);
}

void ForgetLaunch(const std::wstring& id) {
    if (id.empty()) return;
    RegDeleteKeyW(HKEY_CURRENT_USER, (std::wstring(kLaunchesKey) + L"\\" + id).c_str());
}

void MarkAudited(const std::wstring& id) {
    unique_hkey key;
    if (id.empty() || RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(kLaunchesKey) + L"\\" + id).c_str(), 0,
                                    KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
        return;
    SetNumber(key.get(), L"Audited", 1);
}

std::vector<IssuedLaunch> IssuedLaunches() {
    std::vector<IssuedLaunch> launches;
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kLaunchesKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return launches;
    std::vector<std::wstring> ids, spent;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        ids.emplace_back(name, length);
    }
    const long long now = SecondsSince1970();
    for (const std::wstring& id : ids) {
        IssuedLaunch launch;
        if (ReadLaunch(key.get(), id, &launch) && launch.until > now) launches.push_back(std::move(launch));
        else spent.push_back(id);
    }
    key.reset();
    for (const std::wstring& id : spent) ForgetLaunch(id);
    return launches;
}

void ForgetLaunchesOf(const std::wstring& credential) {
    for (const IssuedLaunch& launch : IssuedLaunches())
        if (_wcsicmp(launch.credential.c_str(), credential.c_str()) == 0) ForgetLaunch(launch.id);
}

std::vector<TrustedOutcome> TrustedOutcomes(const std::vector<SignOnOutcome>& records,
                                            const std::vector<IssuedLaunch>& launches, long long now) {
    std::vector<TrustedOutcome> trusted;
    for (const SignOnOutcome& record : records) {
        if (!record.stamp.present || record.stamp.at > now + kClockSlack) continue;
        const std::wstring origin = Utf8ToWide(record.stamp.origin);
        for (const IssuedLaunch& launch : launches) {
            if (Utf8ToWide(record.attempt) != launch.id || record.stamp.at < launch.issued - kClockSlack) continue;
            if (std::find(launch.sites.begin(), launch.sites.end(), origin) == launch.sites.end()) continue;
            trusted.push_back({launch, record});
        }
    }
    return trusted;
}
