// Instances of a WMI class as rows of property name and value text.
#pragma once

#include <map>
#include <string>
#include <vector>

using WmiRow = std::map<std::wstring, std::wstring>;

class WmiQuery {
 public:
  virtual ~WmiQuery() = default;
  // False when the query could not be run; rows read before a later failure are kept.
  virtual bool Query(const std::wstring& className, std::vector<WmiRow>* rows) = 0;
};
