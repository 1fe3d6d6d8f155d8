#pragma once
// 登录时开始监控: an XDG autostart entry ($XDG_CONFIG_HOME/autostart/
// quorvelan.desktop) that starts the program capturing on an address,
// minimised. Written as every file is (export/save_open.h: never through a
// symbolic link), removed when the setting is turned off.
#include <string>
#include <string_view>

#include "export/save_open.h"

// One argument of an Exec key, quoted as desktop files require
// it: in double quotes, with '"', '`', '$' and '\' escaped, the string
// value's own backslash escape applied on top, and '%' doubled. Empty when
// the argument cannot be written (a control character).
std::string DesktopExecArgument(std::string_view argument);
// The whole entry; empty when the program's path cannot be written.
std::string AutostartEntry(std::string_view program, std::string_view address);
std::string AutostartPath();

// Writes the entry for `address`, starting `program`.
SaveResult WriteAutostart(std::string_view program, std::string_view address);
// Removes the entry (a link there is removed, never followed). 0, or the errno.
int RemoveAutostart();
