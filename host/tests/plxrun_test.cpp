// plxrun, the command-line plug-in runner, run as a child process: what it
// passes, how it prints, and its exit statuses.
#include "childprocess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

ChildRun Plxrun(const std::string &arguments) { return RunTestFolderProgram("plxrun.exe", arguments); }

TEST(Plxrun, PassesEachArgumentAndPrintsEveryElementExactly) {
    struct Value {
        const char *argument;
        double expected;
    };
    const double inf = std::numeric_limits<double>::infinity();
    const Value values[] = {
        {"5", 5},
        {"0.1", 0.1},
        {"-0", -0.0},
        {"-2.5e-3", -2.5e-3},
        {"1.7976931348623157e308", 1.7976931348623157e308},
        {"4.9406564584124654e-324", 4.9406564584124654e-324},
        {"1e999", inf},
        {"inf", inf},
        {"-Infinity", -inf},
        {"NaN", std::nan("")},
    };
    std::string arguments = "echoplugin.dll";
    for (const Value &v : values) arguments += std::string(" ") + v.argument;
    const ChildRun run = Plxrun(arguments);
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), sizeof values / sizeof values[0]) << run.out;
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(values[i].argument);
        const double expected = values[i].expected;
        if (std::isnan(expected)) {
            EXPECT_EQ(lines[i], "nan");
        } else if (std::isinf(expected)) {
            EXPECT_EQ(lines[i], expected > 0 ? "inf" : "-inf");
        } else {
            char *end = nullptr;
            const double printed = std::strtod(lines[i].c_str(), &end);
            EXPECT_EQ(*end, '\0') << lines[i];
            EXPECT_EQ(std::memcmp(&printed, &expected, sizeof printed), 0) << lines[i] << " does not read back";
        }
    }
}

TEST(Plxrun, TakesAPluginPathWithForwardSlashes) {
    std::string folder = TestFolder();
    for (char &c : folder) {
        if (c == '\\') c = '/';
    }
    const ChildRun run = Plxrun("\"" + folder + "echoplugin.dll\" 3");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out, "3\n");
}

TEST(Plxrun, RaisedErrorGoesToStandardErrorWithStatusOne) {
    const ChildRun run = Plxrun("testplugin.dll 1");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "plug-in failed\n");
}

TEST(Plxrun, ResultThatCannotBePrintedGivesStatusOne) {
    // testplugin mode 2 prints a line through the host and stores no result.
    const ChildRun none = Plxrun("testplugin.dll 2");
    EXPECT_EQ(none.exitCode, 1u);
    EXPECT_EQ(none.out, "plug-in says 1\n");
    EXPECT_NE(none.err.find("no result"), std::string::npos) << none.err;

    const ChildRun text = Plxrun("echoplugin.dll");
    EXPECT_EQ(text.exitCode, 1u);
    EXPECT_EQ(text.out, "");
    EXPECT_NE(text.err.find("not a full numeric array"), std::string::npos) << text.err;
}

TEST(Plxrun, CommandLineFaultsGiveStatusTwo) {
    struct Fault {
        const char *arguments;
        const char *message;  // part of what goes to standard error
    };
    const Fault faults[] = {
        {"", "usage: plxrun PLUGIN [ARG ...]"},
        {"echoplugin.dll 5 abc", "argument 2 is not a number: \"abc\""},
        {"echoplugin.dll 5x", "argument 1 is not a number: \"5x\""},
        {"echoplugin.dll \"\"", "argument 1 is not a number: \"\""},
        {"echoplugin.dll nan5", "argument 1 is not a number"},
        {"no-such-plugin.dll 1", "Cannot load the plug-in no-such-plugin.dll"},
        {"libka.dll 1", "does not export plxFunction"},
    };
    for (const Fault &f : faults) {
        SCOPED_TRACE(f.arguments);
        const ChildRun run = Plxrun(f.arguments);
        EXPECT_EQ(run.exitCode, 2u);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(f.message), std::string::npos) << run.err;
    }
}

TEST(Plxrun, HelpPrintsTheUsageAndTheExitStatuses) {
    const ChildRun run = Plxrun("--help");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(run.out.find("usage: plxrun PLUGIN [ARG ...]"), std::string::npos);
    EXPECT_NE(run.out.find("Exit status"), std::string::npos);
}

}  // namespace
