// The scale the program gives itself and hands to its scaled start: the screen's size read back only
// when it is a size this program wrote, and kept from the programs it starts.
#include "ui/ScreenScale.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <optional>

namespace {

// Sets (or, with nullopt, removes) a variable for the test and puts back what was there.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<QByteArray> value)
        : name_(name),
          before_(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
        Set(value);
    }
    ~ScopedVariable() { Set(before_); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void Set(const std::optional<QByteArray>& value) {
        if (value)
            qputenv(name_, *value);
        else
            qunsetenv(name_);
    }
    const char* name_;
    std::optional<QByteArray> before_;
};

TEST(ScreenScale, TheScaledStartReadsBackOnlyASizeItWasHanded) {
    const ScopedVariable scale("QT_SCALE_FACTOR", std::nullopt);
    const ScopedVariable pixels(ui::kScreenPixelsVariable, std::nullopt);
    ui::SetScaleForRestart(2.8125, QSize(3840, 2160));
    EXPECT_EQ(qgetenv("QT_SCALE_FACTOR"), "2.8125");
    EXPECT_EQ(ui::ScreenPixelsFromRestart(), QSize(3840, 2160));

    const char* const bad[] = {"",        "3840",    "3840x",       "x2160",         "0x2160",
                               "3840x-1", "abcxdef", "3840x2160x1", "99999999x2160", "262144x2160"};
    for (const char* value : bad) {
        qputenv(ui::kScreenPixelsVariable, value);
        EXPECT_TRUE(ui::ScreenPixelsFromRestart().isEmpty()) << value;
    }
    // A size without the scale factor is not the program's own restart.
    qputenv(ui::kScreenPixelsVariable, "3840x2160");
    qunsetenv("QT_SCALE_FACTOR");
    EXPECT_TRUE(ui::ScreenPixelsFromRestart().isEmpty());
}

TEST(ScreenScale, ProgramsItStartsGetTheUsersScaleButNotItsOwn) {
    // The user's own scale factor passes on.
    {
        const ScopedVariable scale("QT_SCALE_FACTOR", "1.5");
        const ScopedVariable pixels(ui::kScreenPixelsVariable, std::nullopt);
        EXPECT_EQ(ui::ChildEnvironment().value("QT_SCALE_FACTOR"), "1.5");
    }
    // The one the program gave itself does not, nor the size it handed over; everything else does.
    const ScopedVariable scale("QT_SCALE_FACTOR", std::nullopt);
    const ScopedVariable pixels(ui::kScreenPixelsVariable, std::nullopt);
    const ScopedVariable other("QUELLWAVE_TEST_OTHER", "kept");
    ui::SetScaleForRestart(1.40625, QSize(1920, 1080));
    const QProcessEnvironment child = ui::ChildEnvironment();
    EXPECT_FALSE(child.contains("QT_SCALE_FACTOR"));
    EXPECT_FALSE(child.contains(ui::kScreenPixelsVariable));
    EXPECT_EQ(child.value("QUELLWAVE_TEST_OTHER"), "kept");
}

} // namespace
