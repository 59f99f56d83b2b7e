// In-memory services and processes for the service restart: services change state as the
// system's would (started services may stay start pending for a while, services of an ended
// process may take a while to stop), and every action is written to a log.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vpn/system_services.h"

class FakeServiceControl : public ServiceControl {
 public:
  struct Service {
    uint32_t state = service_state::kStopped;
    uint32_t startType = 3;
    uint32_t processId = 0;
    // Status queries after a start that still answer start pending.
    int startPendingQueries = 0;
    // Set when its process has been ended: status queries still answering the old state.
    int stopDelayQueries = -1;
    bool failQuery = false;
    bool failStart = false;
  };

  std::unique_ptr<ServiceManager> OpenManager() override;
  void EnableDebugPrivilege() override { log.push_back("privilege"); }
  bool TerminateProcess(uint32_t processId) override;

  // The service as a test set it up; created when absent.
  Service& Add(const std::wstring& name, uint32_t state, uint32_t processId = 0);
  // Everything logged for `name`, in order ("start", "auto").
  std::vector<std::string> ActionsOn(const std::wstring& name) const;

  std::map<std::wstring, Service> services;
  // Manager opens that succeed before they start to fail; negative for no limit.
  int managerOpensLeft = -1;
  bool failEnumerate = false;
  // A terminated process whose services do not stop (a process the system protects).
  bool ignoreTerminate = false;
  // Status queries after the end of its process that a service still answers as before: the
  // process takes its time to go.
  int stopDelayQueries = 0;
  uint32_t nextProcessId = 5000;

  // "privilege", "terminate <pid>", "start <name>", "auto <name>".
  std::vector<std::string> log;
  int managerOpens = 0;
  int managersOpen = 0;
  int servicesOpen = 0;

  Service* Find(const std::wstring& name);
  // The state a query sees now; pending starts and stops move on by one query.
  static uint32_t Observe(Service& service);
};
