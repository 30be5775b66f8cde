// The component's class and its object: IDispatch written by hand, without
// a type library. GetIDsOfNames knows the nine "iAcpi" methods; Invoke
// checks the arguments against each method's parameter list, logs them and
// answers as scenario.ini says.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

namespace standin {

// The stand-in's class identifier, registered for "trelvoCom.axdata".
extern const CLSID kStandinClsid;
extern const wchar_t kStandinClsidText[];
extern const wchar_t kProgId[];

// The one class factory of the process; it lives as long as the process.
IClassFactory* TheClassFactory();

}  // namespace standin
