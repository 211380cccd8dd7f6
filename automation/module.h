// What every object of orkv14auto.dll shares: the module's object count, the
// core component (orkv14.dll beside this DLL, loaded as any host loads it)
// and the type library that serves IDispatch.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "orkv14.hpp"
#include "orkv14auto.h"

namespace kvauto {

using orkv14::Bstr;
using orkv14::Ptr;
using orkv14::Variant;

HMODULE Module();
// This DLL's full path (registration, the type library).
const wchar_t *ModulePath();

// Every object counts while it lives, and so does LockServer.
void Lock();
void Unlock();
LONG Locks();

// The core's class object. On failure the reason is in `why`.
HRESULT CoreFactory(Ptr<IClassFactory> &factory, std::string &why);

// The type description of an interface or class of the library; borrowed,
// valid while any object lives. Null when the library cannot be loaded.
ITypeInfo *TypeInfoOf(REFGUID guid);
// A member's DISPID by its name (any letter case), from the same description;
// script engines ask for it before every call.
bool DispIdOf(REFGUID guid, const wchar_t *name, DISPID *id);

} // namespace kvauto
