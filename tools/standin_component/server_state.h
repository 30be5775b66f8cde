// When the server ends. COM starts it for the first activation and keeps
// no hold on it; it ends by itself:
//   idle    no object alive and no lock held for IdleTimeoutMs (before the
//           first object at least kFirstActivationGraceMs, so that the
//           activation that started it can arrive);
//   orphan  no call at all for OrphanTimeoutMs while no call is running,
//           even with objects alive: their client may have died without
//           releasing them (0 turns this rule off).
// Staying alive between the calls of one client run matters under Wine: a
// cold start costs about a second, and a server process that gets the ids
// of an earlier one cannot be reached.
#pragma once

#include <windows.h>

#include "scenario.h"
#include "sync.h"

namespace standin {

constexpr DWORD kFirstActivationGraceMs = 2000;

class ServerState {
 public:
  ServerState();
  ServerState(const ServerState&) = delete;
  ServerState& operator=(const ServerState&) = delete;

  // Counts a new object; false once the server has decided to end.
  bool ObjectCreating(LONG& alive);
  // Counts an object's final release; returns the objects still alive.
  LONG ObjectDestroyed();
  void LockServer(bool lock);

  // Every call on the factory or an object, from its start to its end.
  void CallStarted();
  void CallEnded();

  // The reason to end now ("idle", "orphan") or null. Once it has given a
  // reason, no further object is created.
  const char* ExitReason(const ServerSettings& settings);
  LONG ObjectsAlive();

 private:
  void BecameIdleIfUnused(ULONGLONG now);

  CriticalSection section_;
  LONG objects_ = 0;
  LONG locks_ = 0;
  LONG callsRunning_ = 0;
  bool firstObjectSeen_ = false;
  bool ending_ = false;
  ULONGLONG idleSince_;
  ULONGLONG lastCall_;
};

ServerState& TheServer();

// CallStarted/CallEnded for one scope.
class CallScope {
 public:
  CallScope() { TheServer().CallStarted(); }
  ~CallScope() { TheServer().CallEnded(); }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
};

}  // namespace standin
