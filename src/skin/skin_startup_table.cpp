#include "skin/skin_startup_table.h"

#include <cstdlib>
#include <numeric>

#include "resource.h"
#include "skin/skin_scale.h"

namespace {

#define KV_SCROLL_PARTS(P)                                                                  \
  P "LeftUpArrow,0/4,0/5\n" P "LeftUpArrowHovered,1/4,0/5\n" P "LeftUpArrowDown,2/4,0/5\n" \
  P "RightDownArrow,0/4,1/5\n" P "RightDownArrowHovered,1/4,1/5\n"                         \
  P "RightDownArrowDown,2/4,1/5\n" P "ThumbBackground,0/4,2/5\n"                           \
  P "ThumbBackgroundHovered,1/4,2/5\n" P "ThumbBackgroundDown,2/4,2/5\n"                   \
  P "ThumbHandler,0/4,3/5\n" P "ThumbHandlerHovered,1/4,3/5\n"                             \
  P "ThumbHandlerDown,2/4,3/5\n" P "Background,0/4,4/5\n"

constexpr SkinStartupImage kImages[] = {
    {IDR_SKIN_SYSTEM_MINIMIZE, "system_minimize.png", 108, 19, false,
     "SystemButtonMinimize,0/4\nSystemButtonMinimizePushed,2/4\n"
     "SystemButtonMinimizeHovered,1/4\n"},
    {IDR_SKIN_SYSTEM_CLOSE, "system_close.png", 116, 19, false,
     "SystemButtonClose,0/4\nSystemButtonClosePushed,2/4\nSystemButtonCloseHovered,1/4\n"},
    {IDR_SKIN_MAIN_WINDOW, "main_window.jpg", 326, 464, false, "WindowPictureDlgVpnMain\n"},
    {IDR_SKIN_FRAME, "frame.jpg", 339, 71, false,
     "WindowPictureTopLeft,0,0,300,47\nWindowPictureTop,300,0,30,47\n"
     "WindowPictureTopRight,330,0,10,47\nWindowPictureLeft,0,47,9,14\n"
     "WindowPictureRight,325,47,15,14\nWindowPictureBottomLeft,0,60,10,11\n"
     "WindowPictureBottom,14,60,100,11\nWindowPictureBottomRight,325,60,15,11\n"
     "WindowPictureBackground,14,50,5,5\n"},
    {IDR_SKIN_BUTTONS, "buttons.bmp", 352, 56, false,
     "Button,0/4,0/2\nButtonHovered,1/4,0/2\nButtonPushed,2/4,0/2\nButtonDisabled,3/4,0/2\n"
     "CancelButton,0/4,1/2\nCancelButtonHovered,1/4,1/2\nCancelButtonPushed,2/4,1/2\n"
     "CancelButtonDisabled,3/4,1/2\n"},
    {IDR_SKIN_VSCROLL, "vscroll.png", 64, 80, false, KV_SCROLL_PARTS("VScrollBar")},
    {IDR_SKIN_HSCROLL, "hscroll.png", 64, 80, false, KV_SCROLL_PARTS("HScrollBar")},
    {IDR_SKIN_WEB_BUTTONS, "web_buttons.jpg", 165, 250, false,
     "ButtonReg,0/3,0/5\nButtonRegHovered,1/3,0/5\nButtonRegPushed,2/3,0/5\n"
     "ButtonPurchase,0/3,1/5\nButtonPurchaseHovered,1/3,1/5\nButtonPurchasePushed,2/3,1/5\n"
     "ButtonFreeTrial,0/3,2/5\nButtonFreeTrialHovered,1/3,2/5\nButtonFreeTrialPushed,2/3,2/5\n"
     "ButtonHelp,0/3,3/5\nButtonHelpHovered,1/3,3/5\nButtonHelpPushed,2/3,3/5\n"
     "ButtonSupport,0/3,4/5\nButtonSupportHovered,1/3,4/5\nButtonSupportPushed,2/3,4/5\n"},
    {IDR_SKIN_TABS, "tabs.png", 24, 24, false,
     "TabButtonLeftInactive,0/4\nTabButtonMiddleInactive,1/8\nTabButtonRightInactive,1/4\n"
     "TabButtonLeftActive,2/4\nTabButtonMiddleActive,5/8\nTabButtonRightActive,3/4\n"},
    {IDR_SKIN_HEADER_COLUMNS, "header_columns.png", 12, 20, false,
     "HeaderCtrlColumnLeft,0/3\nHeaderCtrlColumnMiddle,1/3\nHeaderCtrlColumnRight,2/3\n"},
    {IDR_SKIN_PANEL_TITLE, "panel_title.png", 9, 27, false,
     "HeaderPanelTitleLeft,0/3\nHeaderPanelTitleMiddle,1/3\nHeaderPanelTitleRight,2/3\n"},
    {IDR_SKIN_CHECK_BOXES, "check_boxes.png", 26, 52, false,
     "CheckBoxChecked,0/2,0/4\nCheckBoxCheckedHovered,0/2,1/4\nCheckBoxCheckedPushed,0/2,2/4\n"
     "CheckBoxCheckedDisabled,0/2,3/4\nCheckBoxUnchecked,1/2,0/4\n"
     "CheckBoxUncheckedHovered,1/2,1/4\nCheckBoxUncheckedPushed,1/2,1/4\n"
     "CheckBoxUncheckedDisabled,1/2,0/4\nCheckBoxIndeterminate,1/2,2/4\n"
     "CheckBoxIndeterminateHovered,1/2,1/4\nCheckBoxIndeterminatePushed,1/2,2/4\n"
     "CheckBoxIndeterminateDisabled,1/2,0/4\n"},
    {IDR_SKIN_RADIO_BOXES, "radio_boxes.png", 48, 24, false,
     "RadioBoxUnchecked,0/4,0/2\nRadioBoxUncheckedHovered,1/4,0/2\n"
     "RadioBoxUncheckedPushed,2/4,0/2\nRadioBoxUncheckedDisabled,3/4,0/2\n"
     "RadioBoxChecked,0/4,1/2\nRadioBoxCheckedHovered,1/4,1/2\nRadioBoxCheckedPushed,2/4,1/2\n"
     "RadioBoxCheckedDisabled,3/4,1/2\n"},
    {IDR_SKIN_FLAGS, "flags.png", 48, 16, true, "FlagChina,0/3\nFlagAsia,1/3\nFlagUSA,2/3\n"},
    {IDR_SKIN_CONNECT_ICONS, "connect_icons.png", 36, 36, true,
     "IconConnect,0/2,0/2\nIconDisconnect,1/2,0/2\nIconConnectDisabled,0/2,1/2\n"
     "IconDisconnectDisabled,1/2,1/2\n"},
    {IDR_SKIN_POLICY_ICONS, "policy_icons.png", 60, 16, true,
     "IconVpnPolicyRoute,0/3\nIconVpnPolicyType,1/3\nIconVpnPolicyRefresh,2/3\n"},
    {IDR_SKIN_TIP_INFO, "tip_info.png", 14, 14, false, "IconTipInfo,0/1\n"},
    {IDR_SKIN_ONLINE_UPDATE, "online_update.png", 36, 36, true, "IconOnlineUpdate,0/1\n"},
    {IDR_SKIN_SPEED_ICONS, "speed_icons.png", 60, 12, true,
     "IconSpeedTestGood,0/5\nIconSpeedTestNormal,1/5\nIconSpeedTestBad,2/5\n"
     "IconSpeedTestTimeout,3/5\nIconSpeedTestTesting,4/5\n"},
};

#undef KV_SCROLL_PARTS

}  // namespace

std::span<const SkinStartupImage> SkinStartupImages() { return kImages; }

std::string ArtworkFileForScale(std::string_view file, int32_t percent) {
  const size_t dot = file.rfind('.');
  const std::string_view stem = file.substr(0, dot);
  std::string_view extension = dot == std::string_view::npos ? "" : file.substr(dot);
  if (extension == ".bmp") extension = ".png";
  return std::string(stem) + "_" + std::to_string(percent) + std::string(extension);
}

ArtworkGrid ArtworkGridOf(std::string_view partList) {
  ArtworkGrid grid;
  size_t start = 0;
  while (start < partList.size()) {
    size_t end = partList.find('\n', start);
    if (end == std::string_view::npos) end = partList.size();
    const std::string_view line = partList.substr(start, end - start);
    start = end + 1;
    // Fields 1 and 2 are x and y; a fraction there is a column or row of a grid.
    size_t field = 0, at = 0;
    while (at <= line.size() && field <= 2) {
      size_t comma = line.find(',', at);
      if (comma == std::string_view::npos) comma = line.size();
      const std::string_view value = line.substr(at, comma - at);
      const size_t slash = value.find('/');
      if (field >= 1 && slash != std::string_view::npos) {
        const int32_t cells = std::atoi(std::string(value.substr(slash + 1)).c_str());
        int32_t& axis = field == 1 ? grid.columns : grid.rows;
        if (cells > 0) axis = std::lcm(axis, cells);
      }
      ++field;
      at = comma + 1;
    }
  }
  return grid;
}

SkinSize ArtworkSizeForScale(const SkinStartupImage& image, int32_t percent) {
  const ArtworkGrid grid = ArtworkGridOf(image.partList);
  return {ArtworkLength(image.width, grid.columns, percent),
          ArtworkLength(image.height, grid.rows, percent)};
}
