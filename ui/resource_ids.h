// The windows' resources: control and command ids, and the string table with
// each id beside its text.
#pragma once

#include "shell/program.h"

namespace res {

inline constexpr const char* kCaption = kProgramCaption;

// Main window (dialog 110).
inline constexpr int IDD_MAINDLG = 110;
inline constexpr int IDC_BROWSE = 1001;
inline constexpr int IDC_FOLDERS = 1002;
inline constexpr int IDC_REFRESH = 1003;
inline constexpr int IDC_FLASH = 1004;
inline constexpr int IDC_BACKUP = 1005;
inline constexpr int IDC_DEVICES = 1006;
inline constexpr int IDC_STATUSBAR = 1007;
inline constexpr int ID_ADVANCED = 32777;
inline constexpr int ID_HELP = 57670;
inline constexpr int kTimerId = 1;

// Advanced dialog (dialog 111): combo ids; each browse button is one more.
inline constexpr int IDD_ADVANCED = 111;
inline constexpr int IDC_NVITEMFILE = 1010;
inline constexpr int IDC_BATCHFILE = 1012;
inline constexpr int IDC_PROGRAMMER = 1014;
inline constexpr int IDC_BOOTIMAGE = 1016;
inline constexpr int IDC_RAWFILE = 1018;
inline constexpr int IDC_PATCHFILE = 1020;
inline constexpr int IDC_FIREHOSEPROGRAMMER = 1022;
inline constexpr int IDC_FIREHOSEMEMORY = 1024;  // no browse button

// Control texts.
inline constexpr char kBrowseText[] = "浏览...";
inline constexpr char kRefreshText[] = "刷新设备";
inline constexpr char kFlashText[] = "执行刷机";
inline constexpr char kBackupText[] = "备份系统";
inline constexpr char kOptionsMenuText[] = "选项";
inline constexpr char kAdvancedMenuText[] = "高级设置";
inline constexpr char kAdvancedCaption[] = "Advanced";
inline constexpr char kOkText[] = "确定";
inline constexpr char kCancelText[] = "取消";
inline constexpr char kFirehoseMemoryHint[] = "按刷机包 (eMMC 或 UFS)";

// String table.
struct StringEntry {
  int id;
  const char* text;
};
inline constexpr int IDS_COLUMN_INDEX = 130;
inline constexpr int IDS_COLUMN_DEVICE = 131;
inline constexpr int IDS_COLUMN_PROGRESS = 132;
inline constexpr int IDS_COLUMN_TIME = 133;
inline constexpr int IDS_COLUMN_STATUS = 134;
inline constexpr int IDS_ERROR = 150;
inline constexpr int IDS_BUSY = 151;
inline constexpr int IDS_PRESS_REFRESH = 152;
inline constexpr int IDS_SELECT_DEVICE = 153;
inline constexpr int IDS_PRESS_FLASH = 154;
inline constexpr int IDS_RECORDS_NOT_KEPT = 155;
inline constexpr int IDS_BROWSE_TITLE = 160;
inline constexpr int IDS_CLOSE_WHILE_WRITING = 180;
inline constexpr StringEntry kStringTable[] = {
    {IDS_COLUMN_INDEX, "索引号"},
    {IDS_COLUMN_DEVICE, "设备ID"},
    {IDS_COLUMN_PROGRESS, "进度条"},
    {IDS_COLUMN_TIME, "时间"},
    {IDS_COLUMN_STATUS, "状态"},
    {IDS_ERROR, "错误: "},
    {IDS_BUSY, "设备正忙..."},
    {IDS_PRESS_REFRESH, "按刷新设备（或F5）按钮获得可用的设备"},
    {IDS_SELECT_DEVICE, "从第一列选择您要刷机的设备"},
    {IDS_PRESS_FLASH, "按执行刷机或备份系统按钮选择操作"},
    {IDS_RECORDS_NOT_KEPT, "刷机记录未能保存 "},
    {IDS_BROWSE_TITLE, "请选择一个存放设备刷机包的文件夹:"},
    {IDS_CLOSE_WHILE_WRITING, "%1 部设备正在刷机。现在关闭会中断刷机，设备只写了一半。仍要关闭吗？"},
};

// The text of a string id; "" for an id the table does not hold.
inline const char* LoadString(int id) {
  for (const StringEntry& e : kStringTable)
    if (e.id == id) return e.text;
  return "";
}

}  // namespace res
