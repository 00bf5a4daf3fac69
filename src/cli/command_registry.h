#pragma once
// Each vexel-cli subcommand lives in its own file and registers itself here
// with a static CommandRegistration, so adding a subcommand touches no other
// file.

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace vexel::cli {

// Runs the subcommand after its arguments were parsed; returns the exit status.
using CommandRun = std::function<int()>;

// Declares the subcommand's options on `sub` and returns the function that
// runs it.
using CommandSetup = CommandRun (*)(CLI::App& sub);

struct Command {
    std::string name;
    std::string description;
    CommandSetup setup;
};

std::vector<Command>& commands();

struct CommandRegistration {
    CommandRegistration(const char* name, const char* description, CommandSetup setup) {
        commands().push_back({name, description, setup});
    }
};

}  // namespace vexel::cli
