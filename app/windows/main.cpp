// The program: start-up before the windows, the windows and the message loop, shutdown after.
#include "Program.h"
#include "Schedule.h"
#include "forms/Forms.h"

int main(int argc, char** argv) {
    forms::TApplication application(argc, argv);
    InstallApplicationHooks(application);
    ScheduleGlobalsInit();
    ScheduleStartup(argc, argv);
    WinMain();
    ScheduleShutdown();
    ScheduleGlobalsExit();
    RemoveApplicationHooks();
    return StartRefused ? 1 : 0;
}
