// Small readers of command-line text: whole numbers, lists of numbers, blanks.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace fotexcli {

// Whole numbers are decimal: an optional sign and digits, blanks around them ignored; 010 is ten.
bool ParseDecimal(const std::string& text, int& value);
std::string Trim(const std::string& text);
// Numbers from 1 as gphoto2 takes them: "3", "1-3,7"; each range first to last. False when the
// text is not such a list.
bool ParseNumbers(const std::string& text, std::vector<std::pair<int, int>>& ranges);

// A camera folder as gphoto2 writes it: "/DCIM/100TEST" for "\\DCIM\\100TEST\\" or "//DCIM/100TEST/".
std::string CameraFolderName(const std::string& text);
// The camera folder of an item's full name: "0000\Root\DCIM\IMG_0001" is in "/DCIM" (the
// device's number and the root come first).
std::string FolderOfFullName(const std::string& full);

}  // namespace fotexcli
