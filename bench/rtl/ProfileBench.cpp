// Reads per second of one key from a settings file of 200 keys (the file is read each time, as the
// profile calls do).
#include "rtl/Files.h"
#include "rtl/Profile.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

namespace {

std::string MakeFile() {
    std::string path = (std::filesystem::temp_directory_path() / "rtl_bench_profile.ini").string();
    std::string text = "; bench settings\r\n";
    for (int s = 0; s < 4; ++s) {
        text += "[Section" + std::to_string(s) + "]\r\n";
        for (int k = 0; k < 50; ++k) text += "Key" + std::to_string(k) + " = value " + std::to_string(s * 50 + k) + "\r\n";
    }
    rtl::WriteWholeFile(path, text);
    return path;
}

void BM_ProfileRead(benchmark::State& state) {
    const std::string file = MakeFile();
    int i = 0;
    for (auto _ : state) {
        int n = i++ % 200;
        std::string section = "SECTION" + std::to_string(n / 50), key = "key" + std::to_string(n % 50);
        benchmark::DoNotOptimize(rtl::GetPrivateProfileString(section, key, "", file));
    }
    state.SetItemsProcessed(state.iterations());
    std::filesystem::remove(file);
}
BENCHMARK(BM_ProfileRead);

void BM_ProfileReadLastKey(benchmark::State& state) {
    const std::string file = MakeFile();
    for (auto _ : state) benchmark::DoNotOptimize(rtl::GetPrivateProfileInt("Section3", "Key49", 0, file));
    state.SetItemsProcessed(state.iterations());
    std::filesystem::remove(file);
}
BENCHMARK(BM_ProfileReadLastKey);

}  // namespace

BENCHMARK_MAIN();
