// Named integers (colours, flags, cursor handles) and texts that restyle one control, one window
// frame, or - in the skin registry's global set - every control of a style.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

class CSkinAttributes {
 public:
  virtual ~CSkinAttributes() = default;

  // Created as 0 / empty on first use, like indexing a map.
  int32_t& IntAttribute(std::string_view name);
  std::wstring& TextAttribute(std::string_view name);

  const int32_t* FindInt(std::string_view name) const;
  const std::wstring* FindText(std::string_view name) const;

  // name + suffix, then name alone, then `fallback`.
  int32_t FindInt(std::string_view name, std::string_view suffix, int32_t fallback) const;
  std::wstring FindText(std::string_view name, std::string_view suffix,
                        std::wstring_view fallback) const;

  // What a control of style `style` sees: its own name + suffix, its own name, the global
  // style + name + suffix, the global style + name, then `fallback`.
  int32_t ResolveInt(const CSkinAttributes& global, std::string_view style,
                     std::string_view name, std::string_view suffix, int32_t fallback) const;
  std::wstring ResolveText(const CSkinAttributes& global, std::string_view style,
                           std::string_view name, std::string_view suffix,
                           std::wstring_view fallback) const;

 private:
  std::map<std::string, int32_t, std::less<>> ints_;
  std::map<std::string, std::wstring, std::less<>> texts_;
};

// Candidate names in lookup order, the one place that order is written down.
std::string SkinName(std::string_view a, std::string_view b, std::string_view c = {});
