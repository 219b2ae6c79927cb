// VelnorSSOStore: prepares sign-ons. Puts templates into the session's template store and shows
// what is there, keeps credentials in the user's Credential Manager, launches sign-ons from the
// catalog, and keeps the store open for the logon session.
#include "storetool/commands.h"
#include "storetool/tool_output.h"

#include <fcntl.h>
#include <io.h>

#include <cwchar>

namespace {

const std::vector<const std::vector<ToolCommand>*>& Groups() {
    static const std::vector<const std::vector<ToolCommand>*> groups = {
        &StoreCommands(), &CredCommands(),   &CatalogCommands(), &LaunchCommands(),
        &ChangeCommands(), &AgentCommands(), &RecordCommands(),  &VersionCommands()};
    return groups;
}

std::string Usage() {
    std::string usage =
        "usage: VelnorSSOStore COMMAND [ARGUMENTS]\n"
        "\n"
        "Prepares sign-ons: puts sign-on templates into the template store of this logon session\n"
        "(checked first), keeps their credentials in your Credential Manager, launches them from\n"
        "the catalog, and shows what is there.\n"
        "\n"
        "commands:\n";
    for (const std::vector<ToolCommand>* group : Groups())
        for (const ToolCommand& command : *group) usage += command.summary;
    usage += "\nVelnorSSOStore COMMAND --help tells more about one command.\n";
    return usage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Output goes out as it is: "get > file" must give back the stored text byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (argc < 2 || wcscmp(argv[1], L"--help") == 0 || wcscmp(argv[1], L"help") == 0) {
        Out(Usage());
        return argc < 2 ? 2 : 0;
    }
    const std::string name = Narrow(argv[1]);
    for (const std::vector<ToolCommand>* group : Groups()) {
        for (const ToolCommand& command : *group) {
            if (name != command.name) continue;
            const Arguments arguments(argv + 2, argv + argc);
            for (const std::wstring& argument : arguments)
                if (IsHelpSwitch(argument.c_str())) {
                    Out(command.help);
                    return 0;
                }
            const int result = command.run(arguments);
            if (result != kWrongUse) return result;
            Err(command.help);
            return 2;
        }
    }
    Err("unknown command \"" + name + "\"\n\n" + Usage());
    return 2;
}
