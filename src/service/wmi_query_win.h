// WMI queries in the namespace root\cimv2 through COM.
#pragma once

#include "service/wmi_query.h"

class SystemWmiQuery final : public WmiQuery {
 public:
  bool Query(const std::wstring& className, std::vector<WmiRow>* rows) override;
};
