#include "TestKit/QtApplication.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace testkit {
namespace {

struct Steps {
    std::function<void()> setUp, tearDown;
};

// Function-local, so steps added by other files' static initialisers find it whatever the order of
// initialisation.
std::vector<Steps>& AllSteps() {
    static std::vector<Steps> steps;
    return steps;
}

class QtApplicationEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        // ctest sets the platform; this covers running the binary by hand.
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        app_ = std::make_unique<QApplication>(argc_, argv_);
        for (const Steps& steps : AllSteps())
            if (steps.setUp)
                steps.setUp();
    }
    void TearDown() override {
        for (auto it = AllSteps().rbegin(); it != AllSteps().rend(); ++it)
            if (it->tearDown)
                it->tearDown();
        app_.reset();
    }

private:
    int argc_ = 1;
    char name_[16] = "QuellwaveTests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const gEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace

bool AddQtApplicationSteps(std::function<void()> setUp, std::function<void()> tearDown) {
    AllSteps().push_back({std::move(setUp), std::move(tearDown)});
    return true;
}

} // namespace testkit
