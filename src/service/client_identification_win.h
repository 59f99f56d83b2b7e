// This machine's identification, asked from its disks, WMI and the adapter list.
#pragma once

#include "service/client_identification.h"

ClientIdentification ComputeSystemClientIdentification(bool queryBios = true);
