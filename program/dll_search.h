// Where setup.exe looks for a DLL that is loaded by name while it runs.
#pragma once

namespace vantu {

// Confines the search for every DLL that this process loads by name from now
// on (by setup.exe itself, or by a Windows DLL on its behalf) to the system
// folder, and removes the current folder from the search. setup.exe runs with
// administrator rights from whatever folder it was started in (typically
// Downloads), and Windows looks in a program's own folder before the system
// folder: without this, a DLL dropped beside setup.exe under the name of one
// that is loaded at run time would run with those rights.
//
// Called first thing in main, and only there: a program that loads
// setup.exe to call its exports keeps its own search order. Best effort: on a
// Windows whose loader cannot do one of the two steps, the other still
// applies and the run goes on.
void RestrictDllSearchToSystemFolder();

}  // namespace vantu
