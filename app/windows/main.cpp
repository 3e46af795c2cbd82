// The program: start-up before the windows, the windows and the message loop, shutdown after.
#include <exception>

#include "Menu.h"
#include "Schedule.h"
#include "Scheduler.h"
#include "forms/Forms.h"
#include "rtl/Messages.h"

using forms::Application;

namespace {

// The application's standard display of an exception that ends the main routine.
void ShowException(const char* text) { rtl::MessageBox(text, "TELVOX", rtl::MB_OK | rtl::MB_ICONERROR); }

int WinMain() {
    try {
        // The windows, in this order: TMenuForm (the main form), TEditParForm, TNodesUIForm,
        // TTreeUIForm, TMsgUIForm, TDwldUIForm, TLegendForm. After a failed start-up they are not
        // created: they would meet the objects it did not make.
        if (!Application->Terminated()) {
            Application->CreateForm(MenuForm);
        }
        Application->Run();
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    forms::TApplication application(argc, argv);
    AppWindowHandle = application.Handle();
    RequestTerminate = [] { Application->Terminate(); };
    DiscardQueuedRefresh = [] { Application->RemoveQueuedMessages(UM_REFRESH); };

    ScheduleGlobalsInit();
    ScheduleStartup(argc, argv);
    WinMain();
    ScheduleShutdown();
    ScheduleGlobalsExit();

    DiscardQueuedRefresh = nullptr;
    RequestTerminate = nullptr;
    AppWindowHandle = nullptr;
    return 0;
}
