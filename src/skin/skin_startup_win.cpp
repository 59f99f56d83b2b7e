#include "skin/skin_startup_win.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "base/text.h"
#include "skin/skin_registry_win.h"
#include "skin/skin_startup_table.h"

namespace {

void RegisterObjectsAndAttributes(CSkinRegistry& registry) {
  registry.RegisterFont("WindowTitleFont", {-12, FW_BOLD});
  HFONT button = registry.RegisterFont("ButtonFont", {-14, FW_BOLD});
  registry.RegisterObject("CancelButtonFont", button);
  registry.RegisterFont("LinkButtonFont", {-12, FW_NORMAL});
  HFONT underlined = registry.RegisterFont("LinkButtonFontHovered", {-12, FW_NORMAL, true});
  registry.RegisterObject("LinkButtonFontPushed", underlined);
  registry.RegisterFont("DefaultFont", {-12, FW_NORMAL});
  registry.RegisterObject("CtlColorBrush", CreateSolidBrush(RGB(239, 243, 244)));
  registry.RegisterObject("WhiteBrush", CreateSolidBrush(RGB(255, 255, 255)));
  registry.RegisterObject("BlackBrush", CreateSolidBrush(RGB(0, 0, 0)));
  registry.RegisterObject("WhitePen", CreatePen(PS_SOLID, 1, RGB(255, 255, 255)));
  registry.RegisterObject("BlackPen", CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
  registry.RegisterObject("HeaderPanelBackgroundColorBrush", CreateSolidBrush(RGB(255, 255, 255)));
  registry.RegisterObject("HeaderPanelBorderPen", CreatePen(PS_SOLID, 1, RGB(150, 166, 172)));
  registry.RegisterObject("ScrollBarBorderPen", CreatePen(PS_SOLID, 1, RGB(149, 149, 149)));
  registry.RegisterObject("ScrollBarBlockGrayPen", CreatePen(PS_SOLID, 1, RGB(238, 238, 238)));
  registry.RegisterStockObject("NullBrush", GetStockObject(NULL_BRUSH));

  registry.IntAttribute("ButtonTextColor") = RGB(255, 255, 255);
  registry.IntAttribute("CancelButtonTextColor") = RGB(0, 86, 134);
  registry.TextAttribute("LinkButtonAlign") = L"Left";
  registry.IntAttribute("LinkButtonTextColorHovered") = RGB(234, 83, 4);
  registry.IntAttribute("LinkButtonTextColorPushed") = RGB(234, 83, 4);
  // Cursor handles are shared system objects; 32 bits hold them on every Windows we run on.
  registry.IntAttribute("LinkButtonCursor") = static_cast<int32_t>(
      reinterpret_cast<intptr_t>(LoadCursorW(nullptr, IDC_HAND)));
}

std::vector<char> ReadFileBytes(const std::wstring& path) {
  std::ifstream file(WideToAnsi(path), std::ios::binary);
  if (!file) return {};
  return std::vector<char>(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

// Resource ids of the larger sets are those of the 100 % picture, under the types "IMAGE150"
// and "IMAGE200" (the resource script lists them).
void RegisterStartupSkin(CSkinRegistry& registry, HMODULE module) {
  for (const SkinStartupImage& image : SkinStartupImages()) {
    registry.RegisterImage(module, image.resourceId, image.partList);
  }
  RegisterObjectsAndAttributes(registry);
}

void RegisterStartupSkinFromFolder(CSkinRegistry& registry, const std::wstring& artFolder) {
  for (const SkinStartupImage& image : SkinStartupImages()) {
    const std::vector<char> bytes = ReadFileBytes(artFolder + L"\\" + Utf8ToWide(image.file));
    const int32_t index = registry.RegisterImageBytes(bytes.data(), bytes.size(), image.partList);
    if (index < 0) continue;
    for (int32_t percent : kArtworkScales) {
      if (percent == 100) continue;
      const std::vector<char> scaled = ReadFileBytes(
          artFolder + L"\\" + Utf8ToWide(ArtworkFileForScale(image.file, percent)));
      registry.AddImageScale(index, percent, scaled.data(), scaled.size());
    }
  }
  RegisterObjectsAndAttributes(registry);
}
