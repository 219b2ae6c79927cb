// The product's version, as the DLLs' version resource (resources/VelnorIE.rc), the uninstall
// entry and the Windows Installer package (tools/dist.sh) give it; the store tool's --version
// shows it beside the files' own versions, so that a drift between them shows there.
#pragma once

constexpr wchar_t kProductVersion[] = L"1.0.0.1";
