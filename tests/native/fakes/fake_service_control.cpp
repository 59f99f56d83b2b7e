#include "fakes/fake_service_control.h"

#include "base/text.h"

namespace {

class FakeService : public ServiceHandle {
 public:
  FakeService(FakeServiceControl& control, std::wstring name)
      : control_(control), name_(std::move(name)) {
    ++control_.servicesOpen;
  }
  ~FakeService() override { --control_.servicesOpen; }

  bool QueryStatus(ServiceStatus& status) override {
    FakeServiceControl::Service* service = control_.Find(name_);
    if (!service || service->failQuery) return false;
    status = ServiceStatus{};
    status.currentState = FakeServiceControl::Observe(*service);
    status.processId = service->processId;
    return true;
  }

  bool QueryStartType(uint32_t& startType) override {
    FakeServiceControl::Service* service = control_.Find(name_);
    if (!service) return false;
    startType = service->startType;
    return true;
  }

  bool ChangeStartType(uint32_t startType) override {
    FakeServiceControl::Service* service = control_.Find(name_);
    if (!service) return false;
    service->startType = startType;
    if (startType == service_start::kAutomatic) control_.log.push_back("auto " + WideToUtf8(name_));
    return true;
  }

  bool Start() override {
    FakeServiceControl::Service* service = control_.Find(name_);
    if (!service || service->failStart || service->startType == service_start::kDisabled ||
        service->state != service_state::kStopped) {
      return false;
    }
    control_.log.push_back("start " + WideToUtf8(name_));
    service->state = service_state::kStartPending;
    service->processId = control_.nextProcessId++;
    return true;
  }

 private:
  FakeServiceControl& control_;
  std::wstring name_;
};

class FakeManager : public ServiceManager {
 public:
  explicit FakeManager(FakeServiceControl& control) : control_(control) {
    ++control_.managersOpen;
  }
  ~FakeManager() override { --control_.managersOpen; }

  std::unique_ptr<ServiceHandle> Open(const std::wstring& name) override {
    for (const auto& [known, service] : control_.services) {
      if (EqualsNoCase(known, name)) return std::make_unique<FakeService>(control_, known);
    }
    return nullptr;
  }

  bool EnumerateServices(ServiceSnapshot& snapshot) override {
    if (control_.failEnumerate) return false;
    snapshot.clear();
    for (auto& [name, service] : control_.services) {
      ServiceSnapshotEntry entry;
      entry.serviceName = name;
      entry.displayName = name + L" service";
      entry.status.currentState = FakeServiceControl::Observe(service);
      entry.status.processId = service.processId;
      snapshot.push_back(entry);
    }
    return true;
  }

 private:
  FakeServiceControl& control_;
};

}  // namespace

std::unique_ptr<ServiceManager> FakeServiceControl::OpenManager() {
  if (managerOpensLeft == 0) return nullptr;
  if (managerOpensLeft > 0) --managerOpensLeft;
  ++managerOpens;
  return std::make_unique<FakeManager>(*this);
}

bool FakeServiceControl::TerminateProcess(uint32_t processId) {
  log.push_back("terminate " + std::to_string(processId));
  if (ignoreTerminate) return false;
  for (auto& [name, service] : services) {
    if (service.processId != processId) continue;
    service.processId = 0;
    service.stopDelayQueries = stopDelayQueries;
  }
  return true;
}

FakeServiceControl::Service& FakeServiceControl::Add(const std::wstring& name, uint32_t state,
                                                     uint32_t processId) {
  Service& service = services[name];
  service.state = state;
  service.processId = processId;
  return service;
}

uint32_t FakeServiceControl::Observe(Service& service) {
  if (service.state == service_state::kStartPending && service.startPendingQueries-- <= 0) {
    service.state = service_state::kRunning;
  }
  if (service.stopDelayQueries >= 0 && service.stopDelayQueries-- == 0) {
    service.state = service_state::kStopped;
  }
  return service.state;
}

FakeServiceControl::Service* FakeServiceControl::Find(const std::wstring& name) {
  auto it = services.find(name);
  return it == services.end() ? nullptr : &it->second;
}

std::vector<std::string> FakeServiceControl::ActionsOn(const std::wstring& name) const {
  const std::string suffix = " " + WideToUtf8(name);
  std::vector<std::string> actions;
  for (const std::string& line : log) {
    const size_t space = line.find(' ');
    if (space != std::string::npos && line.substr(space) == suffix) {
      actions.push_back(line.substr(0, space));
    }
  }
  return actions;
}
