// doorphonectl run in-process on a virtual controller, with short waits: its outputs, its exit code and
// the wire log of each run.
#pragma once

#include "cli/doorphonectl.h"
#include "sim/virtual_controller.h"
#include "tests/scratch_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct Cli : ::testing::Test {
    sim::VirtualController controller;
    CliTestHooks hooks;
    std::filesystem::path dir;
    std::string out, err, input;
    bool terminal = false;     // standard input is a terminal
    bool outTerminal = false;  // standard output is one
    bool errTerminal = false;  // standard error is one

    void SetUp() override
    {
        hooks.controller = &controller;
        hooks.settle = std::chrono::milliseconds(0);
        hooks.leaveTimeout = hooks.returnTimeout = std::chrono::seconds(10);
        controller.FirstUnit().SetRebootTimes(std::chrono::milliseconds(20), std::chrono::milliseconds(20));
        dir = MakeScratchDir("doorphonectl");
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string Path(const char* name) { return (dir / name).string(); }

    int Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"doorphonectl", "--simulate", "--wire-log", Path("wire.log")});
        std::istringstream in(input);
        std::ostringstream o, e;
        CliIo io{in, o, e, terminal, errTerminal};
        io.outIsTerminal = outTerminal;
        const int code = DoorphonectlMain(args, io, &hooks);
        out = o.str();
        err = e.str();
        return code;
    }

    // The parameter reports sent so far, each cut to its first `bytes` bytes, as the wire log writes them.
    std::vector<std::string> Sets(std::size_t bytes = 6)
    {
        std::ifstream in(Path("wire.log"));
        std::vector<std::string> sets;
        for (std::string line; std::getline(in, line);) {
            // provision leads each line with the unit it went to
            if (const std::size_t mark = line.find(": "); mark != std::string::npos && line.rfind("SET", 0) != 0) {
                line.erase(0, mark + 2);
            }
            if (line.rfind("SET 03", 0) == 0) {
                sets.push_back(line.substr(0, 3 + 3 * bytes));
            }
        }
        return sets;
    }
    std::string Wire() { return ReadText("wire.log"); }
    std::string ReadText(const char* name)
    {
        std::ifstream in(Path(name));
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void ClearWire() { std::filesystem::remove(Path("wire.log")); }

    void WriteFile(const char* name, const std::string& text) { std::ofstream(Path(name)) << text; }
};
