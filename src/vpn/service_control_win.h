// ServiceControl over the system's service control manager and process list.
#pragma once

#include "vpn/system_services.h"

class ScmServiceControl : public ServiceControl {
 public:
  std::unique_ptr<ServiceManager> OpenManager() override;
  void EnableDebugPrivilege() override;
  bool TerminateProcess(uint32_t processId) override;
};

// The process's service control; it keeps no state, so every thread may share it.
ServiceControl& SystemServiceControl();
