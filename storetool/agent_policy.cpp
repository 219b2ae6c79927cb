#include "storetool/agent_policy.h"

#include "common/unique_owner.h"

bool ReadAgentAtLogonSetting(SettingOrigin* origin) {
    int policy = 0;
    if (ReadPolicyInt(HKEY_LOCAL_MACHINE, kAgentPolicyValue, &policy)) {
        if (origin) *origin = SettingOrigin::Policy;
        return policy != 0;
    }
    unique_hkey run;
    const bool registered =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAgentRunKey, 0, KEY_QUERY_VALUE, run.put()) == ERROR_SUCCESS &&
        RegQueryValueExW(run.get(), kAgentRunValue, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    if (origin) *origin = registered ? SettingOrigin::ProductKey : SettingOrigin::Default;
    return registered;
}

bool AgentTurnedOffByPolicy() {
    int policy = 1;
    return ReadPolicyInt(HKEY_LOCAL_MACHINE, kAgentPolicyValue, &policy) && policy == 0;
}
