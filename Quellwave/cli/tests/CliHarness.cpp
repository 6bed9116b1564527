#include "CliHarness.h"

#include "Platform/Process.h"

#include <cstdlib>

namespace clitest {

std::string Quote(const std::filesystem::path& path) {
    std::string q = "'";
    for (char c : path.string())
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string CliCommand(const std::vector<std::string>& args) {
    std::string command = Quote(QW_CLI_PATH);
    for (const auto& a : args)
        command += " " + Quote(a);
    return command;
}

RunResult Shell(const std::string& command, const std::filesystem::path& scratch) {
    const auto out = scratch / "cli-stdout", err = scratch / "cli-stderr";
    const int raw = std::system((command + " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null").c_str());
    return {platform::DecodeExitStatus(raw).Code(), testkit::ReadText(out), testkit::ReadText(err)};
}

bool Have(const std::string& tool) {
    return platform::DecodeExitStatus(std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()))
               .Code() == 0;
}

RunResult CliFixture::CliLine(const std::string& args) const {
    return Shell("timeout 120 " + Quote(QW_CLI_PATH) + " " + args);
}

std::string CliFixture::Write(const std::string& name, const testkit::Bytes& bytes) const {
    testkit::WriteBytes(dir_ / name, bytes);
    return (dir_ / name).string();
}

} // namespace clitest
