#include "templates/store_place.h"

#include "common/object_security.h"
#include "common/process_context.h"
#include "templates/template_store.h"

std::wstring StoreSectionSddl(const std::wstring& userSid, const std::wstring& containerSid) {
    if (userSid.empty()) return std::wstring();
    std::wstring sddl = L"D:(A;;GA;;;" + userSid + L")";
    if (!containerSid.empty()) sddl += SddlAce(kContainerSectionAccess, containerSid);
    return sddl + kLowIntegrityLabelSddl;
}

std::wstring StoreLockSddl(const std::wstring& userSid, const std::wstring& containerSid) {
    if (userSid.empty()) return std::wstring();
    std::wstring sddl = L"D:(A;;GA;;;" + userSid + L")";
    if (!containerSid.empty()) sddl += SddlAce(kContainerMutexAccess, containerSid);
    return sddl + kLowIntegrityLabelSddl;
}

std::wstring SessionObjectName(const wchar_t* name, bool inAppContainer, DWORD sessionId) {
    const std::wstring base = name ? name : L"";
    if (!inAppContainer) return L"Local\\" + base;
    return L"Session\\" + std::to_wstring(sessionId) + L"\\" + base;
}

std::wstring StoreAppContainerSid() {
    const ProcessContext& context = CurrentProcessContext();
    return context.appContainer ? context.appContainerSid : InternetExplorerAppContainerSid();
}

std::wstring SessionObjectSddl() {
    return StoreSectionSddl(CurrentUserSid(), StoreAppContainerSid());
}

StorePlace TemplateStorePlace(const StorePlaceInputs& inputs) {
    StorePlace place;
    place.sectionName = SessionObjectName(kTemplateStoreBaseName, inputs.appContainer, inputs.sessionId);
    place.lockName = SessionObjectName(kTemplateStoreLockBaseName, inputs.appContainer, inputs.sessionId);
    place.sectionSddl = StoreSectionSddl(inputs.userSid, inputs.containerSid);
    place.lockSddl = StoreLockSddl(inputs.userSid, inputs.containerSid);
    if (inputs.appContainer) {
        // "Local\" inside a container is the container's own namespace.
        place.fallbackSectionName = SessionObjectName(kTemplateStoreBaseName, false, 0);
        place.fallbackLockName = SessionObjectName(kTemplateStoreLockBaseName, false, 0);
        // Only what the objects grant a container: asking for more would be refused outright.
        place.sectionAccess = FILE_MAP_READ | FILE_MAP_WRITE;
        place.lockAccess = kContainerMutexAccess;
        place.createsSessionObjects = false;
    }
    return place;
}

StorePlaceInputs CurrentStorePlaceInputs() {
    const ProcessContext& context = CurrentProcessContext();
    StorePlaceInputs inputs;
    inputs.appContainer = context.appContainer;
    inputs.userSid = CurrentUserSid();
    inputs.containerSid = StoreAppContainerSid();
    inputs.sessionId = context.sessionId;
    return inputs;
}
