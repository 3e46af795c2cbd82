// The program's main routine and the hooks that tie the application core to the form layer.
#pragma once

namespace forms {
class TApplication;
}

// The application's window receives the scheduler's messages; Alt+F4 and start-up failures end
// its loop; a refresh run drops the refreshes queued behind it.
void InstallApplicationHooks(forms::TApplication& application);
void RemoveApplicationHooks();

// Creates the windows in their order and runs the message loop until the application ends.
int WinMain();
