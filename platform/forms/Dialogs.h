// Message boxes of the platform and the open-file dialog. Both are services that tests replace:
// boxes through rtl::SetMessageBoxHandler, the file dialog through SetOpenDialogHandler.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace forms {

// The box the application installs as rtl's message-box service: a modal box without owner.
int ShowMessageBox(const std::string& text, const std::string& caption, int flags);

// A name as the file system spells it (the bytes that open the file, as TOpenDialog gives them)
// in the windows' code page; a character the code page lacks shows as '?'.
std::string FileNameText(std::string_view name);

class TOpenDialog {
public:
    // "description|pattern" pairs, as "hexadecimal|*.hex".
    std::string Filter;
    // A folder in the system's spelling (".\IN").
    std::string InitialDir;
    // The chosen file in the system's spelling (folders separated by '\').
    std::string FileName;
    // False when the user cancels.
    bool Execute();
};

// The chosen file's path (in the platform's spelling), or nothing when cancelled.
using OpenDialogHandler = std::function<std::optional<std::string>(const TOpenDialog& dialog)>;
// Returns the previous handler; an empty one restores the platform's dialog.
OpenDialogHandler SetOpenDialogHandler(OpenDialogHandler handler);

}  // namespace forms
