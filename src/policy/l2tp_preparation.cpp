#include "policy/l2tp_preparation.h"

void L2tpPreparation::Prepare(const std::function<bool()>& askRestart) {
  std::unique_ptr<RegistryKey> key = registry_.NewKey();
  if (key->Open(kRasManParametersKey) != registry::kSuccess) return;
  uint32_t value = 0;
  if (ReadDword(*key, kProhibitIpSecValue, value) == registry::kSuccess && value == 1) return;
  if (WriteDword(*key, kProhibitIpSecValue, 1) != registry::kSuccess) return;
  key.reset();
  // Vista and later (major version 6, and 10 for a program that declares Windows 10 support)
  // take the value without a restart; an unknown version is not put through one either.
  if (osMajorVersion_ == 0 || osMajorVersion_ >= kFirstVersionWithoutRestart) return;
  if (askRestart && askRestart()) runner_.RestartVpnRelatedServices();
}
