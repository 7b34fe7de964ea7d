#pragma once
// The program's command ids and the window toolkit's ids. The program's menus
// use fixed ids (32771 "Input picture", 57603 Save, ...), but the toolkit
// takes ids below 0x7FFF only, so every menu item and accelerator carries the
// toolkit id of this one table and the handlers translate back.
namespace command_table {

/// The toolkit id of a program command id; 0 when the table has none.
int ToWxId(int systemId);
/// The program command id of a toolkit id; 0 when the table has none.
int ToSystemId(int wxId);
/// Toolkit id of recent-file entry n (0 to 3) and back (-1: not one).
int RecentFileWxId(int n);
int RecentFileIndex(int wxId);

}  // namespace command_table
