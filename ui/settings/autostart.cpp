#include "ui/settings/autostart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

std::string ConfigHome() {
    // The XDG rule: an absolute $XDG_CONFIG_HOME, else ~/.config.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.config";
}

}  // namespace

std::string DesktopExecArgument(std::string_view argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return {};
        switch (c) {
            case '"':
            case '`':
            case '$':
                // Escaped for the quoting rule, and that backslash once more
                // for the string value's rule, which is applied first.
                quoted += "\\\\";
                quoted += c;
                break;
            case '\\':
                quoted += "\\\\\\\\";
                break;
            case '%':
                quoted += "%%";
                break;
            default:
                quoted += c;
        }
    }
    quoted += '"';
    return quoted;
}

std::string AutostartEntry(std::string_view program, std::string_view address) {
    const std::string exec = DesktopExecArgument(program);
    const std::string where = DesktopExecArgument(address);
    if (exec.empty() || where.empty())
        return {};
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=quorvelan\n"
           "Icon=quorvelan\n"
           "Exec=" +
           exec + " --start " + where +
           " --minimized\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string AutostartPath() {
    return ConfigHome() + "/autostart/quorvelan.desktop";
}

SaveResult WriteAutostart(std::string_view program, std::string_view address) {
    const std::string entry = AutostartEntry(program, address);
    if (entry.empty()) {
        SaveResult r;
        r.kind = SaveResult::kOpenFailed;
        r.error = EINVAL;
        return r;
    }
    const std::string config = ConfigHome();
    // The folders as the XDG rule wants them made: private to the user.
    ::mkdir(config.c_str(), 0700);
    ::mkdir((config + "/autostart").c_str(), 0700);
    return WriteWholeFile(AutostartPath(), entry);
}

int RemoveAutostart() {
    if (::unlink(AutostartPath().c_str()) != 0 && errno != ENOENT)
        return errno;
    return 0;
}
