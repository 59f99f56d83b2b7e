#include "policy/l2tp_preparation.h"

void L2tpPreparation::Prepare(const std::function<bool()>& askRestart) {
  std::unique_ptr<RegistryKey> key = registry_.NewKey();
  if (key->Open(kRasManParametersKey) != registry::kSuccess) return;
  uint32_t value = 0;
  if (ReadDword(*key, kProhibitIpSecValue, value) == registry::kSuccess && value == 1) return;
  if (WriteDword(*key, kProhibitIpSecValue, 1) != registry::kSuccess) return;
  key.reset();
  if (osMajorVersion_ == 6) return;
  if (askRestart && askRestart()) runner_.RestartVpnRelatedServices();
}
