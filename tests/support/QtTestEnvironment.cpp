// Widgets need a QApplication; the tests draw offscreen so they run without a display, and
// every settings file goes to a temporary folder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>

#include "AppLook.h"

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", config->path().toLocal8Bit());
        // The service journal too: never the user's own.
        qputenv("XDG_DATA_HOME", config->path().toLocal8Bit());
        app = std::make_unique<QApplication>(argc, argv);
        morlen::applyApplicationLook();
    }
    void TearDown() override {
        app.reset();
        config.reset();
    }

private:
    int argc = 1;
    char name[13] = "morlen_tests";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QTemporaryDir> config;
    std::unique_ptr<QApplication> app;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
