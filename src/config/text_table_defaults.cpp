// The program's texts. A row is either one literal or a list of pieces, where Of("Key") stands
// for the text that key has when the row is built, so a renamed title carries into every
// message that names it. Rows that use another row's text come after it.
#include "config/text_table_defaults.h"

namespace {

constexpr TextPiece Text(const wchar_t* literal) { return {literal, nullptr}; }
constexpr TextPiece Of(const char* key) { return {nullptr, key}; }

constexpr const wchar_t* kWebSite = L"http://www.orumavpn.com/";

const std::vector<TextRow>& Rows() {
  static const std::vector<TextRow> rows = {
      {"RegisterModulesSuccessfully", {Text(L"OrumaVPN的模块安装成功。")}},
      {"RegisterModulesFailed", {Text(L"OrumaVPN的模块安装失败。或许已经安装过了？")}},
      {"UnregisterModulesSuccessfully", {Text(L"OrumaVPN的模块卸载成功。")}},
      {"UnregisterModulesFailed", {Text(L"OrumaVPN的模块卸载失败。或许已经卸载过了？")}},
      {"OK", {Text(L"确定")}},
      {"Cancel", {Text(L"取消")}},
      {"Login", {Text(L"登录")}},
      {"Connect", {Text(L"连接")}},
      {"Disconnect", {Text(L"断开")}},
      {"Username", {Text(L"用户名")}},
      {"Password", {Text(L"密码")}},
      {"SavePassword", {Text(L"记住密码")}},
      {"ForgotPassword", {Text(L"忘记密码")}},
      {"Ready", {Text(L"就绪")}},
      {"UserRegister", {Text(L"注册")}},
      {"Purchase", {Text(L"购买")}},
      {"FreeTrial", {Text(L"免费试用")}},
      {"GuideHelp", {Text(L"使用帮助")}},
      {"OnlineCustomerSupport", {Text(L"在线客服")}},
      {"YourIP", {Text(L"您的IP")}},
      {"UnknownClientIP", {Text(L"检测中 ...")}},
      {"ExpiredDate", {Text(L"到期")}},
      {"ExpiredDateUnknown", {Text(L"(未登录)")}},
      {"ExpiredDateExpired", {Text(L"(已到期)")}},
      {"VpnConnectedAreYouSureToExit",
       {Text(L"您已经登陆到服务器，确定要断开连接并退出吗？如果只是希望隐藏本窗口，"
             L"请点标题栏上的“最小化”按钮。")}},
      {"CanNotFindFastestServer",
       {Text(L"无法通过服务器检测您的IP地址。请确保您的网络正常可用，或稍后再试。")}},
      {"LoadingNews", {Text(L"正在读取最新消息 ...")}},
      {"VpnAppLoginTitle", {Text(L"OrumaVPN登录")}},
      {"VpnAppAlreadyRunUseTrayIconToActive",
       {Text(L"程序已经运行。您可以在任务栏右下角图标区双击“OrumaVPN”图标显示已经运行的程序。")}},
      {"BlockedOperationIsRunning", {Text(L"OrumaVPN正在执行操作... 请稍候...")}},
      {"LoadingVPNInformation", {Text(L"正在读取加速器信息 ...")}},
      {"NoLoginHost", {Text(L"没有可用的登陆地址。")}},
      {"CannotStartInternetConnection", {Text(L"无法启动下载，可能无法正常联网。")}},
      // Follows the caption "OrumaVPN" directly.
      {"AcceleratedAppSetting", {Text(L" - 程序加速设置")}},
      {"AddAcceleratedAppFileDialogFilter",
       {Text(L"快捷方式或可执行文件(*.lnk;*.exe)|*.lnk;*.exe||")}},
      {"VpnBindForceWSPBind", {Text(L"强制绑定地址")}},
      {"VpnBindUseAsyncMode", {Text(L"使用异步模式")}},
      {"VpnBindIsBroken", {Text(L"加速模块没有正确安装或者已经损坏，无法针对应用程序加速")}},
      {"PleaseInputValidUsername", {Text(L"请输入有效用户名")}},
      {"PreparingLogin", {Text(L"准备登录信息...")}},
      {"LoginIsCancelled", {Text(L"登录被取消")}},
      {"NetworkOrServerErrorToLogin", {Text(L"网络不通，或者服务器返回错误，无法继续登录。")}},
      {"LoginError", {Text(L"登陆出错")}},
      {"VpnConnectionAlreadyExistsCloseFirst", {Text(L"OrumaVPN已经连接过，请先断开原有连接。")}},
      {"DHCPOnVPNDetected",
       {Text(L"检测到您的VPN设备上启用了DHCP。这会造成VPN通信出现错误。"
             L"程序已经自动关闭了加速器VPN设备上的DHCP。请重新连接使新配置生效。")}},
      // The routes that failed are appended, one per line.
      {"CannotModifyFollowingRoutesContinueYesOrNot",
       {Text(L"无法正确修改下列本地路由表，是否继续使用？\r\n")}},
      {"CannotModifyRoutes", {Text(L"无法修改本地路由表，连接已断开")}},
      {"LoginWithCannotModifyAllRoutes", {Text(L"登录成功(部分路由没有修改)")}},
      {"FirstClickConnect",
       {Text(L"登录成功后，程序将自动最小化到任务栏图标区，点击任务栏图标可以重新打开主窗口。"
             L"\n\n本消息只提示一次，下次连接将不再提示。")}},
      {"LoginOKClickToOpenMainWindow", {Text(L"登录成功，点击任务栏图标可以重新打开主窗口")}},
      {"DisconnectedUnexcepted", {Text(L"连接被意外断开")}},
      {"AlreadyDisconnected", {Text(L"已经断开连接")}},
      {"PleaseRebootSystem", {Text(L"重新启动系统有助于解决此问题。")}},
      {"Application", {Text(L"应用程序")}},
      {"ProgramPath", {Text(L"程序路径")}},
      {"DragAppToThisList", {Text(L"请将要加速的程序或其快捷方式拖放到这里")}},
      {"MustBeShortcutOrEXE",
       {Text(L"针对程序加速必须放入有效的快捷方式(.lnk)或可执行文件(.exe)")}},
      {"ChooseVpnPolicy", {Text(L"选择加速方案")}},
      {"VpnServerCategoryChina", {Text(L"中国")}},
      {"VpnServerCategoryAsia", {Text(L"亚洲")}},
      {"VpnServerCategoryUSA", {Text(L"美国")}},
      {"VpnServersInMaintenance", {Text(L"系统维护中，请稍后再试")}},
      {"VpnServersTitle", {Text(L"加速节点")}},
      // A format: the caller puts the round-trip time in place of %d.
      {"VpnServerSpeed_ms", {Text(L"%d 毫秒")}},
      {"VpnServerSpeed_Timeout", {Text(L"超时")}},
      {"VpnServerSpeed_ToBeTested", {Text(L"等待测速")}},
      {"VpnServerSpeed_Testing", {Text(L"正在测速")}},
      {"VpnServerSpeed_Unknown", {Text(L"未知")}},
      {"YouHavenotChosenVpnServer", {Text(L"您没有选择合适的"), Of("VpnServersTitle")}},
      {"ChosenVpnServerHaveNoVpnTypeTryAnother",
       {Text(L"您选择的"), Of("VpnServersTitle"), Text(L"暂时没有提供可用的连接方式，请使用其他的"),
        Of("VpnServersTitle")}},
      {"VpnRoutesTitle", {Text(L"加速方式")}},
      {"YouHavenotChosenVpnRoute", {Text(L"您没有选择合适的"), Of("VpnRoutesTitle")}},
      {"AcceleratorModuleIsNotRegisteredGetFullVersion",
       {Text(L"OrumaVPN的程序加速模块没有安装，无法针对程序加速。请访问"), Text(kWebSite),
        Text(L"下载完整安装包，重新安装OrumaVPN。")}},
      {"VpnRouteForAll", {Text(L"全局加速")}},
      {"VpnRouteForApp", {Text(L"针对程序加速")}},
      {"YouHavenotChosenVpnApp", {Text(L"请选中一个或多个要加速的应用程序（在程序列表中打勾）。")}},
      {"VpnRoutesTipPleaseSelect", {Text(L"请选择一种"), Of("VpnRoutesTitle")}},
      {"VpnRoutesTipForAll",
       {Text(L"对所有程序都启用加速网络，对所有程序都适用，但会造成网络的闪断，"
             L"会对正在运行的游戏、QQ、下载软件等带来影响，如QQ下线，游戏断开等现象。建议使用“"),
        Of("VpnRouteForApp"), Text(L"”方式。")}},
      {"VpnRoutesTipForApp",
       {Text(L"只对您选中的应用程序启用加速网络，其他程序照常联网，不会造成网络闪断。")}},
      {"VpnTypesTitle", {Text(L"连接类型")}},
      {"YouHavenotChosenVpnType", {Text(L"您没有选择合适的"), Of("VpnTypesTitle")}},
      {"RetestSpeed", {Text(L"重新测速")}},
      {"ServerName", {Text(L"节点名称")}},
      {"ServerComment", {Text(L"说明")}},
      {"ServerSpeed", {Text(L"速度")}},
      {"ServerLoad", {Text(L"负载")}},
      {"ApplyingNewConfigurationPleaseWait", {Text(L"正在启用新配置，请稍候……")}},
      {"FirstL2TPTipForceYesOrNo",
       {Text(L"您第一次使用L2TP方式登录，需要重新启动系统做部分初始化工作，否则可能无法正常连接。"
             L"\n\n建议您现在或稍后重新启动您的计算机。如果不重新启动，"
             L"您也可以强制应用新配置，要强制应用吗？")}},
      {"VpnAppWithoutOpenVPNPleaseDownload",
       {Text(L"您的OrumaVPN缺少OpenVPN组件，无法使用OpenVPN方式连接。请访问"), Text(kWebSite),
        Text(L"下载完整版本。")}},
      {"InstallOpenVPNTapTip",
       {Text(L"您需要安装OpenVPN Tap驱动才可以继续登录，点[确定]后安装驱动。"
             L"\n\n【注意】安装过程需要一点时间，可能造成OrumaVPN暂停。请耐心等待。"
             L"\n\n当您看到需要安装驱动的提示窗口后，请允许继续安装。")}},
      {"CannotInstallOpenVPN",
       {Text(L"无法安装OpenVPN驱动程序，只有安装OpenVPN驱动程序后才可以使用OpenVPN功能。")}},
      {"VpnUnknownError", {Text(L"未知错误")}},
      {"VpnUnknownState", {Text(L"未知状态")}},
      {"VpnState", {Text(L"连接状态")}},
      {"VpnErrorMessage", {Text(L"错误信息")}},
      {"VpnErrorDetail", {Text(L"错误代码")}},
      {"GENERAL_VPN_ERROR_SUCCESS", {Text(L"成功")}},
      {"GENERAL_VPN_ERROR_INTERNAL", {Text(L"VPN内部错误")}},
      {"GENERAL_VPN_ERROR_CONNECT", {Text(L"无法连接到服务器")}},
      {"GENERAL_VPN_ERROR_ALREADY_CONNECTED", {Text(L"VPN连接已经建立")}},
      {"GENERAL_VPN_ERROR_GET_GATEWAY", {Text(L"获取网关失败")}},
      {"GENERAL_VPN_ERROR_GET_LOCAL_IP", {Text(L"获取本机IP地址失败")}},
      {"GENERAL_VPN_ERROR_MODIFY_ROUTE", {Text(L"修改路由表失败")}},
      {"GENERAL_VPN_ERROR_START_ROUTE_REQUEST_SERVER", {Text(L"启动路由请求管理器失败")}},
      {"OPEN_VPN_ERROR_EXEC", {Text(L"运行OpenVPN程序失败")}},
      {"OPEN_VPN_ERROR_NO_ADAPTER", {Text(L"没有安装OpenVPN TAP驱动")}},
      {"OPEN_VPN_ERROR_TLS_ERROR", {Text(L"TLS握手失败，请检查系统时间是否正确或证书是否有效")}},
      {"WINDOWS_VPN_ERROR_CREATE", {Text(L"创建连接项失败")}},
      {"WINDOWS_VPN_ERROR_DIAL", {Text(L"启动拨号系统失败")}},
      {"GENERAL_VPN_STATE_DISCONNECT", {Text(L"正在断开连接...")}},
      {"GENERAL_VPN_STATE_DISCONNECTED", {Text(L"连接已关闭")}},
      {"GENERAL_VPN_STATE_START", {Text(L"正在启动VPN...")}},
      {"GENERAL_VPN_STATE_PREPARE", {Text(L"正在准备VPN参数...")}},
      {"GENERAL_VPN_STATE_CONNECT", {Text(L"正在连接...")}},
      {"GENERAL_VPN_STATE_AUTHENTICATE", {Text(L"正在验证用户名和密码...")}},
      {"GENERAL_VPN_STATE_AUTHENTICATED", {Text(L"验证通过")}},
      {"GENERAL_VPN_STATE_CONNECTED", {Text(L"已连接")}},
      {"GENERAL_VPN_STATE_ALL_DONE", {Text(L"登录成功")}},
      {"GENERAL_VPN_STATE_RESTORE_ROUTE", {Text(L"正在恢复路由表...")}},
      {"GENERAL_VPN_STATE_MODIFY_ROUTE", {Text(L"正在修改路由表...")}},
      {"ClientNeedUpdate",
       {Text(L"您的OrumaVPN需要升级。点击确定开始自动升级。\n\n如果自动升级没有成功，请访问"),
        Text(kWebSite), Text(L"下载最新版本。")}},
      {"CanNotUpdateGreenFile",
       {Text(L"无法完成绿色版的升级。\n\n请访问"), Text(kWebSite), Text(L"下载最新版本。")}},
      {"DownloadUpdateCompletedReadyToExecuteUpdateFile",
       {Text(L"已经下载完毕更新文件。点击“确定”后完成升级过程。")}},
      {"DoYouWantToCancelOnlineUpdate", {Text(L"您确定要取消在线升级吗？")}},
      {"ConnectingToOnlineUpdateServer", {Text(L"正在连接到服务器...")}},
      // The formatted download speed follows.
      {"DownloadingUpdateFileSpeed", {Text(L"正在下载更新文件 ... 速度：")}},
      {"VpnAppOnlineUpdateTitle", {Text(L"OrumaVPN 在线升级")}},
      {"CanNotFindDownloadURL_Tip", {Text(L"无法获取升级用的下载地址。")}},
      {"CanNotDownloadFileCorrectly_Tip", {Text(L"下载更新文件出错。")}},
      {"CanNotExecuteUpdateFile_Tip", {Text(L"无法运行更新文件。")}},
      {"UpdateCancelledByUser_Tip",
       {Text(L"您取消了在线升级过程。只有升级到最新版本您才能继续使用我们的服务。")}},
      {"DownloadUpdateFileFailed_Tip", {Text(L"下载更新文件失败。")}},
      {"OnlineUpdateFailureTip",
       {Text(L"您可以重新运行程序进行在线升级，也可以在浏览器中访问"), Text(kWebSite),
        Text(L"获取最新版本。")}},
      // Texts of our own, after the service's list; each team appends here.
      {"OPEN_VPN_ERROR_INVALID_SETTING",
       {Text(L"服务器地址、用户名、密码或代理设置中含有不能使用的字符")}},
      // Under the PPTP button while a safer type is on offer.
      {"PptpIsTheLeastSafeType", {Text(L"安全性最低")}},
      // Route mode 1 is up, but IPv6 could not be kept from going around the tunnel.
      {"VpnIpv6NotGuarded", {Text(L"IPv6 未受保护：支持 IPv6 的网站可能不经加速直接访问")}},
      // Route mode 1 is up, but name lookups could not be kept to the tunnel's resolver.
      {"VpnDnsNotGuarded", {Text(L"DNS 未受保护：域名查询可能不经加速直接发往本地网络的 DNS 服务器")}},
      // Shown once at start when the data folder could not be made the program's own.
      {"DataFolderNotSafeUpdatesPaused",
       {Text(L"OrumaVPN的数据文件夹不安全（可能被其他用户修改过），本次运行不保存任何数据，"
             L"在线升级已暂停。\n\n如需升级，请访问"),
        Text(kWebSite), Text(L"下载最新版本。")}},
      // The program's folder lets other users change its files; the module is not registered.
      {"ModuleFolderNotProtected",
       {Text(L"OrumaVPN所在的文件夹允许其他用户修改，为了安全，模块没有安装。"
             L"请重新运行安装程序，安装到受保护的文件夹中。")}},
      // The tray menu's item that turns reconnecting after a drop on and off.
      {"AutoReconnect", {Text(L"断线自动重连")}},
      // Status line and tray tip while a dropped tunnel is dialled again; %1 is the attempt.
      {"ReconnectingAttempt", {Text(L"正在重新连接（第 %1 次）")}},
      // The balloon when a dropped tunnel is back.
      {"ReconnectedClickToOpenMainWindow", {Text(L"连接已自动恢复，点击这里打开主窗口")}},
      // The tray menu's item that keeps all traffic to the tunnel in route mode 1, also while it
      // is down.
      {"KillSwitch", {Text(L"断网保护")}},
      // Route mode 1 with the kill switch on, but the system's packet filter refused it.
      {"KillSwitchNotOn", {Text(L"断网保护未生效：系统拒绝了过滤规则")}},
      // The tray menu's item that opens the connection log, and the log window's title.
      {"ConnectionLog", {Text(L"连接日志")}},
      // The log window's button: the log's end and the facts support asks for, to the clipboard.
      {"CopyDiagnostics", {Text(L"复制诊断信息")}},
      {"DiagnosticsCopied", {Text(L"诊断信息已复制到剪贴板")}},
      {"CannotCopyDiagnostics", {Text(L"无法复制到剪贴板，请稍后再试")}},
      // The log window when the log has no line yet.
      {"ConnectionLogEmpty", {Text(L"还没有连接日志。")}},
      // The log window when the data folder is not the program's own: no log is kept this run.
      {"ConnectionLogNotKept",
       {Text(L"OrumaVPN的数据文件夹不安全（可能被其他用户修改过），本次运行不保存连接日志。")}},
      // OpenVPN's server refused the user name or password.
      {"OPEN_VPN_ERROR_AUTH_FAILED", {Text(L"用户名或密码错误")}},
      // The OpenVPN program ended while the tunnel was up.
      {"OPEN_VPN_ERROR_CHILD_ENDED", {Text(L"OpenVPN程序意外退出")}},
      // One sentence per common dial-up error, shown after the error's own text: what
      // happened and what to try. Meanings as Microsoft documents its remote access errors.
      {"ErrorAdviceRas619",
       {Text(L"连接未能建立，端口已被关闭：多半是防火墙或路由器拦截了VPN（PPTP需要GRE协议）。"
             L"请检查防火墙，或换一个服务器或隧道类型。")}},
      {"ErrorAdviceRas628",
       {Text(L"连接在完成前被服务器断开：服务器可能繁忙。请稍后重试，或换一个服务器。")}},
      {"ErrorAdviceRas691",
       {Text(L"服务器不接受用户名或密码：请核对用户名和密码，并确认账户仍然有效。")}},
      {"ErrorAdviceRas720",
       {Text(L"无法与服务器协商网络协议：本机的拨号网络组件可能已损坏。"
             L"请重新启动电脑，仍不行就换一个隧道类型。")}},
      {"ErrorAdviceRas734",
       {Text(L"PPP链路控制协议被终止：加密或验证设置与服务器不一致。请换一个隧道类型或服务器。")}},
      {"ErrorAdviceRas800",
       {Text(L"无法建立VPN连接：服务器不可达，或所在网络拦截了此隧道类型。"
             L"请检查网络，换一个服务器或隧道类型。")}},
      {"ErrorAdviceRas807",
       {Text(L"与服务器之间的网络中断：网络延迟过大或服务器已满。请稍后重试，或换一个服务器。")}},
      {"ErrorAdviceRas809",
       {Text(L"服务器没有响应：经UDP 500/4500端口到不了服务器，或所在网络拦截了此隧道类型。"
             L"请换一个服务器或隧道类型。")}},
      {"ErrorAdviceRas812",
       {Text(L"服务器的策略拒绝了连接：验证方式不一致，或账户无权使用该服务器。"
             L"请换一个服务器，仍不行请联系客服。")}},
      {"ErrorAdviceRas868",
       {Text(L"无法解析服务器的名称：请检查网络连接和DNS设置，或换一个服务器。")}},
      {"ErrorAdviceRas789",
       {Text(L"L2TP连接的安全层与服务器协商失败（IPsec设置不一致或被拦截）。请换一个隧道类型。")}},
      // The same for OpenVPN's conditions.
      {"ErrorAdviceOpenVpnAuthFailed",
       {Text(L"服务器拒绝了用户名或密码（AUTH_FAILED）：请核对用户名和密码，并确认账户仍然有效。")}},
      {"ErrorAdviceOpenVpnTls",
       {Text(L"与服务器的TLS握手没有完成：网络拦截了连接、服务器不可达，或系统时间不对。"
             L"请检查系统时间，换一个服务器，或稍后重试。")}},
      {"ErrorAdviceOpenVpnNoAdapter",
       {Text(L"本机没有可用的TAP虚拟网卡：请重新运行安装程序以安装网卡驱动。")}},
      {"ErrorAdviceOpenVpnExec",
       {Text(L"OpenVPN程序无法启动：请重新运行安装程序，或检查杀毒软件是否拦截了它。")}},
  };
  return rows;
}

}  // namespace

std::span<const TextRow> DefaultTextRows() { return Rows(); }
