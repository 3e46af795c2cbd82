#include "Program.h"

#include <exception>

#include "Dwload.h"
#include "Editpar.h"
#include "Legend.h"
#include "Menu.h"
#include "Msgui.h"
#include "Schedule.h"
#include "Scheduler.h"
#include "Tree.h"
#include "Ui.h"
#include "forms/Forms.h"

using forms::Application;

void InstallApplicationHooks(forms::TApplication& application) {
    AppWindowHandle = application.Handle();
    // The program ends as the menu's own close ends it, which writes the window settings.
    RequestTerminate = [] {
        if (forms::TForm* main = Application->MainForm()) main->Close();
        else Application->Terminate();
    };
    DiscardQueuedRefresh = [] { Application->RemoveQueuedMessages(UM_REFRESH); };
}

void RemoveApplicationHooks() {
    DiscardQueuedRefresh = nullptr;
    RequestTerminate = nullptr;
    AppWindowHandle = nullptr;
}

int WinMain() {
    try {
        // The windows, in this order: TMenuForm (the main form), TEditParForm, TNodesUIForm,
        // TTreeUIForm, TMsgUIForm, TDwldUIForm, TLegendForm. After a failed start-up they are not
        // created: they would meet the objects it did not make.
        if (!Application->Terminated()) {
            Application->CreateForm(MenuForm);
            Application->CreateForm(EditParForm);
            Application->CreateForm(NodesUIForm);
            Application->CreateForm(TreeUIForm);
            Application->CreateForm(MsgUIForm);
            Application->CreateForm(DwldUIForm);
            Application->CreateForm(LegendForm);
        }
        Application->Run();
    } catch (const std::exception& e) {
        Application->ShowException(e.what());
    } catch (...) {
        Application->ShowException("");
    }
    return 0;
}
