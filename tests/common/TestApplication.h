#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <utility>

namespace quillon {

// One QApplication for a whole test program, made before the first widget and ended after the
// last test: left to static destruction at exit it would outlive Qt's own globals (the input
// devices that test events create) and crash.
inline QApplication& TestApplication() {
    static QApplication* app = nullptr;
    if (app == nullptr) {
        static int argc = 1;
        static char name[] = "quillon_tests";
        static char* argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        struct End final : ::testing::Environment {
            void TearDown() override { delete std::exchange(app, nullptr); }
        };
        ::testing::AddGlobalTestEnvironment(new End);
    }
    return *app;
}

} // namespace quillon
