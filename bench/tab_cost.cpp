// What each tab pays for the extension object, as Internet Explorer times its add-ons: creating
// the object and giving it its site when a tab opens (load time), its handlers on each
// navigation (navigation time), leaving the tab, and answering a Basic challenge. Each against,
// in the same rounds, the least a Browser Helper Object of this kind does: an object that
// connects the browser's events and proffers IAuthenticate, and nothing else. Microseconds,
// best and median of the rounds, and the ratio of the bests; with a store of 0, 100 and 1,000
// templates, template isolation off and on, the log at level 0 and 2.
//
// The browser is the test browser host; the extension's code is the DLL's, linked from the same
// libraries. Both classes are reached through CoCreateInstance, their class objects registered
// with COM in this process: COM's registry lookup and the DLL's first load, the same for every
// add-on, are left out. A navigation is BeforeNavigate2, NavigateComplete2, DocumentComplete and
// the page timer's attempt, made by calling the timer callback the system calls, with the page
// answering at once; the content script's run is the host's (none), so it is excluded.
//
//   tab_cost.exe                  both log levels, each in a process of its own, then the steps
//   tab_cost.exe --log-level N    one level (LogLevel is read once per process)
//   tab_cost.exe --steps          where a tab's time goes: the steps of load and navigation,
//                                 each the code's own call, timed on its own
#include "common/com_object.h"
#include "common/com_ptr.h"
#include "common/module.h"
#include "common/object_security.h"
#include "common/process_context.h"
#include "common/unique_owner.h"
#include "extension/page_injection.h"
#include "extension/timer_map.h"
#include "extension/velnor_ie_ext.h"
#include "host/browser_host.h"
#include "logging/log_writer.h"
#include "logging/settings.h"
#include "server/class_factory.h"
#include "server/identity.h"
#include "templates/template_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// ---- the anchor: the least a Browser Helper Object of this kind does ----

// {0B7E4C59-2F61-4E8A-9D13-5C7A2E8F6B40}, this benchmark's own.
const CLSID CLSID_MinimalHelper = {0x0b7e4c59, 0x2f61, 0x4e8a, {0x9d, 0x13, 0x5c, 0x7a, 0x2e, 0x8f, 0x6b, 0x40}};

class CMinimalHelper final : public IObjectWithSite, public IServiceProvider, public IAuthenticate, public IDispatch {
public:
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** out) {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return CreateComObject([] { return new CMinimalHelper(); }, iid, out);
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        static const InterfaceEntry kInterfaces[] = {
            INTERFACE_ENTRY(CMinimalHelper, IID_IUnknown, IObjectWithSite),
            INTERFACE_ENTRY(CMinimalHelper, IID_IObjectWithSite, IObjectWithSite),
            INTERFACE_ENTRY(CMinimalHelper, IID_IServiceProvider, IServiceProvider),
            INTERFACE_ENTRY(CMinimalHelper, IID_IAuthenticate, IAuthenticate),
            INTERFACE_ENTRY(CMinimalHelper, IID_IDispatch, IDispatch),
            INTERFACE_ENTRY(CMinimalHelper, DIID_DWebBrowserEvents2, IDispatch),
        };
        return QueryInterfaceFromTable(this, kInterfaces, iid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refCount; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --m_refCount;
        if (count == 0) delete this;
        return count;
    }

    STDMETHODIMP SetSite(IUnknown* site) override {
        if (site) {
            RETURN_IF_FAILED(site->QueryInterface(IID_IWebBrowser2, m_browser.put_void()));
            ComPtr<IConnectionPointContainer> container;
            RETURN_IF_FAILED(m_browser.As(IID_IConnectionPointContainer, &container));
            RETURN_IF_FAILED(container->FindConnectionPoint(DIID_DWebBrowserEvents2, m_point.put()));
            RETURN_IF_FAILED(m_point->Advise(static_cast<IDispatch*>(this), &m_eventsCookie));
            ComPtr<IServiceProvider> provider;
            RETURN_IF_FAILED(m_browser.As(IID_IServiceProvider, &provider));
            RETURN_IF_FAILED(provider->QueryService(SID_SProfferService, IID_IProfferService, m_proffer.put_void()));
            return m_proffer->ProfferService(IID_IAuthenticate, static_cast<IServiceProvider*>(this), &m_serviceCookie);
        }
        if (m_point) m_point->Unadvise(m_eventsCookie);
        if (m_proffer) m_proffer->RevokeService(m_serviceCookie);
        m_point.reset();
        m_proffer.reset();
        m_browser.reset();
        return S_OK;
    }
    STDMETHODIMP GetSite(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return m_browser ? m_browser->QueryInterface(iid, out) : E_FAIL;
    }

    STDMETHODIMP QueryService(REFGUID, REFIID iid, void** out) override { return QueryInterface(iid, out); }

    // No credentials: the browser's window, for the browser's own prompt.
    STDMETHODIMP Authenticate(HWND* window, LPWSTR* userName, LPWSTR* password) override {
        if (window) *window = nullptr;
        SHANDLE_PTR handle = 0;
        if (window && m_browser && SUCCEEDED(m_browser->get_HWND(&handle))) *window = reinterpret_cast<HWND>(handle);
        return S_OK;
    }

    // The event sink: every event answered, none acted on.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return S_OK; }

private:
    CMinimalHelper() { LockModule(); }
    ~CMinimalHelper() { UnlockModule(); }

    ULONG m_refCount = 0;
    ComPtr<IWebBrowser2> m_browser;
    ComPtr<IConnectionPoint> m_point;
    ComPtr<IProfferService> m_proffer;
    DWORD m_eventsCookie = 0;
    DWORD m_serviceCookie = 0;
};

// ---- the store and the settings a scenario runs with ----

constexpr int kBasicEvery = 10;   // every tenth template signs on with Basic credentials
const wchar_t kPageUrl[] = L"https://site-5.example/login";

std::wstring TemplateUrl(int i) {
    return L"https://site-" + std::to_wstring(i) + L".example/login*";
}

std::wstring StoreText(int count) {
    std::wstring text = L"[";
    for (int i = 0; i < count; ++i) {
        const std::wstring n = std::to_wstring(i);
        text += (i ? L"," : L"") + std::wstring(L"{\"url\":\"") + TemplateUrl(i) + L"\",\"title\":\"Sign in " + n +
                L"\",\"elements\":[{\"find\":{\"type\":\"id\",\"value\":\"f" + n +
                L"\"},\"actions\":[{\"type\":\"text\",\"value\":\"value " + n + L"\"}]}";
        if (i % kBasicEvery == 5)
            text += L",{\"actions\":[{\"type\":\"httpBasicAuth\",\"username\":\"user" + n + L"\",\"password\":\"pw" + n + L"\"}]}";
        text += L"]}";
    }
    return count ? text + L"]" : std::wstring();
}

// The credentials text the content script hands over for that store (isolation off).
std::wstring HandedOverCredentials(int count) {
    std::wstring text;
    for (int i = 5; i < count; i += kBasicEvery) {
        const std::wstring n = std::to_wstring(i);
        text += (text.empty() ? L"" : L"\n") + TemplateUrl(i) + L"\ruser" + n + L"\rpw" + n;
    }
    return text;
}

void SetSetting(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    unique_hkey key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes);
}

void SetDword(const wchar_t* name, DWORD value) {
    SetSetting(name, REG_DWORD, &value, sizeof(value));
}

void DeleteSettings() {
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_WRITE, key.put()) != ERROR_SUCCESS) return;
    for (const wchar_t* name : {L"LogLevel", L"InstallPath", L"TemplateIsolation"}) RegDeleteValueW(key.get(), name);
}

std::wstring BenchFolder() {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"velnor-tab-cost";
}

// What the runs wrote there (the log and its rotated files, the steps' file).
void RemoveBenchFiles() {
    for (const std::wstring& folder : {BenchFolder() + L"\\logs\\", BenchFolder() + L"\\"}) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"*.*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) continue;
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((folder + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
}

// The log at `level`, into a folder of its own under the temporary folder.
void SetLogLevel(int level) {
    const std::wstring folder = BenchFolder();
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\logs").c_str(), nullptr);
    SetSetting(L"InstallPath", REG_SZ, folder.c_str(), static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
    SetDword(L"LogLevel", static_cast<DWORD>(level));
}

// ---- timing ----

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return double(f.QuadPart);
    }();
    return 1e6 * double(to.QuadPart - from.QuadPart) / frequency;
}

class Stopwatch {
public:
    Stopwatch() { QueryPerformanceCounter(&m_last); }
    // Microseconds since the last lap (or since the start).
    double Lap() {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        const double elapsed = Microseconds(m_last, now);
        m_last = now;
        return elapsed;
    }

private:
    LARGE_INTEGER m_last;
};

enum Phase { kCreate, kSetSite, kBeforeNavigate, kAuthenticate, kComplete, kAttempt, kUnload, kPhases };
const char* const kPhaseNames[kPhases] = {"CoCreateInstance", "SetSite", "BeforeNavigate2", "Authenticate",
                                          "NavigateComplete2+DocumentComplete", "page-timer attempt",
                                          "SetSite(null), release, page gone"};

struct Samples {
    std::vector<double> phase[kPhases];
    double Best(int p) const { return *std::min_element(phase[p].begin(), phase[p].end()); }
    double Median(int p) const {
        std::vector<double> sorted = phase[p];
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    // Sums of phases per round, best of the rounds.
    double BestSum(std::initializer_list<Phase> phases) const {
        double best = 1e30;
        for (size_t r = 0; r < phase[0].size(); ++r) {
            double sum = 0;
            for (Phase p : phases) sum += phase[p][r];
            best = std::min(best, sum);
        }
        return best;
    }
};

// One tab of one class on `browser`: opened, one navigation with a Basic challenge during it,
// closed; each phase's microseconds added to `samples`. `credentials` is what the content
// script of the previous page handed over (isolation off).
void RunTab(REFCLSID clsid, host::FakeBrowser& browser, const std::wstring& credentials, Samples& samples) {
    browser.calls.clear();
    browser.document->window.invokes.clear();
    browser.document->window.getDispIdFlags.clear();
    double times[kPhases] = {};
    Stopwatch watch;
    ComPtr<IObjectWithSite> site;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IObjectWithSite, site.put_void());
    times[kCreate] = watch.Lap();
    site->SetSite(browser.Site());
    times[kSetSite] = watch.Lap();

    CVelnorIEExt* extension = nullptr;
    if (IsEqualCLSID(clsid, CLSID_VelnorIEExt)) {
        ComPtr<IVelnorIEExt> object;
        site.As(IID_IVelnorIEExt, &object);
        extension = static_cast<CVelnorIEExt*>(object.get());
        unique_bstr text(SysAllocString(credentials.c_str()));
        if (!credentials.empty()) extension->put_AuthCreds(text.get());
        watch.Lap();
    }

    browser.FireBeforeNavigate2(kPageUrl);
    times[kBeforeNavigate] = watch.Lap();
    {
        ComPtr<IAuthenticate> authenticate;
        if (IServiceProvider* provider = browser.ProfferedProvider())
            provider->QueryService(IID_IAuthenticate, IID_IAuthenticate, authenticate.put_void());
        HWND window = nullptr;
        LPWSTR userName = nullptr, password = nullptr;
        if (authenticate) authenticate->Authenticate(&window, &userName, &password);
        CoTaskMemFree(userName);
        CoTaskMemFree(password);
    }
    times[kAuthenticate] = watch.Lap();
    browser.FireNavigateComplete2(kPageUrl);
    browser.FireDocumentComplete(kPageUrl);
    times[kComplete] = watch.Lap();
    if (extension) {
        // The page timer fires once a second; its attempt is timed, not the wait.
        const std::vector<UINT_PTR> timers = extension->TimerIds();
        for (UINT_PTR timer : timers) CVelnorIEExt::OnUpdate(nullptr, WM_TIMER, timer, GetTickCount());
    }
    times[kAttempt] = watch.Lap();

    // Leaving: the site cleared, the browser's reference released, and the page torn down, which
    // releases the window.VelnorIEExt it was given (the object's last reference).
    site->SetSite(nullptr);
    site.reset();
    browser.document->window.properties.clear();
    times[kUnload] = watch.Lap();
    for (int p = 0; p < kPhases; ++p) samples.phase[p].push_back(times[p]);
}

struct Scenario {
    int templates;
    bool isolation;
};

void PrintBreakdown(const Samples& ours, const Samples& anchor) {
    printf("  %-36s %10s %10s %10s %10s %8s\n", "phase", "best us", "median us", "anchor", "median", "ratio");
    for (int p = 0; p < kPhases; ++p)
        printf("  %-36s %10.1f %10.1f %10.1f %10.1f %8.1f\n", kPhaseNames[p], ours.Best(p), ours.Median(p),
               anchor.Best(p), anchor.Median(p), ours.Best(p) / std::max(anchor.Best(p), 0.01));
}

int RunLevel(int level) {
    SetLogLevel(level);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ComPtr<IUnknown> ourFactory, anchorFactory;
    DllGetClassObject(CLSID_VelnorIEExt, IID_IUnknown, ourFactory.put_void());
    CreateCachedClassFactory(&CMinimalHelper::CreateInstance, IID_IUnknown, anchorFactory.put_void());
    DWORD ourCookie = 0, anchorCookie = 0;
    if (FAILED(CoRegisterClassObject(CLSID_VelnorIEExt, ourFactory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                     &ourCookie)) ||
        FAILED(CoRegisterClassObject(CLSID_MinimalHelper, anchorFactory.get(), CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &anchorCookie))) {
        fprintf(stderr, "tab_cost: the class objects could not be registered\n");
        return 1;
    }

    host::FakeDocument document;
    document.title = L"Sign in";
    document.url = kPageUrl;
    document.window.keepScripts = false;
    host::FakeBrowser browser;
    browser.document = &document;
    // A preparer of the session holds the store, as VelnorSSOStore hold does.
    TemplateStore store(TemplateStore::Mode::kCreateOrOpen);

    printf("== LogLevel %d\n", level);
    {
        // The first tab of a browser process also reads what the process keeps (settings, where
        // it runs, the store's names): one sample each.
        Samples first, firstAnchor;
        RunTab(CLSID_VelnorIEExt, browser, L"", first);
        RunTab(CLSID_MinimalHelper, browser, L"", firstAnchor);
        printf("first tab of the process: load %.1f us (anchor %.1f us), navigation %.1f us (anchor %.1f us)\n",
               first.BestSum({kCreate, kSetSite}), firstAnchor.BestSum({kCreate, kSetSite}),
               first.BestSum({kBeforeNavigate, kComplete, kAttempt}),
               firstAnchor.BestSum({kBeforeNavigate, kComplete, kAttempt}));
    }

    const int rounds = 200;
    printf("%-9s %-9s | %9s %9s %6s | %9s %9s %6s | %9s %9s %6s | %9s %9s %6s   (us, best of %d)\n", "templates",
           "isolation", "load", "anchor", "ratio", "navigate", "anchor", "ratio", "leave", "anchor", "ratio", "auth",
           "anchor", "ratio", rounds);
    const Scenario scenarios[] = {{0, false}, {100, false}, {1000, false}, {0, true}, {100, true}, {1000, true}};
    for (const Scenario& scenario : scenarios) {
        SetDword(L"TemplateIsolation", scenario.isolation ? 1 : 0);
        {
            TemplateStore::View view = store.Access();
            if (view) view.WriteText(StoreText(scenario.templates).c_str());
        }
        const std::wstring credentials = scenario.isolation ? std::wstring() : HandedOverCredentials(scenario.templates);
        Samples ours, anchor;
        for (int round = 0; round < rounds; ++round) {
            RunTab(CLSID_VelnorIEExt, browser, credentials, ours);
            RunTab(CLSID_MinimalHelper, browser, credentials, anchor);
        }
        const double load[2] = {ours.BestSum({kCreate, kSetSite}), anchor.BestSum({kCreate, kSetSite})};
        const double navigate[2] = {ours.BestSum({kBeforeNavigate, kComplete, kAttempt}),
                                    anchor.BestSum({kBeforeNavigate, kComplete, kAttempt})};
        printf("%-9d %-9s | %9.1f %9.1f %6.1f | %9.1f %9.1f %6.1f | %9.1f %9.1f %6.1f | %9.1f %9.1f %6.1f\n",
               scenario.templates, scenario.isolation ? "on" : "off", load[0], load[1], load[0] / load[1], navigate[0],
               navigate[1], navigate[0] / navigate[1], ours.Best(kUnload), anchor.Best(kUnload),
               ours.Best(kUnload) / anchor.Best(kUnload), ours.Best(kAuthenticate), anchor.Best(kAuthenticate),
               ours.Best(kAuthenticate) / anchor.Best(kAuthenticate));
        if (scenario.templates == 0 && !scenario.isolation) PrintBreakdown(ours, anchor);
    }
    {
        TemplateStore::View view = store.Access();
        if (view) view.WriteText(L"");
    }
    if (IsLogLevel(2)) {
        double best = 1e30;
        for (int round = 0; round < rounds; ++round) {
            Stopwatch watch;
            LogExt(L"CVelnorIEExt::OnDocumentComplete() -> start object");
            best = std::min(best, watch.Lap());
        }
        printf("one trace line written: %.1f us (best of %d)\n", best, rounds);
    }
    CoRevokeClassObject(ourCookie);
    CoRevokeClassObject(anchorCookie);
    DeleteSettings();
    RemoveBenchFiles();
    CoUninitialize();
    return 0;
}

// ---- where the time goes ----

// Prints the first call's microseconds (what the first tab of a process pays) and the best of
// the rounds.
template <typename Step>
void PrintStep(const std::string& what, int rounds, Step step) {
    double first = 0, best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        Stopwatch watch;
        step();
        const double elapsed = watch.Lap();
        if (round == 0) first = elapsed;
        best = std::min(best, elapsed);
    }
    printf("  %-74s %10.1f %10.1f\n", what.c_str(), first, best);
}

int RunSteps() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CreateDirectoryW(BenchFolder().c_str(), nullptr);
    const int rounds = 500;
    printf("== where a tab's time goes (LogLevel 0, x%d; us)\n", int(sizeof(void*) * 8));
    printf("  %-74s %10s %10s\n", "step", "first call", "best");
    printf("load, once per process (what the first tab pays besides):\n");
    PrintStep("where the process runs, read from its token", rounds, [] { CurrentProcessContext(); });
    PrintStep("  userenv.dll loaded from the system folder, as that derivation does", rounds, [] {
        wchar_t path[MAX_PATH] = L"";
        GetSystemDirectoryW(path, MAX_PATH);
        LoadLibraryExW((std::wstring(path) + L"\\userenv.dll").c_str(), nullptr, 0);
    });
    PrintStep("Internet Explorer's AppContainer SID derived (userenv.dll already loaded)", rounds,
              [] { InternetExplorerAppContainerSid(); });
    TemplateStore held(TemplateStore::Mode::kCreateOrOpen);
    host::FakeDocument document;
    document.url = kPageUrl;
    document.window.keepScripts = false;
    host::FakeBrowser browser;
    browser.document = &document;
    // What the first call of each step pays is printed too: the steps run in a process of their
    // own, in the order a tab makes them, so the script's text is read here only by size.
    HRSRC resource = FindResourceW(g_moduleInstance, MAKEINTRESOURCEW(kContentScriptId), kContentScriptType);
    const std::string script(static_cast<const char*>(LockResource(LoadResource(g_moduleInstance, resource))),
                             SizeofResource(g_moduleInstance, resource));

    printf("load, in the object's constructor:\n");
    PrintStep("TemplateIsolation read from the registry", rounds, [] { ReadTemplateIsolationSetting(); });
    PrintStep("the store opened: lock, section, both owners checked", rounds,
              [] { TemplateStore store(TemplateStore::Mode::kCreateOrOpen); });
    PrintStep("  the user's SID, as the owner checks ask for it", rounds, [] { CurrentUserSid(); });
    ComPtr<IVelnorIEExt> object;
    CVelnorIEExt::CreateInstance(nullptr, IID_IVelnorIEExt, object.put_void());
    CVelnorIEExt* extension = static_cast<CVelnorIEExt*>(object.get());
    ComPtr<IObjectWithSite> site;
    object.As(IID_IObjectWithSite, &site);
    site->SetSite(browser.Site());
    printf("navigation, DocumentComplete:\n");
    PrintStep("the document's title and URL read", rounds, [&] {
        std::wstring title, url;
        ReadDocumentInfo(browser.Browser(), title, url);
    });
    PrintStep("a page timer started and registered, then removed", rounds, [] {
        const UINT_PTR timer = SetTimer(nullptr, 0, 1000, &CVelnorIEExt::OnUpdate);
        TimerMapInsert(timer, nullptr);
        TimerMapRemove(timer);
        KillTimer(nullptr, timer);
    });
    printf("navigation, the page timer's attempt:\n");
    {
        double first = 0, best = 1e30;
        for (int round = 0; round < rounds; ++round) {
            browser.FireDocumentComplete(kPageUrl);
            const std::vector<UINT_PTR> timers = extension->TimerIds();
            Stopwatch watch;
            for (UINT_PTR timer : timers) CVelnorIEExt::OnUpdate(nullptr, WM_TIMER, timer, GetTickCount());
            const double elapsed = watch.Lap();
            if (round == 0) first = elapsed;
            best = std::min(best, elapsed);
        }
        printf("  %-74s %10.1f %10.1f\n", "the whole attempt (OnUpdate)", first, best);
    }
    PrintStep("the page's binding made", rounds, [&] {
        ComPtr<IVelnorIEExt> binding;
        extension->CreatePageBinding(binding.put());
    });
    PrintStep("the script widened from the module's image into its BSTR (" + std::to_string(script.size()) +
                  " bytes)", rounds, [] { LoadScriptText(g_moduleInstance); });
    printf("Authenticate, reading Templates (each one operation on the store):\n");
    PrintStep("the store's lock taken, the section mapped, unmapped, released", rounds, [&] {
        TemplateStore::View view = held.Access();
    });
    printf("what the system charges for calls of these kinds (no code of the product):\n");
    unique_handle mutex(CreateMutexW(nullptr, FALSE, nullptr));
    unique_handle section(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kTemplateStoreSize, nullptr));
    PrintStep("a mutex waited for and released", rounds, [&] {
        WaitForSingleObject(mutex.get(), INFINITE);
        ReleaseMutex(mutex.get());
    });
    PrintStep("a 1 MiB section mapped and unmapped", rounds,
              [&] { unique_mapview view(MapViewOfFile(section.get(), FILE_MAP_ALL_ACCESS, 0, 0, kTemplateStoreSize)); });
    PrintStep("a registry key opened, a value read, the key closed", rounds, [] {
        unique_hkey key;
        DWORD value = 0, size = sizeof(value);
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS)
            RegQueryValueExW(key.get(), L"TemplateIsolation", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    });
    PrintStep("a file opened for appending, a line written, the file closed", rounds, [] {
        unique_file file(CreateFileW((BenchFolder() + L"\\steps.txt").c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        WriteFile(file.get(), "a trace line\r\n", 14, &written, nullptr);
    });
    PrintStep("80 KB allocated, written and freed", rounds, [] {
        std::vector<wchar_t> block(40 * 1024, L'x');
    });
    site->SetSite(nullptr);
    RemoveBenchFiles();
    CoUninitialize();
    return 0;
}

// Each level in a process of its own: the log level is read once per process.
int RunEachLevel(const wchar_t* self) {
    for (int level : {0, 2}) {
        fflush(stdout);
        std::wstring command = L"\"" + std::wstring(self) + L"\" --log-level " + std::to_wstring(level);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
            fprintf(stderr, "tab_cost: cannot start %ls\n", self);
            return 1;
        }
        unique_handle thread(process.hThread), child(process.hProcess);
        WaitForSingleObject(child.get(), INFINITE);
        DWORD exitCode = 1;
        GetExitCodeProcess(child.get(), &exitCode);
        if (exitCode != 0) return static_cast<int>(exitCode);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    g_moduleInstance = GetModuleHandleW(nullptr);
    if (argc == 3 && std::wstring(argv[1]) == L"--log-level") return RunLevel(_wtoi(argv[2]));
    if (argc == 2 && std::wstring(argv[1]) == L"--steps") return RunSteps();
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (const int failed = RunEachLevel(self)) return failed;
    return RunSteps();
}
