#include "CliHarness.h"

#include "Platform/Process.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace clitest {

namespace {
std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
} // namespace

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
    return {platform::DecodeExitStatus(raw).Code(), ReadText(out), ReadText(err)};
}

bool Have(const std::string& tool) {
    return platform::DecodeExitStatus(std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()))
               .Code() == 0;
}

} // namespace clitest
