#include "server_state.h"

#include <algorithm>

namespace standin {

ServerState::ServerState() : idleSince_(GetTickCount64()), lastCall_(idleSince_) {}

bool ServerState::ObjectCreating(LONG& alive) {
  Guard guard(section_);
  lastCall_ = GetTickCount64();
  if (ending_) return false;
  firstObjectSeen_ = true;
  alive = ++objects_;
  return true;
}

LONG ServerState::ObjectDestroyed() {
  Guard guard(section_);
  const LONG alive = --objects_;
  BecameIdleIfUnused(GetTickCount64());
  return alive;
}

void ServerState::LockServer(bool lock) {
  Guard guard(section_);
  if (lock) {
    ++locks_;
  } else if (locks_ > 0) {
    --locks_;
    BecameIdleIfUnused(GetTickCount64());
  }
}

void ServerState::CallStarted() {
  Guard guard(section_);
  ++callsRunning_;
  lastCall_ = GetTickCount64();
}

void ServerState::CallEnded() {
  Guard guard(section_);
  --callsRunning_;
  lastCall_ = GetTickCount64();
}

const char* ServerState::ExitReason(const ServerSettings& settings) {
  Guard guard(section_);
  if (ending_) return nullptr;
  const ULONGLONG now = GetTickCount64();
  const char* reason = nullptr;
  if (objects_ == 0 && locks_ == 0) {
    const DWORD wait =
        firstObjectSeen_ ? settings.idleTimeoutMs : std::max(settings.idleTimeoutMs, kFirstActivationGraceMs);
    if (now - idleSince_ >= wait) reason = "idle";
  }
  if (!reason && settings.orphanTimeoutMs != 0 && callsRunning_ == 0 && now - lastCall_ >= settings.orphanTimeoutMs) {
    reason = "orphan";
  }
  if (reason) ending_ = true;
  return reason;
}

LONG ServerState::ObjectsAlive() {
  Guard guard(section_);
  return objects_;
}

void ServerState::BecameIdleIfUnused(ULONGLONG now) {
  if (objects_ == 0 && locks_ == 0) idleSince_ = now;
}

ServerState& TheServer() {
  // Never destroyed: RPC threads may still release objects while the
  // process ends.
  static ServerState* const server = new ServerState;
  return *server;
}

}  // namespace standin
