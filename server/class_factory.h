// The class object handed out by DllGetClassObject: IClassFactory over an instance creator,
// with the cached lifetime of the class table (the cache's own reference does not lock the
// module; every reference handed to a caller does).
#pragma once

#include "server/class_table.h"

// Creates a class object with one reference (the cache's) and queries it for iid.
HRESULT CreateCachedClassFactory(CreatorFunction instanceCreator, REFIID iid, void** out);
