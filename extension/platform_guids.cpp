// Interface identifiers that no library of the toolchain defines: the browser's that its uuid
// library lacks, and IVelnorIEExt's from the type library's IDL (DEFINE_GUID makes them "select
// any", so the server's own definitions of the same identity do not clash).
#include <initguid.h>

#include <dispex.h>

#include "VelnorIELib.h"
