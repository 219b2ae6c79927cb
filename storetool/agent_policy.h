// Whether the agent starts at logon: the policy value AgentAtLogon (REG_DWORD) under
// HKLM\SOFTWARE\Policies\Zorvanti\VelnorIE first, then the product's own registration (the Run
// value VelnorSSOAgent that "agent --install" and the package's AGENT=1 write), else no. The
// policy's template starts the agent through Windows' own logon list of policy
// (...\Policies\Explorer\Run), which Group Policy removes with the GPO; the policy disabled keeps
// the agent from running at all, whatever registration is installed.
#pragma once

#include "logging/settings.h"

constexpr wchar_t kAgentRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kAgentRunValue[] = L"VelnorSSOAgent";
constexpr wchar_t kAgentPolicyValue[] = L"AgentAtLogon";

bool ReadAgentAtLogonSetting(SettingOrigin* origin = nullptr);

// The policy says 0: "agent --run" ends at once.
bool AgentTurnedOffByPolicy();
