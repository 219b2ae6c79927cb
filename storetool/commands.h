// The store tool's commands, one group a file: store (store_commands.cpp), cred
// (cred_commands.cpp), catalog (catalog_commands.cpp), launch and status (launch_commands.cpp),
// change (change_command.cpp), agent (agent_command.cpp), record (record_command.cpp). main.cpp
// dispatches by name and answers --help from the same table.
#pragma once

#include <string>
#include <vector>

using Arguments = std::vector<std::wstring>;   // the command's own arguments, after its name

// What a command returns when its arguments are wrong: main then prints its help, exit code 2.
constexpr int kWrongUse = -1;

struct ToolCommand {
    const char* name;
    const char* summary;   // the lines of the general usage, already indented
    const char* help;
    int (*run)(const Arguments& arguments);
};

// Each group's commands, in the order the usage lists them.
const std::vector<ToolCommand>& StoreCommands();
const std::vector<ToolCommand>& CredCommands();
const std::vector<ToolCommand>& CatalogCommands();
const std::vector<ToolCommand>& LaunchCommands();
const std::vector<ToolCommand>& ChangeCommands();
const std::vector<ToolCommand>& AgentCommands();
const std::vector<ToolCommand>& RecordCommands();
const std::vector<ToolCommand>& VersionCommands();   // "--version" (version_command.cpp)

// The message for a store that nobody holds, naming what to start.
extern const char kNotHeld[];
