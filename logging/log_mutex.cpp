#include "logging/log_mutex.h"

#include "common/object_security.h"
#include "common/process_context.h"

#include <windows.h>

namespace {

// Wait and release, nothing more.
constexpr DWORD kWaitAndRelease = SYNCHRONIZE | MUTEX_MODIFY_STATE;   // 0x100001

}  // namespace

std::wstring LogMutexSddl(bool inAppContainer, const std::wstring& userSid, const std::wstring& containerSid) {
    // 0x00100001: SYNCHRONIZE | MUTEX_MODIFY_STATE.
    if (!inAppContainer) return std::wstring(L"D:(A;;0x00100001;;;WD)") + kLowIntegrityLabelSddl;
    if (userSid.empty() || containerSid.empty()) return std::wstring();
    return L"D:" + SddlAce(kWaitAndRelease, userSid) + SddlAce(kWaitAndRelease, containerSid) +
           kLowIntegrityLabelSddl;
}

std::wstring LogMutexName(bool inAppContainer) {
    return inAppContainer ? L"Local\\Velnor#MWriteLog" : L"Global\\Velnor#MWriteLog";
}

std::wstring LogMutexSddl() {
    const ProcessContext& context = CurrentProcessContext();
    return LogMutexSddl(context.appContainer, CurrentUserSid(), context.appContainerSid);
}

