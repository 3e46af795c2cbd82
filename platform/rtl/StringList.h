// Line lists and comma text.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace rtl {

// Lines split at CR LF, CR or LF; a final line break adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);
// The file's lines; false when it cannot be read.
bool LoadLines(std::string_view path, std::vector<std::string>& lines);

// Comma text: blanks and control characters (codes 1..32) before a field are skipped; a field that
// starts with '"' runs to the next quote that is not doubled ("" stands for one quote, the quotes
// go); any other field ends at a code <= 32 or a comma. After a field, blanks are skipped and one
// comma with the blanks after it. A comma ending the line adds one empty field; two commas with
// only blanks between give an empty field. An unclosed quote runs to the end of the text.
std::vector<std::string> SplitCommaText(std::string_view line);

}  // namespace rtl
