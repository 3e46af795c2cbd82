// A fresh application per test, with a form class that records its events.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "forms/Forms.h"

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "forms_tests";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<forms::TApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }
    std::unique_ptr<forms::TApplication> app;
};

class TRecordingForm : public forms::TForm {
public:
    TRecordingForm() : forms::TForm("RecordingForm", 300, 200) {}
    std::vector<std::string> events;
    std::vector<uint16_t> keys;
    std::vector<forms::TShiftState> shifts;
    uint16_t consume = 0;  // a key the form takes for itself
    forms::TCloseAction closeAction = forms::TCloseAction::caHide;

protected:
    void FormCreate() override { events.push_back("create"); }
    void FormShow() override { events.push_back("show"); }
    void FormHide() override { events.push_back("hide"); }
    void FormActivate() override { events.push_back("activate"); }
    void FormClose(forms::TCloseAction& action) override {
        events.push_back("close");
        action = closeAction;
    }
    void FormResize() override { events.push_back("resize"); }
    void FormKeyDown(uint16_t& key, forms::TShiftState shift) override {
        keys.push_back(key);
        shifts.push_back(shift);
        if (key == consume) key = 0;
    }
};
