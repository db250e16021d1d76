#include "text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace fotexcli {

bool ParseNumbers(const std::string& text, std::vector<std::pair<int, int>>& ranges) {
    ranges.clear();
    size_t start = 0;
    do {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        const std::string part = text.substr(start, end - start);
        const size_t dash = part.find('-', part.find_first_not_of(" \t") + 1);
        int first = 0, last = 0;
        if (!ParseDecimal(part.substr(0, dash), first)) return false;
        last = first;
        if (dash != std::string::npos && !ParseDecimal(part.substr(dash + 1), last)) return false;
        if (first < 1 || last < first) return false;
        ranges.push_back({first, last});
        start = end + 1;
    } while (start <= text.size());
    return true;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool ParseDecimal(const std::string& text, int& value) {
    const std::string t = Trim(text);
    size_t digits = t.empty() || (t[0] != '+' && t[0] != '-') ? 0 : 1;
    if (digits == t.size()) return false;
    for (size_t i = digits; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9') return false;
    errno = 0;
    const long long v = std::strtoll(t.c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

std::string CameraFolderName(const std::string& text) {
    std::string name = "/";
    for (char c : text) {
        if (c == '\\') c = '/';
        if (c != '/' || name.back() != '/') name += c;
    }
    if (name.size() > 1 && name.back() == '/') name.pop_back();
    return name;
}

std::string FolderOfFullName(const std::string& full) {
    size_t start = full.find('\\');
    if (start != std::string::npos) start = full.find('\\', start + 1);
    const size_t leaf = full.rfind('\\');
    if (start == std::string::npos || leaf <= start) return "/";
    return CameraFolderName(full.substr(start, leaf - start));
}

}  // namespace fotexcli
