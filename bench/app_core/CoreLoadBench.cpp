// Load times of the program's text files at sizes well beyond the shipped ones: a string table
// of 5,000 lines and a parameter-row file of 500 rows.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "AppStrings.h"
#include "Schedule.h"
#include "UIFile.h"

namespace {

class Folder {
public:
    Folder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "appcorebenchXXXXXX").string();
        dir_ = std::string(mkdtemp(pattern.data())) + "/";
        std::filesystem::create_directory(dir_ + "USR");
        BaseDir = dir_;
    }
    ~Folder() { std::filesystem::remove_all(dir_); }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ + name, std::ios::binary) << text;
    }

private:
    std::string dir_;
};

void StringTableLoad(benchmark::State& state) {
    Folder folder;
    std::string text = "; texts\r\n";
    for (int i = 0; i < 5000; ++i) {
        const std::string t = "\"Text number " + std::to_string(i) + " of the table\"";
        text += "\"KEY_" + std::to_string(i) + "\" " + t + " " + t + " " + t + " " + t + "\r\n";
    }
    folder.Write("USR/AppStr.cfg", text);
    for (auto _ : state) {
        TAppStrings table("USR\\AppStr.cfg");
        benchmark::DoNotOptimize(table.Load());
    }
    state.SetItemsProcessed(state.iterations() * 5000);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(StringTableLoad)->Unit(benchmark::kMillisecond);

void ParameterRowsLoad(benchmark::State& state) {
    Folder folder;
    std::string text = "[PARAMETRI]\r\n";
    char line[128];
    for (int i = 0; i < 500; ++i) {
        if (i == 400) text += "[ZEM]\r\n";
        // Type and address differ from row to row within a section: no duplicate box.
        std::snprintf(line, sizeof line, "%-18s%-11s %-7d %-7s %-4d %-8d %-8d %-8d\r\n",
                      ("ROW " + std::to_string(i)).c_str(), "\xB0" "C", i % 3, i % 2 ? "A" : "I", 0,
                      -400, 1000, (i % 400) / 2);
        text += line;
    }
    folder.Write("USR/UI.csv", text);
    for (auto _ : state) {
        TUIFile file;
        file.SetFile("UI.csv");
        benchmark::DoNotOptimize(file.Load());
    }
    state.SetItemsProcessed(state.iterations() * 500);
}
BENCHMARK(ParameterRowsLoad)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
