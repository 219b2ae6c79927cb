// The log writer's mutex, which serialises every process's appends to the shared log file: its
// name and the security it is made with, beside the writer that owns it. The functions with
// arguments are pure, so each case can be checked with the values given.
#pragma once

#include <string>

// The log mutex. Outside an AppContainer the machine-wide one: every user may wait on it and
// release it and nothing more. Inside, the container's own (its tabs write a log of their own):
// wait and release for the user and the container. Both with the low label; inside an
// AppContainer empty when either SID is empty.
std::wstring LogMutexSddl(bool inAppContainer, const std::wstring& userSid, const std::wstring& containerSid);
// "Global\Velnor#MWriteLog" outside an AppContainer; inside, the same name in the container's
// own namespace ("Local\" there), since the Global namespace is not the container's to create in.
std::wstring LogMutexName(bool inAppContainer);

// The descriptor for this process: its context, its user, its container.
std::wstring LogMutexSddl();
