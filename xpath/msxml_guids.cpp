// MSXML's interface identifiers that the toolchain's uuid library lacks.
#include <msxml2.h>

// {2933BF95-7B36-11D2-B20E-00C04F983E60}
extern "C" const IID IID_IXMLDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
