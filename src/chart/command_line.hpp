#pragma once

#include <cstdio>
#include <string>

namespace vellumbrook::chart {

// What one run of vellumbrook-chart is asked to do.
struct ChartSettings {
    std::string table = "-";  // "-": standard input
    std::string output;
    std::string title;  // empty: the table's file name
    bool oldestFirst = false;
};

// What the command line asks for: a page, the help or version text, or nothing but the
// error that says why not.
struct ChartCommand {
    enum class Action { chart, help, version, fail };
    Action action = Action::chart;
    ChartSettings settings;
    std::string error;
};

// Reads the command line in the GNU style: long options with "=VALUE" or a separate value,
// -o, "--" before a file name that begins with "-", and "-" for standard input.
ChartCommand readChartCommandLine(int argc, char** argv);

// The whole program: reads the command line, then writes the help, the version or the page.
// Exit status 0, 1 for a table that cannot be charted or a page that cannot be written, 2 for
// a bad command line. Every message is one line on `messages`.
int runChartProgram(int argc, char** argv, std::FILE* out, std::FILE* messages);

}  // namespace vellumbrook::chart
