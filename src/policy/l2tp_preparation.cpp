#include "policy/l2tp_preparation.h"

void L2tpPreparation::Prepare(const std::function<bool()>& ask_restart) {
  std::unique_ptr<RegistryValueKey> key = registry_.OpenForWriting(kRasManParametersKey);
  if (!key) return;
  if (key->ReadDword(kProhibitIpSecValue) == std::optional<uint32_t>(1)) return;
  if (!key->WriteDword(kProhibitIpSecValue, 1)) return;
  key.reset();
  if (os_major_version_ == 6) return;
  if (ask_restart && ask_restart()) runner_.RestartVpnRelatedServices();
}
