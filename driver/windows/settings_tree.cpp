#include "settings_tree.h"

#include <stdio.h>

#include <algorithm>

#include "settings.h"

std::string EscapeBytes(const std::string& bytes) {
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = bytes[i];
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '|') {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

std::string TreePath(const std::string& path) {
    const std::string root = kServicesKey;
    if (path == root) return ".";
    if (path.compare(0, root.size() + 1, root + "\\") == 0) return path.substr(root.size() + 1);
    return path;
}

std::string TreeValue(const std::string& key, const std::string& name, uint32_t type,
                      const std::string& data) {
    char typeText[16];
    snprintf(typeText, sizeof typeText, "%u", static_cast<unsigned>(type));
    return key + "|" + EscapeBytes(name) + "|" + typeText + "|" + EscapeBytes(data);
}

TreeLines SortedTree(TreeLines lines) {
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    return lines;
}
