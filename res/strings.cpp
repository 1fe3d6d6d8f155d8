#include "res/strings.h"

#include "res/resource.h"

std::string_view LoadStringGbk(int id) {
    switch (id) {
        case IDS_ABOUTBOX:  // 关于 quorvelan(&A)...
            return "\xB9\xD8\xD3\xDA quorvelan(&A)...";
        case IDP_SOCKETS_INIT_FAILED:  // Windows 通信端口初始化失败。
            return "Windows "
                   "\xCD\xA8\xD0\xC5\xB6\xCB\xBF\xDA\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA1"
                   "\xA3";
        default:
            return {};
    }
}
