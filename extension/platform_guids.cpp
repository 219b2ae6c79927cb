// Interface identifiers that no library of the toolchain defines: the browser's and MSXML's that
// its uuid library lacks, and IVelnorIEExt's from the type library's IDL (DEFINE_GUID makes them
// "select any", so the server's own definitions of the same identity do not clash).
#include <initguid.h>

#include <dispex.h>
#include <msxml2.h>

#include "VelnorIELib.h"

// {2933BF95-7B36-11D2-B20E-00C04F983E60}
extern "C" const IID IID_IXMLDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
