// Every text the installer shows, in one table shared by the program and
// its tests. UTF-8 source; the texts are Simplified Chinese as users see
// them, character for character.
#pragma once

namespace zarvelo::texts {

// The window and its fixed controls.
inline constexpr wchar_t kTitle[] = L"Zarvelo矢量图CDR插件安装程序";
inline constexpr wchar_t kInfo[] =
    L"支持CorelDRAW设计软件，请确认已安装并至少启动过一次。完成后重启打开软件顶部导航工具栏"
    L"选择“工具-脚本-运行脚本-选择ZarveloVector-运行”，扫码登录使用。";
inline constexpr wchar_t kInfoFontFace[] = L"宋体";
inline constexpr wchar_t kWebsite[] = L"详情访问Zarvelo官网www.zarvelo.com";
inline constexpr wchar_t kTemplateButton[] = L"开始安装插件";

// Start-up.
inline constexpr wchar_t kNoVersionButton[] = L"未检测到CDR版本";
inline constexpr wchar_t kNoVersionStatus[] = L"未检测到CorelDRAW。";
inline constexpr wchar_t kInstallToPrefix[] = L"安装到 ";
inline constexpr wchar_t kFoundOnePrefix[] = L"检测到: ";
inline constexpr wchar_t kFoundManyPrefix[] = L"检测到 ";
inline constexpr wchar_t kFoundManySuffix[] = L" 个版本，请选择安装目标";

// An install attempt.
inline constexpr wchar_t kDownloading[] = L"开始下载...";
inline constexpr wchar_t kDownloadFailedStatus[] = L"下载失败";
inline constexpr wchar_t kDownloadFailedPrefix[] = L"下载失败！错误代码: ";
inline constexpr wchar_t kCheckNetwork[] = L"请检查网络连接";
inline constexpr wchar_t kEmptyStatus[] = L"下载文件为空";
inline constexpr wchar_t kEmptyMessage[] = L"下载失败：文件大小为 0";
inline constexpr wchar_t kInstalling[] = L"下载完成，正在安装...";
inline constexpr wchar_t kInstallFailedStatus[] = L"安装失败";
inline constexpr wchar_t kInstallFailedPrefix[] = L"安装失败！无法写入：";
inline constexpr wchar_t kFileInUse[] = L"文件正被其他程序使用，请关闭 CorelDRAW 后重试。";
inline constexpr wchar_t kInstalled[] = L"完成安装请关闭！重启 CorelDRAW 以加载插件。";
inline constexpr wchar_t kErrorTitle[] = L"错误";
// What a failure's code and a failure of the local disk add to the dialog.
inline constexpr wchar_t kErrorCodePrefix[] = L"错误代码: ";
inline constexpr wchar_t kCheckDiskSpace[] = L"请检查磁盘空间";
inline constexpr wchar_t kCheckTempFolder[] = L"请检查临时文件夹";
inline constexpr wchar_t kCheckSecuritySoftware[] = L"文件被安全软件拦截或隔离，请在安全软件中允许后重试";
inline constexpr wchar_t kCheckSignature[] = L"插件签名校验未通过，已停止安装，请联系我们";

}  // namespace zarvelo::texts
