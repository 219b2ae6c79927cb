// "--version": for inventory and for whoever supports a machine, the product's version, the file
// versions of both builds as installed, and every setting in force with where it came from
// (policy, the product's own key, or the default), so that a policy that did not arrive, or a
// value left in one registry view only, shows without a registry editor.
#include "common/product_version.h"
#include "storetool/agent_policy.h"
#include "storetool/catalog_source.h"
#include "storetool/commands.h"
#include "storetool/tool_output.h"

#include <windows.h>

#include <vector>

namespace {

// "major.minor.build.revision" of a file's fixed version information; empty without one.
std::wstring FileVersionOf(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return std::wstring();
    std::vector<BYTE> info(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoW(path.c_str(), 0, size, info.data()) ||
        !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed ||
        length < sizeof(*fixed))
        return std::wstring();
    return std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionMS)) +
           L"." + std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(fixed->dwFileVersionLS));
}

std::wstring Expanded(const wchar_t* text) {
    wchar_t buffer[MAX_PATH] = L"";
    const DWORD length = ExpandEnvironmentStringsW(text, buffer, MAX_PATH);
    return length > 0 && length <= MAX_PATH && buffer[0] != L'%' ? std::wstring(buffer) : std::wstring();
}

// Where the builds are looked for: beside this program (the package installs it with them),
// then the product folder under 64-bit Windows's Program Files, as the installer makes it.
std::vector<std::wstring> BuildFolders() {
    std::vector<std::wstring> folders;
    std::wstring own(32768, L'\0');
    own.resize(GetModuleFileNameW(nullptr, &own[0], static_cast<DWORD>(own.size())));
    const size_t slash = own.rfind(L'\\');
    if (slash != std::wstring::npos) folders.push_back(own.substr(0, slash));
    std::wstring programFiles = Expanded(L"%ProgramW6432%");
    if (programFiles.empty()) programFiles = Expanded(L"%ProgramFiles%");
    if (!programFiles.empty()) {
        const std::wstring product = programFiles + L"\\Zorvanti";
        if (folders.empty() || lstrcmpiW(folders[0].c_str(), product.c_str()) != 0) folders.push_back(product);
    }
    return folders;
}

std::string Origin(SettingOrigin origin, const char* productKey) {
    switch (origin) {
    case SettingOrigin::Policy: return "policy (HKLM\\SOFTWARE\\Policies\\Zorvanti\\VelnorIE)";
    case SettingOrigin::ProductKey: return std::string("product key (") + productKey + ")";
    default: return "default";
    }
}

void Setting(const char* name, const std::string& value, const std::string& origin) {
    std::string line = "  ";
    line += name;
    line.append(line.size() < 22 ? 22 - line.size() : 1, ' ');
    line += value;
    line.append(line.size() < 60 ? 60 - line.size() : 1, ' ');
    Out(line + origin + "\n");
}

std::string Portals(const std::vector<std::wstring>& portals) {
    if (portals.empty()) return "(none)";
    std::string joined;
    for (const std::wstring& portal : portals) joined += (joined.empty() ? "" : " ") + Narrow(portal);
    return joined;
}

// The DLL's settings as one build reads them: the product key is per registry view.
void BuildSettings(const char* build, REGSAM view, const char* productKey) {
    Out(std::string("settings in force for the ") + build + " build:\n");
    SettingOrigin origin = SettingOrigin::Default;
    const int level = ReadLogLevelSetting(&origin, view);
    Setting("LogLevel", std::to_string(level), Origin(origin, productKey));
    const bool isolation = ReadTemplateIsolationSetting(&origin, view);
    Setting("TemplateIsolation", isolation ? "1 (on)" : "0 (off)", Origin(origin, productKey));
    const std::vector<std::wstring> portals = ReadTrustedPortalsSetting(&origin, view);
    Setting("TrustedPortals", Portals(portals), Origin(origin, productKey));
}

int ShowVersion(const Arguments& arguments) {
    if (!arguments.empty()) return kWrongUse;
    Out("VelnorIE " + Narrow(kProductVersion) + "\n");
    const std::vector<std::wstring> folders = BuildFolders();
    for (const wchar_t* name : {L"VelnorIEx32.dll", L"VelnorIEx64.dll"}) {
        std::string line = "  " + Narrow(name) + "  ";
        bool found = false;
        for (const std::wstring& folder : folders) {
            const std::wstring path = folder + L"\\" + name;
            if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
            const std::wstring version = FileVersionOf(path);
            line += (version.empty() ? std::string("no version") : Narrow(version)) + "  " + Narrow(path);
            found = true;
            break;
        }
        if (!found) line += "not found";
        Out(line + "\n");
    }
    BuildSettings("32-bit", KEY_WOW64_32KEY, "HKLM\\SOFTWARE\\WOW6432Node\\Pellor");
    BuildSettings("64-bit", KEY_WOW64_64KEY, "HKLM\\SOFTWARE\\Pellor");

    Out("settings in force for the store tool:\n");
    std::wstring catalog;
    std::string source;
    if (LocateCatalog(L"", &catalog, &source))
        Setting("Catalog", Narrow(catalog), source == "policy, HKCU"
                                                ? "policy (HKCU\\SOFTWARE\\Policies\\Zorvanti\\VelnorIE)"
                                                : "policy (HKLM\\SOFTWARE\\Policies\\Zorvanti\\VelnorIE)");
    else
        Setting("Catalog", "(none)", "default");
    SettingOrigin origin = SettingOrigin::Default;
    const bool agent = ReadAgentAtLogonSetting(&origin);
    Setting("AgentAtLogon", agent ? "1 (yes)" : "0 (no)",
            Origin(origin, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run, VelnorSSOAgent"));
    return 0;
}

}  // namespace

const std::vector<ToolCommand>& VersionCommands() {
    static const std::vector<ToolCommand> commands = {
        {"--version", "  --version                          the version, both builds' files and the settings in force\n",
         "usage: VelnorSSOStore --version\n\n"
         "Prints the product's version, the file version and path of VelnorIEx32.dll and VelnorIEx64.dll\n"
         "(beside this program, else in Program Files\\Zorvanti), and every setting in force with where it\n"
         "came from: policy (HKLM\\SOFTWARE\\Policies\\Zorvanti\\VelnorIE, or HKCU for the catalog), the\n"
         "product key (HKLM\\SOFTWARE\\Pellor in each build's registry view), or the default.\n",
         [](const Arguments& a) { return ShowVersion(a); }},
    };
    return commands;
}
