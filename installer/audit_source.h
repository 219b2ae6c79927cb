// The Application log's event source of the product, as the installer registers it: its
// message table is the installed DLL's own (resources/VelnorIEEvents.mc), so Event Viewer and
// forwarded events show readable text. The Windows Installer package writes the same rows
// (installer/msi/event_source.wxi).
#pragma once

#include <string>

// Writes EventMessageFile (REG_EXPAND_SZ, `messageFile`) and TypesSupported (7: error, warning,
// information) under the source's key. True when both were written.
bool RegisterAuditSource(const std::wstring& messageFile);

// Deletes the source's key. Events written afterwards are still kept, without their text.
void UnregisterAuditSource();
