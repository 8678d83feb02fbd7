#pragma once
// Runs a program to completion with given arguments, standard input and environment, and
// captures its standard output and standard error.

#include <string>
#include <vector>

struct RunResult {
    int status = -1;       // exit status, or 128 + signal number
    std::string out;
    std::string err;
};

// `env` entries are "NAME=value"; the child gets exactly these (a scrubbed environment).
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& input = {}, const std::vector<std::string>& env = {});
