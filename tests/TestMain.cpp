// Every suite runs in the locale of its environment, as the program does (Qt takes it at start-up),
// so that a run under LC_ALL=it_IT.UTF-8 shows what a user of that locale gets.
#include <gmock/gmock.h>

#include <clocale>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
