// The agent: keeps the template store open for the whole logon session, so that what "launch"
// prepares survives while no browser runs. One per session, without a console window, until
// logoff; "agent --install" starts it for every user at logon (HKLM Run).
#include "common/object_security.h"
#include "common/process_launch.h"
#include "common/text.h"
#include "common/unique_owner.h"
#include "storetool/agent_policy.h"
#include "storetool/commands.h"
#include "storetool/sign_on_refusals.h"
#include "storetool/tool_output.h"
#include "templates/template_store.h"

#include <windows.h>

namespace {

constexpr wchar_t kAgentMutexName[] = L"Local\\VelnorSSOAgent";
constexpr wchar_t kAgentStopName[] = L"Local\\VelnorSSOAgent.Stop";
constexpr wchar_t kWindowClass[] = L"VelnorSSOAgentWindow";
constexpr DWORD kRefusalLookMs = 5000;

std::wstring OwnPath() {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    return path;
}

// The agent's named objects are the user's alone, checked as the store's are: another user of
// the session who made them first could make "agent" believe one runs while nothing holds the
// store, or stop the agent. Such an object is refused, naming it.
const char kSquatted[] = " belongs to another user of this session; the agent is not used. Sign that user out "
                         "(or restart this session) so that the name is free\n";

enum class AgentPresence { kNone, kRuns, kSquatted };

AgentPresence FindAgent() {
    unique_handle mutex(OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, kAgentMutexName));
    if (!mutex) return GetLastError() == ERROR_ACCESS_DENIED ? AgentPresence::kSquatted : AgentPresence::kNone;
    return IsOwnedByUserOrSystem(mutex.get()) ? AgentPresence::kRuns : AgentPresence::kSquatted;
}

bool AgentRuns() { return FindAgent() == AgentPresence::kRuns; }

// A named object of the agent's, made only for this user, or opened when it is this user's.
HANDLE CreateAgentObject(const wchar_t* name, bool event, bool* existed, bool* squatted) {
    ObjectSecurity security;
    security.FromSddl(PrivateObjectSddl(CurrentUserSid()));
    HANDLE object = event ? CreateEventW(security.attributes(), TRUE, FALSE, name)
                          : CreateMutexW(security.attributes(), FALSE, name);
    *existed = object && GetLastError() == ERROR_ALREADY_EXISTS;
    *squatted = (!object && GetLastError() == ERROR_ACCESS_DENIED) || (*existed && !IsOwnedByUserOrSystem(object));
    return object;
}

LRESULT CALLBACK AgentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The session ends: the store goes with the session anyway; end cleanly rather than be killed.
    if (message == WM_QUERYENDSESSION) return TRUE;
    if (message == WM_ENDSESSION && wParam) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

// The agent itself, started detached from any console.
int RunAgent() {
    if (AgentTurnedOffByPolicy()) return 0;
    // Created before anything else: it is what makes a second agent of the session give way.
    bool existed = false, squatted = false;
    unique_handle instance(CreateAgentObject(kAgentMutexName, false, &existed, &squatted));
    if (squatted) {
        Err(Narrow(kAgentMutexName) + kSquatted);
        return 1;
    }
    if (!instance || existed) return 0;
    unique_handle stop(CreateAgentObject(kAgentStopName, true, &existed, &squatted));
    if (squatted || existed) {
        Err(Narrow(kAgentStopName) + kSquatted);
        return 1;
    }
    const TemplateStore store(TemplateStore::Mode::kCreateOrOpen);
    if (!store.is_open()) return 1;
    FreeConsole();

    // A hidden top-level window, for the end-of-session messages; where there is no desktop to
    // make one on, the agent lives on until it is stopped or the session ends.
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = AgentWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, kWindowClass, L"VelnorSSOAgent", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    HANDLE waits[] = {stop.get()};
    for (;;) {
        // Between messages it looks at the store for sign-ons the sites refused: a refusal is
        // noted even when no launch waited for it, so that no later launch types that password.
        const DWORD woken = MsgWaitForMultipleObjects(stop ? 1 : 0, waits, FALSE, kRefusalLookMs, QS_ALLINPUT);
        if (stop && woken == WAIT_OBJECT_0) break;
        if (woken == WAIT_TIMEOUT) {
            NoteRefusalsInStore(store);
            continue;
        }
        MSG message;
        bool quit = false;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) quit = true;
            DispatchMessageW(&message);
        }
        if (quit) break;
    }
    if (window) DestroyWindow(window);
    return 0;
}

// Starts the agent detached (no console, so closing the window it was started from does not end
// it) and waits until it holds the store.
int StartAgent() {
    switch (FindAgent()) {
        case AgentPresence::kRuns:
            Out("the agent already runs in this session\n");
            return 0;
        case AgentPresence::kSquatted:
            Err(Narrow(kAgentMutexName) + kSquatted);
            return 1;
        case AgentPresence::kNone:
            break;
    }
    const std::wstring path = OwnPath();
    std::wstring commandLine = L"\"" + path + L"\" agent --run";
    StartedProgram started;
    DWORD error = 0;
    if (!StartProgram(path.c_str(), commandLine, DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, &started, &error)) {
        Err("the agent could not be started (error " + std::to_string(error) + ")\n");
        return 1;
    }
    const unique_handle& child = started.process;
    for (int i = 0; i < 200; ++i) {
        if (AgentRuns() && TemplateStore::Exists()) {
            Out("the agent holds the template store for this logon session (process " +
                std::to_string(started.processId) + ")\n");
            return 0;
        }
        if (WaitForSingleObject(child.get(), 50) == WAIT_OBJECT_0) {
            DWORD code = 1;
            GetExitCodeProcess(child.get(), &code);
            if (code == 0) {
                // Another agent started at the same moment and won.
                Out("the agent already runs in this session\n");
                return 0;
            }
            if (FindAgent() == AgentPresence::kSquatted) {
                Err(Narrow(kAgentMutexName) + kSquatted);
                return 1;
            }
            Err("the agent could not start: its stop event or the template store could not be made\n");
            return 1;
        }
    }
    Err("the agent did not start within 10 seconds\n");
    return 1;
}

int StopAgent() {
    unique_handle stop(OpenEventW(EVENT_MODIFY_STATE | READ_CONTROL, FALSE, kAgentStopName));
    if (!stop) {
        Out("no agent runs in this session\n");
        return 0;
    }
    if (!IsOwnedByUserOrSystem(stop.get())) {
        Err(Narrow(kAgentStopName) + kSquatted);
        return 1;
    }
    SetEvent(stop.get());
    for (int i = 0; i < 100 && AgentRuns(); ++i) Sleep(50);
    Out("the agent of this session was stopped\n");
    return 0;
}

int Install() {
    const std::wstring path = OwnPath();
    const std::wstring command = L"\"" + path + L"\" agent --run";
    unique_hkey key;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAgentRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key.get(), kAgentRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) {
        Err("the agent could not be registered (error " + std::to_string(status) +
            (status == ERROR_ACCESS_DENIED ? ": run this as an administrator" : "") + ")\n");
        return 1;
    }
    Out("the agent starts at every user's logon: HKLM\\" + Narrow(kAgentRunKey) + " " + Narrow(kAgentRunValue) + " = " +
        Narrow(command) + "\n");
    return 0;
}

int Uninstall() {
    unique_hkey key;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAgentRunKey, 0, KEY_SET_VALUE, key.put());
    if (status == ERROR_SUCCESS) status = RegDeleteValueW(key.get(), kAgentRunValue);
    if (status == ERROR_FILE_NOT_FOUND) {
        Out("the agent was not registered to start at logon\n");
        return 0;
    }
    if (status != ERROR_SUCCESS) {
        Err("the agent's registration could not be removed (error " + std::to_string(status) +
            (status == ERROR_ACCESS_DENIED ? ": run this as an administrator" : "") + ")\n");
        return 1;
    }
    Out("the agent no longer starts at logon (a running agent stays until logoff or agent --stop)\n");
    return 0;
}

int Agent(const Arguments& arguments) {
    if (arguments.empty()) return StartAgent();
    if (arguments.size() != 1) return kWrongUse;
    if (arguments[0] == L"--run") return RunAgent();
    if (arguments[0] == L"--stop") return StopAgent();
    if (arguments[0] == L"--install") return Install();
    if (arguments[0] == L"--uninstall") return Uninstall();
    return kWrongUse;
}

}  // namespace

const std::vector<ToolCommand>& AgentCommands() {
    static const std::vector<ToolCommand> commands = {
        {"agent",
         "  agent [--install | --uninstall | --stop]\n"
         "                         keep the store open for the logon session, without a window\n",
         "usage: VelnorSSOStore agent [--install | --uninstall | --stop]\n\n"
         "Starts the agent, which keeps the template store open for this logon session until\n"
         "logoff, with no console window, so that sign-ons prepared by \"launch\" wait for their\n"
         "page while no browser runs. One agent per session: when one runs already, this says so\n"
         "and exits 0.\n"
         "--install    starts the agent at every user's logon (HKLM ...\\CurrentVersion\\Run, value\n"
         "             VelnorSSOAgent: this program with \"agent --run\"); needs an administrator\n"
         "--uninstall  removes that registration\n"
         "--stop       ends the agent of this session\n"
         "(\"agent --run\" is the agent itself, as the logon registration starts it.)\n",
         Agent},
    };
    return commands;
}
