; The installer's own texts; the wizard's standard texts come with the SimpChinese language.

LangString RunProgram ${LANG_SIMPCHINESE} "运行 OrumaVPN"
LangString UninstallShortcut ${LANG_SIMPCHINESE} "卸载 OrumaVPN"
LangString NeedAdministrator ${LANG_SIMPCHINESE} "安装或卸载 OrumaVPN 需要管理员权限。$\r$\n请用鼠标右键点击程序，选择“以管理员身份运行”。"
LangString WaitingForProgram ${LANG_SIMPCHINESE} "正在等待 OrumaVPN 退出 ..."
LangString ProgramStillRunning ${LANG_SIMPCHINESE} "OrumaVPN 正在运行，无法更新或删除它的文件。$\r$\n请在任务栏右下角的 OrumaVPN 图标上点击鼠标右键，选择“退出”，然后点击“重试”。"
LangString ProgramStillRunningAbort ${LANG_SIMPCHINESE} "OrumaVPN 仍在运行，操作已取消。"
LangString RegistrationFailed ${LANG_SIMPCHINESE} "OrumaVPN 的模块安装失败。"
LangString UninstallKeepsSettings ${LANG_SIMPCHINESE} "OrumaVPN 将从以下文件夹中卸载。您的帐号设置和程序数据会保留。"

VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "OrumaVPN"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "OrumaVPN"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "OrumaVPN 安装程序"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "OriginalFilename" "KavrinInstaller.exe"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "Copyright (C) OrumaVPN"
