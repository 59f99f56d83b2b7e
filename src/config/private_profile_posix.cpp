#include "config/native_private_profile.h"

PrivateProfile& SystemPrivateProfile() {
  static NativePrivateProfile profile;
  return profile;
}
