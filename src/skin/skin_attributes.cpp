#include "skin/skin_attributes.h"

std::string SkinName(std::string_view a, std::string_view b, std::string_view c) {
  std::string name;
  name.reserve(a.size() + b.size() + c.size());
  name.append(a).append(b).append(c);
  return name;
}

int32_t& CSkinAttributes::IntAttribute(std::string_view name) {
  auto it = ints_.find(name);
  if (it == ints_.end()) it = ints_.emplace(std::string(name), 0).first;
  return it->second;
}

std::wstring& CSkinAttributes::TextAttribute(std::string_view name) {
  auto it = texts_.find(name);
  if (it == texts_.end()) it = texts_.emplace(std::string(name), std::wstring()).first;
  return it->second;
}

const int32_t* CSkinAttributes::FindInt(std::string_view name) const {
  const auto it = ints_.find(name);
  return it == ints_.end() ? nullptr : &it->second;
}

const std::wstring* CSkinAttributes::FindText(std::string_view name) const {
  const auto it = texts_.find(name);
  return it == texts_.end() ? nullptr : &it->second;
}

int32_t CSkinAttributes::FindInt(std::string_view name, std::string_view suffix,
                                 int32_t fallback) const {
  if (!suffix.empty()) {
    if (const int32_t* v = FindInt(SkinName(name, suffix))) return *v;
  }
  if (const int32_t* v = FindInt(name)) return *v;
  return fallback;
}

std::wstring CSkinAttributes::FindText(std::string_view name, std::string_view suffix,
                                       std::wstring_view fallback) const {
  if (!suffix.empty()) {
    if (const std::wstring* v = FindText(SkinName(name, suffix))) return *v;
  }
  if (const std::wstring* v = FindText(name)) return *v;
  return std::wstring(fallback);
}

int32_t CSkinAttributes::ResolveInt(const CSkinAttributes& global, std::string_view style,
                                    std::string_view name, std::string_view suffix,
                                    int32_t fallback) const {
  if (const int32_t* v = FindInt(SkinName(name, suffix))) return *v;
  if (const int32_t* v = FindInt(name)) return *v;
  if (const int32_t* v = global.FindInt(SkinName(style, name, suffix))) return *v;
  if (const int32_t* v = global.FindInt(SkinName(style, name))) return *v;
  return fallback;
}

std::wstring CSkinAttributes::ResolveText(const CSkinAttributes& global, std::string_view style,
                                          std::string_view name, std::string_view suffix,
                                          std::wstring_view fallback) const {
  if (const std::wstring* v = FindText(SkinName(name, suffix))) return *v;
  if (const std::wstring* v = FindText(name)) return *v;
  if (const std::wstring* v = global.FindText(SkinName(style, name, suffix))) return *v;
  if (const std::wstring* v = global.FindText(SkinName(style, name))) return *v;
  return std::wstring(fallback);
}
